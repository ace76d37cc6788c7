#include "install/directory_copy.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "core/progress_math.h"
#include "core/text_convert.h"

namespace tavro {

namespace {

// The system's text for a Win32 error code in the ANSI code page, without the line break.
std::string platformMessage(DWORD code) {
    char buffer[1024];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof(buffer), nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) {
        return "error " + std::to_string(code);
    }
    return std::string(buffer, length);
}

// Whether path is a link or junction, by its attributes: this standard library's link test
// cannot tell a link from what it points to, and would walk into a link to a folder.
bool isReparsePoint(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct TreeEntry {
    std::filesystem::path path;
    bool link = false;
};

// Every entry below folder, at any depth, in the order listed; links are listed but never
// descended into (also one that points back up the tree).
template <typename Visit>
void walkTree(const std::filesystem::path& folder, Visit visit) {
    for (auto it = std::filesystem::recursive_directory_iterator(folder);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        TreeEntry entry{it->path(), isReparsePoint(it->path())};
        if (entry.link) {
            it.disable_recursion_pending();
        }
        visit(entry, *it);
    }
}

// Where entry belongs below the copy's root. Normally the weakly canonical forms of both paths
// give it; a link resolves to what it points to, which may lie outside the source or above the
// link, so for a link (and whenever the resolved place is not below the source) the entry's own
// position in the tree is used, and nothing is ever written outside destination.
std::filesystem::path relativePlace(const TreeEntry& entry, const std::filesystem::path& source,
                                    const std::filesystem::path& canonicalSource) {
    if (entry.link) {
        return entry.path.lexically_relative(source);
    }
    std::filesystem::path relative =
        std::filesystem::weakly_canonical(entry.path).lexically_relative(canonicalSource);
    if (relative.empty() || relative.is_absolute() || *relative.begin() == L"..") {
        relative = entry.path.lexically_relative(source);
    }
    return relative;
}

}  // namespace

void countFiles(const std::filesystem::path& folder, std::int32_t& count) {
    if (!std::filesystem::exists(folder)) {
        return;
    }
    walkTree(folder, [&count](const TreeEntry&, const std::filesystem::directory_entry& entry) {
        if (std::filesystem::is_regular_file(entry.status())) {
            ++count;
        }
    });
}

std::vector<std::filesystem::path> regularFilesUnder(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    walkTree(folder, [&](const TreeEntry& listed, const std::filesystem::directory_entry& entry) {
        if (!listed.link && std::filesystem::is_regular_file(entry.status())) {
            files.push_back(listed.path.lexically_relative(folder));
        }
    });
    return files;
}

bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error) {
    return copyDirectoryTree(source, destination, std::move(progress), std::move(log), total,
                             copied, error, PathCheck());
}

bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, const PathCheck& checkPath) {
    // Owned here, so both are released before this returns.
    const InstallCallback progressSink = std::move(progress);
    const LogCallback unusedLog = std::move(log);
    const auto check = [&checkPath](const std::filesystem::path& path) {
        if (checkPath) {
            checkPath(path);
        }
    };
    try {
        check(destination);
        std::filesystem::create_directories(destination);

        // The whole list first, then in path order: every folder before what it holds.
        std::vector<TreeEntry> entries;
        walkTree(source,
                 [&entries](const TreeEntry& entry, const std::filesystem::directory_entry&) {
                     entries.push_back(entry);
                 });
        std::sort(entries.begin(), entries.end(),
                  [](const TreeEntry& a, const TreeEntry& b) { return a.path < b.path; });

        const std::filesystem::path canonicalSource = std::filesystem::weakly_canonical(source);
        for (const TreeEntry& listed : entries) {
            const std::filesystem::path& entry = listed.path;
            const std::filesystem::path target =
                destination / relativePlace(listed, source, canonicalSource);
            check(entry);
            check(target);
            const std::filesystem::file_status status = std::filesystem::status(entry);
            if (std::filesystem::is_directory(status)) {
                std::filesystem::create_directories(target);
                continue;
            }
            if (!std::filesystem::is_regular_file(status)) {
                continue;
            }
            std::filesystem::create_directories(target.parent_path());
            if (!CopyFileW(entry.c_str(), target.c_str(), FALSE)) {
                const DWORD code = GetLastError();
                error = "Copy failed: " + pathToAnsi(entry) + " -> " + pathToAnsi(target) + " : " +
                        platformMessage(code);
                return false;
            }
            ++copied;
            if (progressSink) {
                progressSink(makeInstallState(copied, total));
            }
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
