#include "install/log_file.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "core/log_line.h"
#include "core/win_handles.h"
#include "fs/file_append.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"

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

// Copies from the current position of from to to, at most limit bytes: the log lies where other
// users may write, so a file of any size, sparse or not, may stand in its place.
void copyAtMost(HANDLE from, HANDLE to, std::uint64_t limit) {
    std::vector<char> block(64 * 1024);
    for (std::uint64_t copied = 0; copied < limit;) {
        const DWORD wanted =
            static_cast<DWORD>(std::min<std::uint64_t>(block.size(), limit - copied));
        DWORD read = 0;
        if (!ReadFile(from, block.data(), wanted, &read, nullptr)) {
            throw systemFailure("Rotating the log", GetLastError());
        }
        if (read == 0) {
            return;
        }
        DWORD written = 0;
        if (!WriteFile(to, block.data(), read, &written, nullptr) || written != read) {
            throw systemFailure("Rotating the log", GetLastError());
        }
        copied += read;
    }
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
        rotate(folder, file.get());
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        throw systemFailure("Writing the log", GetLastError());
    }
}

// The full log's lines, at most the rotation limit of them, move to "<name>.1.log" (replacing the
// older one) and the log starts empty again. Done with handles only, by copying and emptying rather
// than renaming: a rename is the one file operation that some platforms carry out by path, where a
// swapped folder would carry it elsewhere.
void LogFile::rotate(const HeldFolder& folder, HANDLE log) {
    const std::wstring older = rotated_.filename().native();
    folder.remove(older);
    const FileHandle copy = folder.createFile(older, GENERIC_WRITE);
    const FileHandle whole =
        folder.openFile(path_.filename().native(), GENERIC_READ | GENERIC_WRITE);
    if (!whole || !sameOpenFile(whole.get(), log)) {
        throw systemFailure("Rotating the log", ERROR_FILE_NOT_FOUND);
    }
    // A log this program wrote holds no more than the rotation limit; a larger one was put there
    // by someone else, and only that much of it is kept.
    copyAtMost(whole.get(), copy.get(), kLogRotationBytes);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(whole.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(whole.get())) {
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
