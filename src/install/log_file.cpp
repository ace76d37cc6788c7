#include "install/log_file.h"

#include <windows.h>

#include <exception>

#include "core/log_line.h"
#include "core/win_handles.h"
#include "install/install_paths.h"
#include "install/link_guard.h"

namespace tavro {

namespace {

LocalTime localNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                     now.wMinute, now.wSecond, now.wMilliseconds};
}

std::filesystem::path rotatedName(const std::filesystem::path& path) {
    std::filesystem::path rotated = path;
    rotated.replace_filename(path.stem().native() + L".1" + path.extension().native());
    return rotated;
}

std::runtime_error systemFailure(const char* what, DWORD code) {
    return std::runtime_error(std::string(what) + " failed with error " + std::to_string(code));
}

}  // namespace

std::filesystem::path logFilePath() {
    return installRoot() / L"Logs" / L"TavroInstaller.log";
}

LogFile::LogFile(std::filesystem::path path)
    : path_(std::move(path)), rotated_(rotatedName(path_)) {}

void LogFile::write(const std::string& text) noexcept {
    try {
        const std::string line = formatLogLine(localNow(), GetCurrentThreadId(), text) + "\r\n";
        std::lock_guard<std::mutex> guard(lock_);
        try {
            append(line);
        } catch (const std::exception& e) {
            if (failure_.empty()) {
                failure_ = e.what();
            }
        }
    } catch (...) {
        // No memory for the line: it is lost, and so is the reason.
    }
}

void LogFile::append(const std::string& line) {
    createDirectoriesRefusingLinks(path_.parent_path());
    refuseLinks(path_);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
        const std::uint64_t size =
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (logNeedsRotation(size, line.size())) {
            rotate();
        }
    }
    // Other writers (the elevated copy, an updater) may append at the same time: each line is
    // one write at the end of the file.
    const FileHandle file(CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw systemFailure("Opening the log", GetLastError());
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        throw systemFailure("Writing the log", GetLastError());
    }
}

void LogFile::rotate() {
    refuseLinks(rotated_);
    if (!MoveFileExW(path_.c_str(), rotated_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        throw systemFailure("Rotating the log", GetLastError());
    }
}

std::string LogFile::failure() const {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

std::string LogFile::boxNote() const {
    const std::string problem = failure();
    if (!problem.empty()) {
        return "\n\nThe log could not be written: " + problem;
    }
    return std::string("\n\nDetails: ") + kLogFileText;
}

}  // namespace tavro
