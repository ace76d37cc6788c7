#include "fs/held_folder.h"

#include <winternl.h>

#include <cstring>
#include <stdexcept>
#include <system_error>

#include "core/text_convert.h"
#include "fs/guarded_path.h"
#include "fs/host_rename.h"
#include "fs/link_guard.h"

namespace tavro {

namespace {

// NtCreateFile's dispositions and options (the same numbers on every Windows).
constexpr ULONG kOpenExisting = 1;         // FILE_OPEN
constexpr ULONG kCreateNew = 2;            // FILE_CREATE
constexpr ULONG kOpenOrCreate = 3;         // FILE_OPEN_IF
constexpr ULONG kFolderOnly = 0x1;         // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronous = 0x20;       // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kFileOnly = 0x40;          // FILE_NON_DIRECTORY_FILE
constexpr ULONG kBackupIntent = 0x4000;    // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kLinkItself = 0x00200000;  // FILE_OPEN_REPARSE_POINT
constexpr int kRenameInformation = 10;     // FileRenameInformation

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The host's ENOENT from renameOnHost: no entry of that name, as written, where the platform may
// still find one in another case.
constexpr int kNoSuchHostName = 2;

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
using NtSetInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
using RtlNtStatusToDosErrorCall = ULONG(NTAPI*)(NTSTATUS);
using NtQueryDirectoryFileCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                                  PVOID, ULONG, int, BOOLEAN, PUNICODE_STRING,
                                                  BOOLEAN);
constexpr int kIdBothDirectoryInformation = 37;  // FileIdBothDirectoryInformation
using NtQueryInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
constexpr int kInternalInformation = 6;  // FileInternalInformation: the file id

// The native calls that take a folder handle as the root of a name; ntdll is in every process,
// so they are looked up there rather than linked.
struct NativeCalls {
    NtCreateFileCall createFile = nullptr;
    NtSetInformationFileCall setInformation = nullptr;
    RtlNtStatusToDosErrorCall toWin32 = nullptr;
    NtQueryDirectoryFileCall queryDirectory = nullptr;
    NtQueryInformationFileCall queryInformation = nullptr;
};

template <typename Call>
Call lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const NativeCalls& nativeCalls() {
    static const NativeCalls calls = [] {
        NativeCalls found;
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll != nullptr) {
            found.createFile = lookUp<NtCreateFileCall>(ntdll, "NtCreateFile");
            found.setInformation = lookUp<NtSetInformationFileCall>(ntdll, "NtSetInformationFile");
            found.toWin32 = lookUp<RtlNtStatusToDosErrorCall>(ntdll, "RtlNtStatusToDosError");
            found.queryDirectory = lookUp<NtQueryDirectoryFileCall>(ntdll, "NtQueryDirectoryFile");
            found.queryInformation =
                lookUp<NtQueryInformationFileCall>(ntdll, "NtQueryInformationFile");
        }
        return found;
    }();
    if (!calls.createFile || !calls.setInformation || !calls.toWin32 || !calls.queryDirectory ||
        !calls.queryInformation) {
        throw std::runtime_error("The system's native file calls cannot be found");
    }
    return calls;
}

[[noreturn]] void failWith(const std::string& what, const std::wstring& path, DWORD code) {
    throw std::filesystem::filesystem_error(
        what, std::filesystem::path(path),
        std::error_code(static_cast<int>(code), std::system_category()));
}

// One NtCreateFile of name relative to the folder root, never following a link at the name
// itself where the platform can tell. The status is returned; handle is set on success.
NTSTATUS openRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
                      ULONG options, FileHandle& handle, ULONG share = kShareAll) {
    if (name.size() > 32767) {
        return kNameNotFound;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.data());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const NTSTATUS status = nativeCalls().createFile(
        &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | kSynchronous | kLinkItself, nullptr, 0);
    if (status >= 0) {
        handle.reset(opened);
    }
    return status;
}

DWORD win32Code(NTSTATUS status) {
    return nativeCalls().toWin32(status);
}

// The file id of an open file or folder (the number a listing gives it), asked for alone:
// GetFileInformationByHandle, which gives the same number, also asks for the volume, which costs
// up to milliseconds under Wine. false when it cannot be read.
bool internalIdOf(HANDLE handle, std::uint64_t& id) {
    LARGE_INTEGER internal{};
    IO_STATUS_BLOCK io{};
    if (nativeCalls().queryInformation(handle, &io, &internal, sizeof(internal),
                                       kInternalInformation) < 0) {
        return false;
    }
    id = static_cast<std::uint64_t>(internal.QuadPart);
    return true;
}

// The file id under which the folder held by folder lists name, read through a fresh handle to
// that folder (a directory handle keeps the first name it was asked for); false when it lists
// no such entry, lists a link there, or cannot be asked.
bool listedIdOf(HANDLE folder, std::wstring_view name, std::uint64_t& id) {
    FileHandle fresh;
    if (openRelative(folder, L"", FILE_LIST_DIRECTORY, kOpenExisting, kFolderOnly | kBackupIntent,
                     fresh) < 0) {
        return false;
    }
    std::vector<std::uint64_t> buffer(1024);  // 8 KiB, aligned for the record
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name.data());
    mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    mask.MaximumLength = mask.Length;
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        nativeCalls().queryDirectory(fresh.get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                     static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)),
                                     kIdBothDirectoryInformation, TRUE, &mask, TRUE);
    if (status < 0) {
        return false;
    }
    const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());
    id = static_cast<std::uint64_t>(entry->FileId.QuadPart);
    // Wine lists a link under the id of what it leads to, but marks it as a reparse point.
    return (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Whether the opened entry is the one the held folder lists under its name. The platform may
// resolve a name relative to a folder handle by the folder's path after all (Wine does), and
// then open what a link put there while reporting the expected place: the ids tell.
bool listedAs(HANDLE folder, std::wstring_view name, HANDLE opened) {
    std::uint64_t listed = 0;
    std::uint64_t actual = 0;
    return listedIdOf(folder, name, listed) && internalIdOf(opened, actual) && listed == actual;
}

std::string notListedText(const std::wstring& path) {
    return pathText(path) +
           " is not what its folder holds under that name (a link appeared on the way)";
}

void refuseProblem(HANDLE handle, const std::wstring& path, bool file,
                   OpenedPlace place = OpenedPlace::Ask) {
    const std::string problem =
        openedProblem(handle, path, file ? OpenedAs::File : OpenedAs::Folder, place);
    if (!problem.empty()) {
        throw LinkRefused(problem);
    }
}

bool renamesByPath();

// Whether the host vouches that the entry name of folder is the opened handle itself (the same
// device and inode; a link's own, never followed). Asked only where the platform opens by path
// (Wine), where it stands for both the question where the handle is (a round trip to the
// platform's server) and the folder's listing. No answer, or another entry: the platform's own
// checks decide (the host may spell a name otherwise than the platform matches it).
bool hostVouches(HANDLE folder, std::wstring_view name, HANDLE handle) {
    if (!renamesByPath()) {
        return false;
    }
    const std::optional<bool> same = hostEntryIs(folder, name, handle);
    return same && *same;
}

// refuseProblem for an entry made by this open, name in folder.
void refuseMade(HANDLE folder, std::wstring_view name, HANDLE handle, const std::wstring& path) {
    refuseProblem(handle, path, true,
                  hostVouches(folder, name, handle) ? OpenedPlace::Known : OpenedPlace::Ask);
}

// refuseProblem for an entry that existed before it was opened, name in folder: also what was
// opened must be what the folder lists under that name. With the id a listing of folder (taken
// through the held handle) gave, a file that carries it needs no further question; one that does
// not (the entry was replaced since the listing, or a link sent the open elsewhere) is checked
// against the folder again.
void refuseOpened(HANDLE folder, std::wstring_view name, HANDLE handle, const std::wstring& path,
                  bool file, std::optional<std::uint64_t> listedId = std::nullopt) {
    if (hostVouches(folder, name, handle)) {
        refuseProblem(handle, path, file, OpenedPlace::Known);
        return;
    }
    refuseProblem(handle, path, file);
    std::uint64_t actual = 0;
    if (listedId && internalIdOf(handle, actual) && actual == *listedId) {
        return;
    }
    if (!listedAs(folder, name, handle)) {
        throw LinkRefused(notListedText(path));
    }
}

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                      FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
constexpr ACCESS_MASK kFolderReadAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// The drive's root folder ("C:\"), where a walk starts; no one but the system can make a link of
// it.
FileHandle openDriveRoot(const std::wstring& root) {
    FileHandle handle(CreateFileW(root.c_str(), kFolderReadAccess | FILE_ADD_SUBDIRECTORY,
                                  kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    if (!handle) {
        handle.reset(CreateFileW(root.c_str(), kFolderReadAccess, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    if (!handle) {
        failWith("open", root, GetLastError());
    }
    return handle;
}

}  // namespace

std::wstring reportedPlaceOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return comparableForm(path);
        }
        path.resize(length);
    }
}

bool samePlace(const std::wstring& a, const std::wstring& b) {
    const std::wstring x = comparableForm(a);
    const std::wstring y = comparableForm(b);
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

HeldFolder::HeldFolder(FileHandle handle, std::wstring path)
    : handle_(std::move(handle)), path_(std::move(path)) {}

std::wstring HeldFolder::childPath(std::wstring_view name) const {
    std::wstring path = path_;
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    path += name;
    return path;
}

HeldFolder HeldFolder::open(const std::filesystem::path& path, bool create) {
    const std::filesystem::path root = path.root_name();
    if (root.empty() || !path.has_root_directory()) {
        failWith("open", path.native(), ERROR_BAD_PATHNAME);
    }
    // Each element as the path writes it ("C:/Quendrel", "C:/Quendrel/Tavro\\tmp"), so that
    // messages name paths as the caller gave them.
    const std::vector<std::wstring> chain = guardedChain(root.native(), path.native());
    HeldFolder held(openDriveRoot(root.native() + L"\\"), root.native());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        const std::wstring& written = chain[i];
        const std::size_t start = chain[i - 1].size();
        std::wstring_view name(written);
        name.remove_prefix(start);
        while (!name.empty() && (name.front() == L'/' || name.front() == L'\\')) {
            name.remove_prefix(1);
        }
        held = held.child(name, create, false, written);
    }
    return held;
}

HeldFolder HeldFolder::child(std::wstring_view name, bool create, bool mayBeAbsent,
                             std::wstring written) const {
    const std::wstring path = written.empty() ? childPath(name) : std::move(written);
    if (name == L"." || name == L".." || name.find_first_of(L"\\/:") != std::wstring_view::npos) {
        failWith("open", path, ERROR_BAD_PATHNAME);
    }
    FileHandle handle;
    // Opened for what the later steps do inside it; where that is not granted (a folder of
    // another owner), for reading, which is all the walk needs on its way down.
    NTSTATUS status =
        openRelative(handle_.get(), name, kFolderAccess, create ? kOpenOrCreate : kOpenExisting,
                     kFolderOnly | kBackupIntent, handle);
    if (status == static_cast<NTSTATUS>(0xC0000022)) {  // access denied
        status = openRelative(handle_.get(), name, kFolderReadAccess, kOpenExisting,
                              kFolderOnly | kBackupIntent, handle);
    }
    if (status < 0) {
        if (mayBeAbsent && (status == kNameNotFound || status == kPathNotFound)) {
            return {};
        }
        // A link planted where a folder should be can also fail the folder-only open.
        failWith("open", path, win32Code(status));
    }
    refuseOpened(handle_.get(), name, handle.get(), path, false);
    return HeldFolder(std::move(handle), path);
}

HeldFolder HeldFolder::folder(const std::filesystem::path& relative, bool create) const {
    HeldFolder current;
    const HeldFolder* at = this;
    for (const std::filesystem::path& element : relative) {
        if (element.empty() || element == L".") {
            continue;
        }
        current = at->child(element.native(), create, false);
        at = &current;
    }
    if (at == this) {
        failWith("open", path_, ERROR_BAD_PATHNAME);
    }
    return current;
}

HeldFolder HeldFolder::existingFolder(const std::filesystem::path& relative) const {
    HeldFolder current;
    const HeldFolder* at = this;
    for (const std::filesystem::path& element : relative) {
        if (element.empty() || element == L".") {
            continue;
        }
        current = at->child(element.native(), false, true);
        if (!current) {
            return {};
        }
        at = &current;
    }
    return current;
}

FileHandle HeldFolder::createFile(std::wstring_view name, ACCESS_MASK access) const {
    const std::wstring path = childPath(name);
    FileHandle handle;
    const NTSTATUS status =
        openRelative(handle_.get(), name, access | DELETE, kCreateNew, kFileOnly, handle);
    if (status < 0) {
        failWith("create", path, win32Code(status));
    }
    // A new file cannot be a link; what can still show is a folder that was swapped for a link
    // while the file was made (the platform then cannot say where the file is).
    refuseMade(handle_.get(), name, handle.get(), path);
    return handle;
}

FileHandle HeldFolder::openFile(std::wstring_view name, ACCESS_MASK access) const {
    const std::wstring path = childPath(name);
    FileHandle handle;
    const NTSTATUS status =
        openRelative(handle_.get(), name, access, kOpenExisting, kFileOnly, handle);
    if (status == kNameNotFound || status == kPathNotFound) {
        return {};
    }
    if (status < 0) {
        failWith("open", path, win32Code(status));
    }
    refuseOpened(handle_.get(), name, handle.get(), path, true);
    return handle;
}

FileHandle HeldFolder::createOrOpenFile(std::wstring_view name, ACCESS_MASK access,
                                        bool& existed) const {
    // Never "open or create" in one call: on a link whose target is missing that would create
    // the target, wherever it is.
    const std::wstring path = childPath(name);
    FileHandle handle;
    NTSTATUS status =
        openRelative(handle_.get(), name, access | DELETE, kCreateNew, kFileOnly, handle);
    existed = status == kNameCollision;
    if (existed) {
        status = openRelative(handle_.get(), name, access, kOpenExisting, kFileOnly, handle);
    }
    if (status < 0) {
        failWith(existed ? "open" : "create", path, win32Code(status));
    }
    if (existed) {
        refuseOpened(handle_.get(), name, handle.get(), path, true);
    } else {
        refuseMade(handle_.get(), name, handle.get(), path);
    }
    return handle;
}

FileHandle HeldFolder::openListedFile(std::wstring_view name, ACCESS_MASK access,
                                      std::uint64_t listedId) const {
    const std::wstring path = childPath(name);
    FileHandle handle;
    const NTSTATUS status =
        openRelative(handle_.get(), name, access | DELETE, kOpenExisting, kFileOnly, handle);
    if (status == kNameNotFound || status == kPathNotFound) {
        return {};
    }
    if (status < 0) {
        failWith("open", path, win32Code(status));
    }
    refuseOpened(handle_.get(), name, handle.get(), path, true, listedId);
    return handle;
}

FileHandle HeldFolder::openOrCreateListedFile(std::wstring_view name, ACCESS_MASK access,
                                              std::uint64_t listedId, bool& existed) const {
    // Listed, so most likely there: opened first, and created only when it has gone since.
    const std::wstring path = childPath(name);
    FileHandle handle;
    const NTSTATUS status =
        openRelative(handle_.get(), name, access | DELETE, kOpenExisting, kFileOnly, handle);
    if (status == kNameNotFound || status == kPathNotFound) {
        return createOrOpenFile(name, access, existed);
    }
    if (status < 0) {
        failWith("open", path, win32Code(status));
    }
    existed = true;
    refuseOpened(handle_.get(), name, handle.get(), path, true, listedId);
    return handle;
}

bool sameOpenFile(HANDLE a, HANDLE b) {
    FILE_ID_INFO x{};
    FILE_ID_INFO y{};
    if (GetFileInformationByHandleEx(a, FileIdInfo, &x, sizeof(x)) &&
        GetFileInformationByHandleEx(b, FileIdInfo, &y, sizeof(y))) {
        return x.VolumeSerialNumber == y.VolumeSerialNumber &&
               std::memcmp(&x.FileId, &y.FileId, sizeof(x.FileId)) == 0;
    }
    BY_HANDLE_FILE_INFORMATION p{};
    BY_HANDLE_FILE_INFORMATION q{};
    return GetFileInformationByHandle(a, &p) && GetFileInformationByHandle(b, &q) &&
           p.dwVolumeSerialNumber == q.dwVolumeSerialNumber &&
           p.nFileIndexHigh == q.nFileIndexHigh && p.nFileIndexLow == q.nFileIndexLow;
}

void HeldFolder::refuseIfMoved() const {
    const FileHandle atPath(CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!atPath || !sameOpenFile(atPath.get(), handle_.get())) {
        throw LinkRefused(pathText(path_) + " was moved or replaced while it was in use");
    }
}

namespace {

// Whether the platform carries a rename out by the paths its handles were opened with rather
// than through the handles (Wine does; its ntdll exports its version).
bool renamesByPath() {
    static const bool byPath = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return byPath;
}

// One FileRenameInformation call: file gets newName, relative to root when root is set, else
// newName is a whole native path.
NTSTATUS renameRelative(HANDLE file, HANDLE root, std::wstring_view newName, bool replace) {
    struct RenameRecord {
        BOOLEAN replaceIfExists;
        HANDLE rootDirectory;
        ULONG fileNameLength;
        WCHAR fileName[1];
    };
    const std::size_t bytes = sizeof(RenameRecord) + newName.size() * sizeof(wchar_t);
    std::vector<std::uint64_t> storage((bytes + 7) / 8);
    auto* record = reinterpret_cast<RenameRecord*>(storage.data());
    record->replaceIfExists = replace ? TRUE : FALSE;
    record->rootDirectory = root;
    record->fileNameLength = static_cast<ULONG>(newName.size() * sizeof(wchar_t));
    std::memcpy(record->fileName, newName.data(), newName.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    return nativeCalls().setInformation(file, &io, record, static_cast<ULONG>(bytes),
                                        kRenameInformation);
}

// Throws LinkRefused unless the path the platform reports for file (place, as reportedPlaceOf
// gives it) still leads to that very file: a rename by path would otherwise take whatever a
// link put at that path.
void refuseIfNotAt(HANDLE file, const std::wstring& place) {
    const std::wstring path = L"\\\\?\\" + place;
    const FileHandle atPath(
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!atPath || !sameOpenFile(atPath.get(), file)) {
        throw LinkRefused(pathText(place) + " was moved or replaced while it was in use");
    }
}

}  // namespace

void HeldFolder::refuseAsNewName(std::wstring_view newName) const {
    if (newName.empty() || newName == L"." || newName == L".." ||
        newName.find_first_of(L"\\/:") != std::wstring_view::npos) {
        failWith("rename", childPath(newName), ERROR_BAD_PATHNAME);
    }
}

void HeldFolder::moveHere(const HeldFolder& from, std::wstring_view name, HANDLE file,
                          std::wstring_view newName) const {
    refuseAsNewName(newName);
    if (!renamesByPath()) {
        rename(file, newName, false);
        return;
    }
    const std::optional<int> hostError = renameOnHost(from.get(), name, handle_.get(), newName);
    if (!hostError || *hostError == kNoSuchHostName) {
        renameByPath(file, newName, false);
        return;
    }
    if (*hostError != 0) {
        failWith("rename", childPath(newName), windowsErrorOfHost(*hostError));
    }
    const std::optional<bool> landed = hostEntryIs(handle_.get(), newName, file);
    if (landed ? *landed : listedAs(handle_.get(), newName, file)) {
        return;
    }
    refuseHostLanding(from, name, newName);
}

void HeldFolder::refuseHostLanding(const HeldFolder& from, std::wstring_view name,
                                   std::wstring_view newName) const {
    // Another entry had taken the name in from since it was looked at: it goes back where it was.
    const std::optional<int> undone = renameOnHost(handle_.get(), newName, from.get(), name);
    throw LinkRefused(
        pathText(from.childPath(name)) +
        " was replaced while it was in use (a link or another file appeared); " +
        (undone && *undone == 0 ? "it was moved back" : "it could not be moved back"));
}

bool HeldFolder::moveOnHost(const HeldFolder& from, std::wstring_view name,
                            std::wstring_view newName) const {
    // The host is asked for the entry, renames it and is asked again: the same device and inode
    // at the new name, or it goes back. Anything but a plain file (a folder, a link), and a name
    // the host spells otherwise than the platform matches it, take the platform's way instead.
    const std::optional<HostEntryId> before = hostEntryId(from.get(), name);
    const std::optional<int> hostError =
        before && before->regularFile ? renameOnHost(from.get(), name, handle_.get(), newName)
                                      : std::nullopt;
    if (!hostError || *hostError == kNoSuchHostName) {
        return false;
    }
    if (*hostError != 0) {
        failWith("rename", childPath(newName), windowsErrorOfHost(*hostError));
    }
    const std::optional<HostEntryId> after = hostEntryId(handle_.get(), newName);
    if (!after || *after != *before) {
        refuseHostLanding(from, name, newName);
    }
    return true;
}

bool HeldFolder::moveStagedEntryHere(const HeldFolder& from, std::wstring_view name,
                                     std::wstring_view newName) const {
    refuseAsNewName(newName);
    // No handle is opened where the host renames, so no one's holding of it is waited for: the
    // entry is one this program made where nobody else is meant to.
    if (renamesByPath() && moveOnHost(from, name, newName)) {
        return true;
    }
    return moveEntryHere(from, name, newName);
}

bool HeldFolder::moveEntryHere(const HeldFolder& from, std::wstring_view name,
                               std::wstring_view newName) const {
    refuseAsNewName(newName);
    FileHandle entry;
    const NTSTATUS status = openRelative(from.get(), name, DELETE | FILE_READ_ATTRIBUTES,
                                         kOpenExisting, kFileOnly, entry);
    if (status == kNameNotFound || status == kPathNotFound) {
        return false;
    }
    if (status < 0) {
        failWith("open", from.childPath(name), win32Code(status));
    }
    // Opened for deletion, so a holder that does not share it was refused above. Where the host
    // renames, it moves the entry by its name and checks its inode before and after, which asks
    // nothing of the open handle.
    if (renamesByPath() && moveOnHost(from, name, newName)) {
        return true;
    }
    moveHere(from, name, entry.get(), newName);
    return true;
}

void HeldFolder::rename(HANDLE file, std::wstring_view newName, bool replace) const {
    refuseAsNewName(newName);
    if (!renamesByPath()) {
        // Windows renames the file object itself into the folder object itself: no path is
        // looked up on the way, so a link planted anywhere cannot lead the rename elsewhere.
        const NTSTATUS status = renameRelative(file, handle_.get(), newName, replace);
        if (status < 0) {
            failWith("rename", childPath(newName), win32Code(status));
        }
        return;
    }
    renameByPath(file, newName, replace);
}

void HeldFolder::renameByPath(HANDLE file, std::wstring_view newName, bool replace) const {
    // The platform takes the file by the path it was opened with and the folder by its path: both
    // must still lead to what is held, checked the instant before. Afterwards the file must be
    // what this folder lists under newName; a rename that a link swapped in between sent
    // elsewhere (or that took another file of the same name) is moved back and refused.
    const std::wstring from = reportedPlaceOf(file);
    if (from.empty()) {
        throw LinkRefused(pathText(childPath(newName)) +
                          ": the file to be renamed cannot be found where it was opened");
    }
    refuseIfNotAt(file, from);
    refuseIfMoved();
    const NTSTATUS status = renameRelative(file, handle_.get(), newName, replace);
    if (status < 0) {
        refuseIfMoved();  // a rename carried out by path fails when the folder was swapped
        failWith("rename", childPath(newName), win32Code(status));
    }
    if (listedAs(handle_.get(), newName, file)) {
        return;
    }
    // Back to the name it had, by the whole path the platform now reports for it, which is where
    // the rename really put it (the file this handle holds, or the one a link put in its way).
    const std::wstring landed = reportedPlaceOf(file);
    const std::wstring back = L"\\??\\" + from;
    const NTSTATUS undone = landed.empty() ? -1 : renameRelative(file, nullptr, back, false);
    throw LinkRefused(pathText(childPath(newName)) + ": the rename went elsewhere (" +
                      pathText(landed) + "), a link appeared on the way; " +
                      (undone >= 0 ? "it was moved back" : "it could not be moved back"));
}

FileHandle HeldFolder::openForRemoval(std::wstring_view name, const std::wstring& path,
                                      bool alone) const {
    FileHandle handle;
    const NTSTATUS status =
        openRelative(handle_.get(), name, DELETE | FILE_READ_ATTRIBUTES, kOpenExisting,
                     kBackupIntent, handle, alone ? 0 : kShareAll);
    if (status == kNameNotFound || status == kPathNotFound) {
        return FileHandle();
    }
    if (status < 0) {
        failWith("remove", path, win32Code(status));
    }
    return handle;
}

std::optional<bool> HeldFolder::removeThroughHost(std::wstring_view name,
                                                  const std::wstring& path) const {
    // The host deletes the name relative to the held folder, where the platform would delete by
    // the path it opened (looked up again at the close). A file is opened for deletion first with
    // no sharing, so that whoever holds it refuses it: the platform's deletion would leave such a
    // file until the holder lets go (or refuse it, a running program's image on Windows), while
    // the host's would take it at once. The inode is checked before that open and again the
    // instant before the deletion. A link, and a name the host spells otherwise than the
    // platform matches it, take the platform's way.
    const std::optional<HostEntryId> before = hostEntryId(handle_.get(), name);
    if (!before || !(before->regularFile || before->folder)) {
        return std::nullopt;
    }
    if (!openForRemoval(name, path, before->regularFile)) {
        return false;
    }
    const std::optional<int> hostError = removeOnHost(handle_.get(), name, *before);
    if (!hostError) {
        return std::nullopt;  // another entry took the name meanwhile: the platform checks it
    }
    if (*hostError == kNoSuchHostName) {
        return false;
    }
    if (*hostError != 0) {
        failWith("remove", path, windowsErrorOfHost(*hostError));
    }
    return true;
}

bool HeldFolder::remove(std::wstring_view name) const {
    return removeNamed(name, std::nullopt);
}

bool HeldFolder::removeListed(const Entry& entry) const {
    return removeNamed(entry.name, entry.id);
}

bool HeldFolder::removeNamed(std::wstring_view name, std::optional<std::uint64_t> listedId) const {
    const std::wstring path = childPath(name);
    if (renamesByPath()) {
        if (const std::optional<bool> removed = removeThroughHost(name, path)) {
            return *removed;
        }
    }
    const FileHandle handle = openForRemoval(name, path);
    if (!handle) {
        return false;
    }
    refuseOpened(handle_.get(), name, handle.get(), path, false, listedId);
    removeOpened(handle.get(), path);
    return true;
}

void HeldFolder::removeOpened(HANDLE file, const std::wstring& path) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))) {
        failWith("remove", path, GetLastError());
    }
}

std::vector<HeldFolder::Entry> listedEntries(HANDLE folder, DWORD& error) {
    std::vector<HeldFolder::Entry> entries;
    std::vector<std::uint64_t> buffer(8192);  // 64 KiB, aligned for the records
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer.data(), bytes)) {
        kind = FileIdBothDirectoryInfo;
        const auto* record = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                entries.push_back({std::move(name), info->FileAttributes,
                                   static_cast<std::uint64_t>(info->EndOfFile.QuadPart),
                                   static_cast<std::uint64_t>(info->FileId.QuadPart)});
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            record += info->NextEntryOffset;
        }
    }
    const DWORD code = GetLastError();
    error = code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND ? 0 : code;
    return entries;
}

std::vector<HeldFolder::Entry> HeldFolder::entries() const {
    DWORD error = 0;
    std::vector<Entry> entries = listedEntries(handle_.get(), error);
    if (error != 0) {
        failWith("list", path_, error);
    }
    return entries;
}

void flushToDisk(HANDLE file, const std::string& what) {
    if (!FlushFileBuffers(file)) {
        throw std::runtime_error("Cannot flush " + what + ": error " +
                                 std::to_string(GetLastError()));
    }
}

}  // namespace tavro
