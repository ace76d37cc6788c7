#include "install/log_file.h"

#include <windows.h>

#include <exception>

#include "core/log_line.h"
#include "core/win_handles.h"
#include "install/held_folder.h"
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
    // The path checks name a link the clearest way; the held folder is what keeps a link that
    // appears after them from carrying the line elsewhere.
    refuseLinks(path_.parent_path());
    const HeldFolder folder = HeldFolder::open(path_.parent_path(), true);
    refuseLinks(path_);
    const std::wstring name = path_.filename().native();
    // Other writers (the elevated copy, an updater) may append at the same time: each line is
    // one write at the end of the file.
    constexpr ACCESS_MASK kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    bool existed = false;
    FileHandle file = folder.createOrOpenFile(name, kAppend, existed);
    LARGE_INTEGER size{};
    if (existed && GetFileSizeEx(file.get(), &size) &&
        logNeedsRotation(static_cast<std::uint64_t>(size.QuadPart), line.size())) {
        refuseLinks(rotated_);
        folder.rename(file.get(), rotated_.filename().native(), true);
        file = folder.createOrOpenFile(name, kAppend, existed);
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        throw systemFailure("Writing the log", GetLastError());
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
