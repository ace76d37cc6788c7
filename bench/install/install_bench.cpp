// Install benchmark driver, run under Wine by run.sh. One measurement per process, so that the
// peak working set is that measurement's:
//   install_bench install RELEASE      the install's phases over the unpacked release RELEASE:
//                                      staging it in a fresh protected folder (the expansion's
//                                      stand-in), the copy into the install root with the link
//                                      checks and the record entries, the record, the removal of
//                                      the protected folder
//   install_bench update               the updater's transaction: <root>\Update\Unpacked
//                                      staged, committed over the install root, recorded
//   install_bench plaincopy FROM TO    a plain CopyFileW loop over the tree FROM into TO
//                                      (replacing what is there)
//   install_bench plainremove FOLDER   a plain DeleteFileW / RemoveDirectoryW walk removing FOLDER
//   install_bench engineremove FOLDER  the engine's removal (removeTreeWithoutFollowing) of FOLDER
//   install_bench checkedcopy FROM TO  a plain loop of its own (1 MiB reads) that also asks where
//                                      each opened file is (GetFinalPathNameByHandleW), as every
//                                      checked handle of the copy does: what those checks cost
//   install_bench readhash FOLDER      a plain read of every file under FOLDER with one 1 MiB
//                                      buffer and a SHA-256 of each (CNG)
// Prints "name=value" pairs: seconds per phase, files, peakMiB, and for install and update the
// progress messages the window would have been posted (posts).
// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>
#include <shellapi.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/bcrypt_handles.h"
#include "core/installer_core.h"
#include "core/win_handles.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/directory_copy.h"
#include "install/file_transaction.h"
#include "install/install_record.h"
#include "install/protected_folder.h"
#include "ui/progress_values.h"

namespace {

using Clock = std::chrono::steady_clock;

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Calls visit(path, isFolder) for every entry under folder, folders before what they hold.
template <typename Visit>
bool walk(const std::wstring& folder, Visit& visit) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = folder + L"\\*";
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = folder + L"\\" + name;
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        ok = visit(path, isFolder) && (!isFolder || walk(path, visit));
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

// Copies the tree from into to with CopyFileW, replacing what is there; false with the error
// left in GetLastError.
bool copyTreePlainly(const std::wstring& from, const std::wstring& to, long& files) {
    CreateDirectoryW(to.c_str(), nullptr);
    auto visit = [&](const std::wstring& path, bool isFolder) {
        const std::wstring target = to + path.substr(from.size());
        if (isFolder) {
            return CreateDirectoryW(target.c_str(), nullptr) ||
                   GetLastError() == ERROR_ALREADY_EXISTS;
        }
        ++files;
        return CopyFileW(path.c_str(), target.c_str(), FALSE) != 0;
    };
    return walk(from, visit);
}

int plainCopy(const std::wstring& from, const std::wstring& to) {
    const auto start = Clock::now();
    long files = 0;
    if (!copyTreePlainly(from, to, files)) {
        std::printf("failed: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("seconds=%.3f files=%ld peakMiB=%.1f\n", secondsSince(start), files, peakMiB());
    return 0;
}

// Removes folder and everything in it by path, deepest first.
bool removePlainly(const std::wstring& folder, long& files) {
    std::vector<std::wstring> folders{folder};
    auto visit = [&](const std::wstring& path, bool isFolder) {
        if (isFolder) {
            folders.push_back(path);
            return true;
        }
        ++files;
        return DeleteFileW(path.c_str()) != 0;
    };
    if (!walk(folder, visit)) {
        return false;
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (!RemoveDirectoryW(it->c_str())) {
            return false;
        }
    }
    return true;
}

int plainRemove(const std::wstring& folder) {
    const auto start = Clock::now();
    long files = 0;
    if (!removePlainly(folder, files)) {
        std::printf("failed: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("seconds=%.3f files=%ld peakMiB=%.1f\n", secondsSince(start), files, peakMiB());
    return 0;
}

int engineRemove(const std::wstring& folder) {
    const auto start = Clock::now();
    const std::string refusal = tavro::removeTreeWithoutFollowing(folder);
    if (!refusal.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::printf("failed: %s\n", refusal.c_str());
        return 1;
    }
    std::printf("seconds=%.3f peakMiB=%.1f\n", secondsSince(start), peakMiB());
    return 0;
}

// Where an open handle is, as the checked handles ask; false when it cannot tell.
bool askWhere(HANDLE handle) {
    wchar_t where[MAX_PATH * 2];
    return GetFinalPathNameByHandleW(handle, where, MAX_PATH * 2, 0) != 0;
}

int checkedCopy(const std::wstring& from, const std::wstring& to) {
    const auto start = Clock::now();
    long files = 0;
    std::vector<char> block(1024 * 1024);
    CreateDirectoryW(to.c_str(), nullptr);
    auto visit = [&](const std::wstring& path, bool isFolder) {
        const std::wstring target = to + path.substr(from.size());
        if (isFolder) {
            return CreateDirectoryW(target.c_str(), nullptr) ||
                   GetLastError() == ERROR_ALREADY_EXISTS;
        }
        ++files;
        tavro::FileHandle input(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        tavro::FileHandle output(
            CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        if (!input || !output || !askWhere(input.get()) || !askWhere(output.get())) {
            return false;
        }
        DWORD read = 0;
        DWORD wrote = 0;
        while (
            ReadFile(input.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) &&
            read > 0) {
            if (!WriteFile(output.get(), block.data(), read, &wrote, nullptr)) {
                return false;
            }
        }
        return true;
    };
    if (!walk(from, visit)) {
        std::printf("failed: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("seconds=%.3f files=%ld peakMiB=%.1f\n", secondsSince(start), files, peakMiB());
    return 0;
}

int readHash(const std::wstring& folder) {
    const auto start = Clock::now();
    tavro::BcryptAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        std::printf("failed: no SHA-256\n");
        return 1;
    }
    std::vector<unsigned char> block(1024 * 1024);
    long files = 0;
    auto visit = [&](const std::wstring& path, bool isFolder) {
        if (isFolder) {
            return true;
        }
        ++files;
        tavro::FileHandle input(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        tavro::BcryptHash hash;
        if (!input || !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0,
                                                       nullptr, 0, 0))) {
            return false;
        }
        DWORD read = 0;
        while (
            ReadFile(input.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr) &&
            read > 0) {
            BCryptHashData(hash.get(), block.data(), read, 0);
        }
        unsigned char digest[32];
        return BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0));
    };
    if (!walk(folder, visit)) {
        std::printf("failed: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("seconds=%.3f files=%ld peakMiB=%.1f\n", secondsSince(start), files, peakMiB());
    return 0;
}

// The install's progress as the window's adapter posts it: one message per new whole percent.
struct PostCounter {
    long posts = 0;
    std::int32_t last = -1;
    tavro::InstallCallback sink() {
        return [this](const tavro::InstallState& state) {
            const std::int32_t shown = tavro::installPercentParam(state.percent);
            if (shown != last) {
                last = shown;
                ++posts;
            }
        };
    }
};

// The transaction's phases, as the install and the updater run them.
struct TransactionSeconds {
    double copy = 0;     // staged beside the root
    double commit = 0;   // committed by renames, recorded
    double backups = 0;  // the replaced files and the staging folder removed
};

// The transaction over from; the log's "Putting ... in place" and "Removing the ... replaced
// files" lines part the phases (without the second, nothing was replaced: the commit's time
// holds the staging folder's removal).
bool copyAndRecord(const std::filesystem::path& from, std::int32_t total, PostCounter& posts,
                   TransactionSeconds& seconds) {
    std::string error;
    std::int32_t copied = 0;
    const auto start = Clock::now();
    auto staged = start;
    std::optional<Clock::time_point> removing;
    const tavro::LogCallback marks = [&staged, &removing](const std::string& line) {
        if (line.rfind("Putting ", 0) == 0) {
            staged = Clock::now();
        } else if (line.rfind("Removing the ", 0) == 0) {
            removing = Clock::now();
        }
    };
    if (!tavro::installFilesAsOne(from, posts.sink(), marks, total, copied, error)) {
        std::printf("failed: %s\n", error.c_str());
        return false;
    }
    const auto end = Clock::now();
    const auto between = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    seconds.copy = between(start, staged);
    seconds.commit = between(staged, removing.value_or(end));
    seconds.backups = removing ? between(*removing, end) : 0.0;
    return true;
}

int install(const std::wstring& release) {
    const auto start = Clock::now();
    PostCounter posts;
    double stage = 0;
    TransactionSeconds transaction;
    std::int32_t total = 0;
    std::optional<tavro::ProtectedFolder> scratch;
    scratch.emplace();
    const std::filesystem::path unpacked = scratch->path() / L"Unpacked";
    {
        auto at = Clock::now();
        // The expansion's stand-in: the release's files written into the protected folder.
        long files = 0;
        if (!copyTreePlainly(release, unpacked.native(), files)) {
            std::printf("failed: staging, error %lu\n", GetLastError());
            return 1;
        }
        stage = secondsSince(at);
    }
    tavro::createDirectoriesRefusingLinks(tavro::installRoot());
    tavro::countFiles(unpacked, total);
    if (!copyAndRecord(unpacked, total, posts, transaction)) {
        return 1;
    }
    const auto removalStart = Clock::now();
    scratch.reset();
    const double removal = secondsSince(removalStart);
    std::printf(
        "stage=%.3f copy=%.3f record=%.3f backups=%.3f removal=%.3f whole=%.3f files=%d "
        "posts=%ld peakMiB=%.1f\n",
        stage, transaction.copy, transaction.commit, transaction.backups, removal,
        secondsSince(start), total, posts.posts, peakMiB());
    return 0;
}

int update() {
    const auto start = Clock::now();
    const std::filesystem::path source = tavro::installRoot() / L"Update" / L"Unpacked";
    std::int32_t total = 0;
    tavro::countFiles(source, total);
    PostCounter posts;
    TransactionSeconds transaction;
    if (!copyAndRecord(source, total, posts, transaction)) {
        return 1;
    }
    std::printf("copy=%.3f record=%.3f backups=%.3f whole=%.3f files=%d posts=%ld peakMiB=%.1f\n",
                transaction.copy, transaction.commit, transaction.backups, secondsSince(start),
                total, posts.posts, peakMiB());
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        return 2;
    }
    try {
        const std::wstring command = argc > 1 ? argv[1] : L"";
        if (command == L"install" && argc == 3) {
            return install(argv[2]);
        }
        if (command == L"update" && argc == 2) {
            return update();
        }
        if (command == L"plaincopy" && argc == 4) {
            return plainCopy(argv[2], argv[3]);
        }
        if (command == L"plainremove" && argc == 3) {
            return plainRemove(argv[2]);
        }
        if (command == L"engineremove" && argc == 3) {
            return engineRemove(argv[2]);
        }
        if (command == L"checkedcopy" && argc == 4) {
            return checkedCopy(argv[2], argv[3]);
        }
        if (command == L"readhash" && argc == 3) {
            return readHash(argv[2]);
        }
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: install_bench install RELEASE | update | plaincopy FROM TO | "
                 "plainremove FOLDER | engineremove FOLDER | checkedcopy FROM TO | "
                 "readhash FOLDER\n");
    return 2;
}
