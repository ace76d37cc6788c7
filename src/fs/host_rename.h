#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavro {

// Wine carries a rename out by the paths its handles were opened with, so a folder that another
// user swaps for a link in the instant before can lead it elsewhere. There, and only there, the
// host renames instead: renameat2 relative to the host descriptors of the two held folders,
// which, like Windows, looks up no path but the one name in each folder, and never replaces an
// entry (RENAME_NOREPLACE). name and newName are single names as the folders list them.
//
// The result is the host's error number (0 when renamed), or nothing when the host cannot be
// asked (not under Wine, a build whose compiler cannot make the call, or a folder without a
// descriptor): the caller then renames through the platform.
std::optional<int> renameOnHost(HANDLE fromFolder, std::wstring_view name, HANDLE toFolder,
                                std::wstring_view newName);

// Whether the entry name of the held folder is file itself (the same device and inode), asked of
// the host; nothing when the host cannot be asked.
std::optional<bool> hostEntryIs(HANDLE folder, std::wstring_view name, HANDLE file);

// What the host knows an entry by: its device and inode.
struct HostEntryId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool regularFile = false;
    bool folder = false;
    bool operator==(const HostEntryId&) const = default;
};

// The host's id of the entry name of the held folder itself (a link's own, never followed);
// nothing when the host cannot be asked or has no such entry.
std::optional<HostEntryId> hostEntryId(HANDLE folder, std::wstring_view name);

// Deletes the entry name of the held folder on the host (unlinkat relative to its descriptor: the
// one name in that folder, a link itself never followed), if it still is expected (the same device
// and inode; a folder must be empty). The result is the host's error number (0 when deleted), or
// nothing when the host cannot be asked or the entry is another one now: the caller then deletes
// through the platform, which checks what it opened.
std::optional<int> removeOnHost(HANDLE folder, std::wstring_view name, const HostEntryId& expected);

// Whether the host can be asked at all (under Wine, in a build that can make the calls).
bool hostCanBeAsked();

// Writes everything of the filesystem that holds the folder to the disk (syncfs): where a flush
// per file (FlushFileBuffers) is a separate fsync each, as under Wine, one call does the work of
// many. The host's error number (0 when written), or nothing when the host cannot be asked.
std::optional<int> syncFilesystemOnHost(HANDLE folder);

// The Windows error that stands for a host error number of renameOnHost.
DWORD windowsErrorOfHost(int hostError);

}  // namespace tavro
