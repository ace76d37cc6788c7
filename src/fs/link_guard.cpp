#include "fs/link_guard.h"

#include <windows.h>

#include <cstdint>
#include <system_error>
#include <vector>

#include "core/text_convert.h"
#include "core/unique_resource.h"
#include "core/win_handles.h"
#include "fs/guarded_path.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"

namespace tavro {

namespace {

// Opened for attributes only, which no sharing mode of another opener blocks.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Folders open too; a link at the last element is opened itself, not what it points to.
constexpr DWORD kOpenItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Attributes, link count and kind of an open file, read the cheap way (under Wine
// GetFileInformationByHandle costs over a millisecond: it also asks for the volume).
struct OpenedInfo {
    DWORD attributes = 0;
    DWORD links = 0;
};

bool infoOf(HANDLE handle, OpenedInfo& info) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
        return false;
    }
    info.attributes = tag.FileAttributes;
    info.links = standard.NumberOfLinks;
    return true;
}

// One entry of a folder as its listing shows it.
// The entries of an open folder, listed through the handle itself (so exactly the folder that
// was checked), not by its path; what cannot be listed stays.
std::vector<HeldFolder::Entry> entriesOf(HANDLE folder) {
    DWORD unlisted = 0;
    return listedEntries(folder, unlisted);
}

bool isRealFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens an entry for its removal, itself and never what a link at its name points to. A folder
// that another process holds without delete sharing (or has as its current folder) cannot be
// opened for deletion; it is opened for listing only, so what it holds is still removed and only
// the folder itself stays. deletable tells which of the two the handle allows.
FileHandle openForRemoval(const std::wstring& path, bool listedAsFolder, bool& deletable) {
    const DWORD listing = listedAsFolder ? FILE_LIST_DIRECTORY : 0;
    FileHandle entry(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | listing,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 kOpenItself, nullptr));
    deletable = static_cast<bool>(entry);
    if (!entry && listedAsFolder) {
        entry.reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | listing, kShareAll, nullptr,
                                OPEN_EXISTING, kOpenItself, nullptr));
    }
    return entry;
}

// Deletes path and, for a real folder, everything in it first. The open handle keeps the entry
// from being renamed or replaced meanwhile, the folder is listed and the delete goes through it,
// so exactly the entry that was checked is emptied and deleted. Only a handle that the platform
// reports at another place is refused: every other failure leaves the entry where it is.
void removeEntry(const std::wstring& path, bool listedAsFolder, std::string& refusal) {
    bool deletable = false;
    const FileHandle entry = openForRemoval(path, listedAsFolder, deletable);
    if (!entry) {
        return;  // gone, or cannot be opened: it stays
    }
    // A folder's attributes tell whether it is entered; a file's are not needed (reading them
    // would cost the platform one more round trip per file under Wine).
    OpenedInfo info;
    if (listedAsFolder && !infoOf(entry.get(), info)) {
        return;
    }
    const std::wstring reached = reportedPlaceOf(entry.get());
    if (reached.empty()) {
        return;  // where it is cannot be read: a removal failure, not a link; it stays
    }
    if (!samePlace(path, reached)) {
        // The platform followed a link to open it: deleting would delete what it points to.
        refusal = leadsElsewhereText(pathText(path), pathText(reached));
        return;
    }
    if (listedAsFolder && isRealFolder(info.attributes)) {
        for (const HeldFolder::Entry& child : entriesOf(entry.get())) {
            removeEntry(path + L"\\" + child.name, isRealFolder(child.attributes), refusal);
            if (!refusal.empty()) {
                return;
            }
        }
    }
    if (deletable) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition,
                                   sizeof(disposition));  // what cannot be deleted stays
    }
}

}  // namespace

std::filesystem::path guardedTop() {
    return installRoot().parent_path();
}

std::string linkProblem(const std::filesystem::path& path) {
    const std::vector<std::wstring> chain = guardedChain(guardedTop().native(), path.native());
    for (const std::wstring& element : chain) {
        const DWORD attributes = GetFileAttributesW(element.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return {};  // absent: nothing below it exists yet
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            return reparsePointText(pathText(element));
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && &element == &chain.back()) {
            // An existing file: a link the attributes do not show (the platform may report a
            // link to a file as a plain file) still shows where its open handle really is, and
            // a hard link shows in the link count.
            FileHandle handle(CreateFileW(element.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          OPEN_EXISTING, kOpenItself, nullptr));
            if (!handle) {
                return {};  // the operation itself will meet and report the same failure
            }
            return openedProblem(handle.get(), element, OpenedAs::Anything);
        }
    }
    return {};  // folders all the way (a folder cannot be a hard link)
}

std::string openedProblem(void* handle, const std::wstring& path, OpenedAs expected,
                          OpenedPlace place) {
    OpenedInfo info;
    if (!infoOf(handle, info)) {
        return unresolvedText(pathText(path), GetLastError());
    }
    if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return reparsePointText(pathText(path));
    }
    if (place == OpenedPlace::Ask) {
        const std::wstring reached = reportedPlaceOf(handle);
        if (reached.empty()) {
            return unresolvedText(pathText(path), GetLastError());
        }
        if (!samePlace(path, reached)) {
            return leadsElsewhereText(pathText(path), pathText(reached));
        }
    }
    const bool folder = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (expected == OpenedAs::File && folder) {
        return pathText(path) + " is a folder";
    }
    if (expected != OpenedAs::Folder && !folder && info.links > 1) {
        return hardLinkText(pathText(path), info.links);
    }
    return {};
}

std::string openedFileProblem(void* handle, const std::filesystem::path& path) {
    return openedProblem(handle, path.native(), OpenedAs::Anything);
}

LinkRefused::LinkRefused(const std::string& problem)
    : std::runtime_error("Refusing to write through a link: " + problem), problem_(problem) {}

void refuseLinks(const std::filesystem::path& path) {
    const std::string problem = linkProblem(path);
    if (!problem.empty()) {
        throw LinkRefused(problem);
    }
}

void createDirectoriesRefusingLinks(const std::filesystem::path& folder) {
    refuseLinks(folder);  // names a link the clearest way
    // Each missing element is made relative to the held, checked one above it: a folder swapped
    // for a link after the check above cannot lead the creation elsewhere.
    HeldFolder::open(folder, true);
}

std::string removeTreeWithoutFollowing(const std::filesystem::path& folder) {
    std::string refusal;
    removeEntry(folder.native(), true, refusal);
    return refusal;
}

}  // namespace tavro
