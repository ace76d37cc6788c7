#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/win_handles.h"

namespace tavro {

// A folder held open by a handle that was checked to be exactly the folder its path names: not a
// link or junction, and reported by the platform at that very place. Everything done inside it
// (opening, creating, renaming and deleting entries) is done relative to the handle, so another
// user who swaps a folder on the way for a link after the check cannot send the step elsewhere:
// what was checked is what is used. Every child opened through it is checked the same way before
// it is returned. Used wherever the elevated program works below a folder that normal users may
// write.
class HeldFolder {
  public:
    HeldFolder() = default;

    // Opens path, an absolute folder path, element by element from its drive down, each element
    // relative to the one above it; with create, missing elements are made. Throws LinkRefused
    // for an element that is a link or leads elsewhere, std::filesystem::filesystem_error for
    // any other failure.
    static HeldFolder open(const std::filesystem::path& path, bool create);

    // A folder held the same way, name being one element or a relative path of several.
    HeldFolder folder(const std::filesystem::path& relative, bool create) const;
    // The same, but an absent folder gives an empty HeldFolder instead of an error.
    HeldFolder existingFolder(const std::filesystem::path& relative) const;

    // A new file, opened with access (plus DELETE and SYNCHRONIZE); fails when the name is taken.
    FileHandle createFile(std::wstring_view name, ACCESS_MASK access) const;
    // An existing file, opened with access (plus SYNCHRONIZE; DELETE only when asked for, so
    // that a holder that shares no deletion does not lock it out) and checked: not a link, at
    // this place, no second hard link. An empty handle when there is no such entry.
    FileHandle openFile(std::wstring_view name, ACCESS_MASK access) const;
    // createFile, or openFile (with access as given) when the name is taken; existed says which.
    FileHandle createOrOpenFile(std::wstring_view name, ACCESS_MASK access, bool& existed) const;
    // openFile for a name that entries() listed with the id listedId: the file opened must have
    // that id, which saves asking the folder again for each file; when it has not, the folder is
    // asked again and the file refused unless it now lists the file opened.
    FileHandle openListedFile(std::wstring_view name, ACCESS_MASK access,
                              std::uint64_t listedId) const;
    // createOrOpenFile for a name that entries() listed with the id listedId: opened first
    // (checked as openListedFile checks), created when it has gone meanwhile.
    FileHandle openOrCreateListedFile(std::wstring_view name, ACCESS_MASK access,
                                      std::uint64_t listedId, bool& existed) const;

    // Gives file, opened through a held folder on the same volume (this one or another, with
    // DELETE access), the name newName in this folder. An entry of that name fails the rename
    // (ERROR_ALREADY_EXISTS) unless replace is set; then it is replaced in one step (a link there
    // is replaced itself, never followed; an open file there cannot be replaced). Windows renames
    // the handle into the held folder without looking up a path. Where the platform renames by
    // path (Wine), the file and this folder are checked to be still where their paths lead the
    // instant before, and the file to be what this folder lists under newName afterwards: a
    // rename that a link swapped in between led elsewhere is moved back and refused
    // (LinkRefused). Use replace only where no other user can plant the target name elsewhere.
    void rename(HANDLE file, std::wstring_view newName, bool replace) const;
    // rename of the entry name of the held folder from (file, opened through it with DELETE
    // access) to newName in this folder, never replacing. Where the platform renames by path
    // (Wine), the host renames instead, relative to both folders' own descriptors
    // (fs/host_rename.h), so no folder swapped for a link can lead it elsewhere; afterwards this
    // folder must list file under newName, or whatever was moved is moved back and the rename
    // refused (LinkRefused). There the handle still reports its old place afterwards: open the
    // entry again by its new name for anything that goes by the handle's place.
    void moveHere(const HeldFolder& from, std::wstring_view name, HANDLE file,
                  std::wstring_view newName) const;
    // moveHere for whatever entry from holds under name, a link included (moved itself, never
    // followed): for moves whose whole path lies in folders this program made and checked. The
    // entry is opened for deletion first, so one another program holds without sharing deletion
    // fails with ERROR_SHARING_VIOLATION, as Windows' rename would. false when there is none.
    bool moveEntryHere(const HeldFolder& from, std::wstring_view name,
                       std::wstring_view newName) const;
    // moveEntryHere for an entry this program made in a folder of its own, which no one else is
    // meant to hold: where the platform renames by path (Wine), the host renames it without
    // opening it (checked by its device and inode before and after), so no holding of it is
    // waited for; elsewhere exactly moveEntryHere.
    bool moveStagedEntryHere(const HeldFolder& from, std::wstring_view name,
                             std::wstring_view newName) const;
    // Deletes the entry name (a file, or an empty folder) if it is what this folder holds under
    // that name; false when there is none. A link is refused, never followed. A file another
    // handle holds sharing deletion goes with its last holder on Windows; under Wine, where the
    // host deletes at once, it is refused as in use and stays.
    bool remove(std::wstring_view name) const;
    struct Entry;
    // remove for an entry of this folder's listing: what is opened under its name must carry the
    // id the listing gave (asked of the folder again only when it does not).
    bool removeListed(const Entry& entry) const;
    // Deletes a file opened through this folder (the handle has DELETE access): exactly that
    // file, wherever its name has gone meanwhile.
    static void removeOpened(HANDLE file, const std::wstring& path);

    struct Entry {
        std::wstring name;
        DWORD attributes = 0;
        std::uint64_t size = 0;
        std::uint64_t id = 0;  // the file id (the same number for an open handle to it)
    };
    // What the folder holds, listed through the handle (without "." and "..").
    std::vector<Entry> entries() const;

    HANDLE get() const { return handle_.get(); }
    explicit operator bool() const { return static_cast<bool>(handle_); }
    // Where the folder is, written as the caller named it (checked against where the platform
    // reports it).
    const std::wstring& path() const { return path_; }
    std::wstring childPath(std::wstring_view name) const;

    // Throws LinkRefused when path() no longer leads to this folder (it was renamed, or swapped
    // for a link).
    void refuseIfMoved() const;

  private:
    HeldFolder(FileHandle handle, std::wstring path);
    HeldFolder child(std::wstring_view name, bool create, bool mayBeAbsent,
                     std::wstring written = {}) const;
    void renameByPath(HANDLE file, std::wstring_view newName, bool replace) const;
    void refuseAsNewName(std::wstring_view newName) const;
    // The entry name opened for deletion (a link itself, never followed), shared with no one when
    // alone; an empty handle when there is none.
    FileHandle openForRemoval(std::wstring_view name, const std::wstring& path,
                              bool alone = false) const;
    // remove, and removeListed with the listing's id.
    bool removeNamed(std::wstring_view name, std::optional<std::uint64_t> listedId) const;
    // Under Wine: the host's deletion of a plain file or an empty folder, checked by inode; false
    // when there is none, nothing when the host cannot (the caller then takes the platform's way).
    std::optional<bool> removeThroughHost(std::wstring_view name, const std::wstring& path) const;
    // Under Wine: the host's rename of a plain file, checked by inode; false when the host cannot
    // (the caller then takes the platform's way).
    bool moveOnHost(const HeldFolder& from, std::wstring_view name,
                    std::wstring_view newName) const;
    [[noreturn]] void refuseHostLanding(const HeldFolder& from, std::wstring_view name,
                                        std::wstring_view newName) const;

    FileHandle handle_;
    std::wstring path_;
};

// Where the platform says an open file or folder is, in comparableForm; empty (with the thread's
// last error set) when it cannot tell.
std::wstring reportedPlaceOf(HANDLE handle);

// Whether two paths name one place (comparableForm, letters compared without case).
bool samePlace(const std::wstring& a, const std::wstring& b);

// Whether two handles are open on one file (the same volume and file id).
bool sameOpenFile(HANDLE a, HANDLE b);

// What the open folder handle folder lists (without "." and ".."), through the handle itself, so
// exactly the folder that was checked; error is the code that ended the listing early, or 0.
std::vector<HeldFolder::Entry> listedEntries(HANDLE folder, DWORD& error);

// Flushes file to the disk; throws std::runtime_error naming what on failure.
void flushToDisk(HANDLE file, const std::string& what);

}  // namespace tavro
