#include "install/directory_copy.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "core/progress_math.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/file_hasher.h"
#include "fs/held_folder.h"

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

constexpr DWORD kCopyBlockBytes = 1024 * 1024;

// What one tree copy carries from folder to folder.
struct CopyRun {
    const InstallCallback& progress;
    const PathCheck& check;
    std::int32_t total = 0;
    std::int32_t& copied;
    std::vector<RecordEntry>* written = nullptr;
    bool flushEach = false;
    // One block and one hash serve every file of the tree.
    std::vector<unsigned char> block = std::vector<unsigned char>(kCopyBlockBytes);
    std::optional<FileHasher> hasher =
        written ? std::optional<FileHasher>(std::in_place) : std::nullopt;
};

// The file ids a held folder's listing gave its entries, by name.
using ListedIds = std::unordered_map<std::wstring, std::uint64_t>;

ListedIds idsOf(const std::vector<HeldFolder::Entry>& entries) {
    ListedIds ids;
    ids.reserve(entries.size());
    for (const HeldFolder::Entry& entry : entries) {
        if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ids.emplace(entry.name, entry.id);
        }
    }
    return ids;
}

// Raised for a file that cannot be copied, with the "Copy failed: ..." text.
struct CopyFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string copyFailedText(const std::wstring& from, const std::wstring& to, DWORD code) {
    return "Copy failed: " + pathToAnsi(from) + " -> " + pathToAnsi(to) + " : " +
           platformMessage(code);
}

bool isFolderLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string recordPath(const std::wstring& relative) {
    std::string name = toUtf8(relative);
    for (char& c : name) {
        c = c == '\\' ? '/' : c;
    }
    return name;
}

// Copies the content of an open source file into an open target from the start, hashing it
// when a record is wanted, and ends the target there (a target made new is empty already).
// Returns the SHA-256 (empty when none was wanted); throws CopyFailure with the platform's
// reason.
std::string copyContent(HANDLE from, HANDLE to, bool targetExisted, CopyRun& run,
                        const std::wstring& fromPath, const std::wstring& toPath,
                        std::uint64_t& size) {
    if (run.hasher) {
        run.hasher->start();
    }
    size = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, run.block.data(), kCopyBlockBytes, &read, nullptr)) {
            throw CopyFailure(copyFailedText(fromPath, toPath, GetLastError()));
        }
        if (read == 0) {
            break;
        }
        DWORD wrote = 0;
        if (!WriteFile(to, run.block.data(), read, &wrote, nullptr) || wrote != read) {
            throw CopyFailure(copyFailedText(fromPath, toPath, GetLastError()));
        }
        if (run.hasher) {
            run.hasher->add(run.block.data(), read);
        }
        size += read;
    }
    if (targetExisted && !SetEndOfFile(to)) {
        throw CopyFailure(copyFailedText(fromPath, toPath, GetLastError()));
    }
    FILETIME written{};
    if (GetFileTime(from, nullptr, nullptr, &written)) {
        SetFileTime(to, nullptr, nullptr, &written);  // as a copy keeps it; cosmetic
    }
    return run.hasher ? run.hasher->finish() : std::string();
}

// The id a listing gave name, or nullptr.
const std::uint64_t* listedId(const ListedIds& ids, const std::wstring& name) {
    const auto found = ids.find(name);
    return found == ids.end() ? nullptr : &found->second;
}

// Runs open; when it fails (the checked handle refused the entry, or the open itself failed,
// as it does on a link to a folder where a file is expected), the path checks run first, so
// that a link is named the way they name it (they throw their own refusal); else the open's
// failure stands. The checks are not run for every file: the checked handles are what keep the
// copy safe, and a path check that passes adds nothing to them.
template <typename Open>
FileHandle openNamingRefusal(Open open, const CopyRun& run, const std::wstring& fromPath,
                             const std::wstring& toPath) {
    try {
        return open();
    } catch (const std::exception&) {
        run.check(fromPath);
        run.check(toPath);
        throw;
    }
}

void copyFile(const HeldFolder& from, const HeldFolder& to, const HeldFolder::Entry& entry,
              const ListedIds& targetIds, const std::wstring& relative, CopyRun& run) {
    const std::wstring& name = entry.name;
    const std::wstring fromPath = from.childPath(name);
    const std::wstring toPath = to.childPath(name);
    const FileHandle source = openNamingRefusal(
        [&] { return from.openListedFile(name, GENERIC_READ, entry.id); }, run, fromPath, toPath);
    if (!source) {
        return;  // gone since it was listed
    }
    FileHandle target;
    bool existed = false;
    try {
        target = openNamingRefusal(
            [&] {
                const std::uint64_t* id = listedId(targetIds, name);
                return id ? to.openOrCreateListedFile(name, GENERIC_READ | GENERIC_WRITE, *id,
                                                      existed)
                          : to.createOrOpenFile(name, GENERIC_READ | GENERIC_WRITE, existed);
            },
            run, fromPath, toPath);
    } catch (const std::filesystem::filesystem_error& e) {
        throw CopyFailure(copyFailedText(fromPath, toPath, static_cast<DWORD>(e.code().value())));
    }
    std::uint64_t size = 0;
    const std::string digest =
        copyContent(source.get(), target.get(), existed, run, fromPath, toPath, size);
    if (run.flushEach && !FlushFileBuffers(target.get())) {
        throw CopyFailure(copyFailedText(fromPath, toPath, GetLastError()));
    }
    ++run.copied;
    if (run.written) {
        run.written->push_back({recordPath(relative), size, digest});
    }
    if (run.progress) {
        run.progress(makeInstallState(run.copied, run.total));
    }
}

void copyFolder(const HeldFolder& from, const HeldFolder& to, const std::wstring& relative,
                CopyRun& run) {
    std::vector<HeldFolder::Entry> entries = from.entries();
    // What the target folder holds, listed once through its held handle: each file opened
    // there is checked against this listing rather than by a listing of its own.
    const ListedIds targetIds = idsOf(to.entries());
    std::sort(
        entries.begin(), entries.end(),
        [](const HeldFolder::Entry& a, const HeldFolder::Entry& b) { return a.name < b.name; });
    for (const HeldFolder::Entry& entry : entries) {
        const std::wstring inner = relative.empty() ? entry.name : relative + L"\\" + entry.name;
        if (isFolderLink(entry.attributes)) {
            // Never entered; a checked copy refuses it, an unchecked one keeps its place empty.
            run.check(from.childPath(entry.name));
            run.check(to.childPath(entry.name));
            to.folder(entry.name, true);
            continue;
        }
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            run.check(from.childPath(entry.name));
            run.check(to.childPath(entry.name));
            copyFolder(from.folder(entry.name, false), to.folder(entry.name, true), inner, run);
            continue;
        }
        copyFile(from, to, entry, targetIds, inner, run);
    }
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
    return copyDirectoryTree(source, destination, std::move(progress), std::move(log), total,
                             copied, error, checkPath, nullptr);
}

bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, const PathCheck& checkPath,
                       std::vector<RecordEntry>* written, bool flushEach) {
    // Owned here, so both are released before this returns.
    const InstallCallback progressSink = std::move(progress);
    const LogCallback unusedLog = std::move(log);
    // The path checks name a link the clearest way ("... is a link or junction"); the held
    // handles are what makes the copy safe when one appears after them.
    const PathCheck check = [&checkPath](const std::filesystem::path& path) {
        if (checkPath) {
            checkPath(path);
        }
    };
    try {
        check(destination);
        const HeldFolder to = HeldFolder::open(destination, true);
        const HeldFolder from = HeldFolder::open(source, false);
        CopyRun run{progressSink, check, total, copied, written, flushEach};
        copyFolder(from, to, std::wstring(), run);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
