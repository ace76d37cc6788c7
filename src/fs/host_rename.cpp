#include "fs/host_rename.h"

#include <cstdint>
#include <string>

#include "core/text_convert.h"

namespace tavro {

namespace {

// Wine's ntdll: a handle's host descriptor (a new one, which the caller closes).
using HandleToFd = LONG(CDECL*)(HANDLE, unsigned int, int*, unsigned int*);

HandleToFd wineHandleToFd() {
    static const HandleToFd call = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) {
            return HandleToFd(nullptr);
        }
        return reinterpret_cast<HandleToFd>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_server_handle_to_fd")));
    }();
    return call;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
constexpr bool kCanCallHost = true;
// The host's (Linux x86-64) system call numbers and flags.
// (64-bit words: Windows' long has 32 bits.)
constexpr std::int64_t kRenameAt2 = 316;
constexpr std::int64_t kClose = 3;
constexpr std::int64_t kFstat = 5;
constexpr std::int64_t kFstatAt = 262;
constexpr std::int64_t kUnlinkAt = 263;
constexpr std::int64_t kSyncFs = 306;
constexpr std::int64_t kRenameNoReplace = 1;
constexpr std::int64_t kNoFollow = 0x100;   // AT_SYMLINK_NOFOLLOW
constexpr std::int64_t kRemoveDir = 0x200;  // AT_REMOVEDIR

// One host system call with up to five arguments; the result, or minus the error number.
std::int64_t hostCall(std::int64_t number, std::int64_t a, std::int64_t b, std::int64_t c,
                      std::int64_t d, std::int64_t e) {
    std::int64_t result = 0;
    register std::int64_t r10 asm("r10") = d;
    register std::int64_t r8 asm("r8") = e;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8)
                 : "rcx", "r11", "memory");
    return result;
}
#else
constexpr bool kCanCallHost = false;
constexpr std::int64_t kRenameAt2 = 0;
constexpr std::int64_t kClose = 0;
constexpr std::int64_t kFstat = 0;
constexpr std::int64_t kFstatAt = 0;
constexpr std::int64_t kUnlinkAt = 0;
constexpr std::int64_t kSyncFs = 0;
constexpr std::int64_t kRenameNoReplace = 0;
constexpr std::int64_t kNoFollow = 0;
constexpr std::int64_t kRemoveDir = 0;
std::int64_t hostCall(std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                      std::int64_t) {
    return -38;  // ENOSYS
}
#endif

// A folder's host descriptor, closed on every path.
class HostDescriptor {
  public:
    explicit HostDescriptor(HANDLE folder) {
        unsigned int options = 0;
        if (wineHandleToFd()(folder, 0, &fd_, &options) != 0) {
            fd_ = -1;
        }
    }
    ~HostDescriptor() {
        if (fd_ >= 0) {
            hostCall(kClose, fd_, 0, 0, 0, 0);
        }
    }
    HostDescriptor(const HostDescriptor&) = delete;
    HostDescriptor& operator=(const HostDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_ = -1;
};

// The host's struct stat: 144 bytes, the device first and the inode next.
struct HostStat {
    std::uint64_t words[18] = {};
    std::uint64_t kind() const {
        return words[3] & 0170000;  // of st_mode, after st_nlink
    }
    bool isRegularFile() const { return kind() == 0100000; }
    bool isFolder() const { return kind() == 0040000; }
    bool sameFileAs(const HostStat& other) const {
        return words[0] == other.words[0] && words[1] == other.words[1];
    }
};

// The id of the entry name (UTF-8, as Wine keeps names on the host) of the folder whose host
// descriptor is at; a link's own. Nothing when there is no such entry.
std::optional<HostEntryId> entryIdAt(int at, const std::string& name) {
    HostStat entry;
    if (hostCall(kFstatAt, at, reinterpret_cast<std::intptr_t>(name.c_str()),
                 reinterpret_cast<std::intptr_t>(&entry), kNoFollow, 0) < 0) {
        return std::nullopt;
    }
    return HostEntryId{entry.words[0], entry.words[1], entry.isRegularFile(), entry.isFolder()};
}

}  // namespace

bool hostCanBeAsked() {
    return kCanCallHost && wineHandleToFd() != nullptr;
}

std::optional<bool> hostEntryIs(HANDLE folder, std::wstring_view name, HANDLE file) {
    if (!hostCanBeAsked()) {
        return std::nullopt;
    }
    const HostDescriptor at(folder);
    const HostDescriptor opened(file);
    if (at.get() < 0 || opened.get() < 0) {
        return std::nullopt;
    }
    const std::string text = toUtf8(name);
    HostStat entry;
    HostStat held;
    if (hostCall(kFstatAt, at.get(), reinterpret_cast<std::intptr_t>(text.c_str()),
                 reinterpret_cast<std::intptr_t>(&entry), kNoFollow, 0) < 0) {
        return false;  // no such entry (or none the host can see): not the file
    }
    if (hostCall(kFstat, opened.get(), reinterpret_cast<std::intptr_t>(&held), 0, 0, 0) < 0) {
        return std::nullopt;
    }
    return entry.sameFileAs(held);
}

std::optional<HostEntryId> hostEntryId(HANDLE folder, std::wstring_view name) {
    if (!hostCanBeAsked()) {
        return std::nullopt;
    }
    const HostDescriptor at(folder);
    if (at.get() < 0) {
        return std::nullopt;
    }
    return entryIdAt(at.get(), toUtf8(name));
}

std::optional<int> removeOnHost(HANDLE folder, std::wstring_view name,
                                const HostEntryId& expected) {
    if (!hostCanBeAsked()) {
        return std::nullopt;
    }
    const HostDescriptor at(folder);
    if (at.get() < 0) {
        return std::nullopt;
    }
    const std::string text = toUtf8(name);
    const std::optional<HostEntryId> now = entryIdAt(at.get(), text);
    if (!now || *now != expected || !(now->regularFile || now->folder)) {
        return std::nullopt;
    }
    const std::int64_t result =
        hostCall(kUnlinkAt, at.get(), reinterpret_cast<std::intptr_t>(text.c_str()),
                 now->folder ? kRemoveDir : 0, 0, 0);
    return result < 0 ? static_cast<int>(-result) : 0;
}

std::optional<int> renameOnHost(HANDLE fromFolder, std::wstring_view name, HANDLE toFolder,
                                std::wstring_view newName) {
    if (!hostCanBeAsked()) {
        return std::nullopt;
    }
    const HostDescriptor from(fromFolder);
    const HostDescriptor to(toFolder);
    if (from.get() < 0 || to.get() < 0) {
        return std::nullopt;
    }
    // Wine keeps names as UTF-8 on the host.
    const std::string oldText = toUtf8(name);
    const std::string newText = toUtf8(newName);
    const std::int64_t result =
        hostCall(kRenameAt2, from.get(), reinterpret_cast<std::intptr_t>(oldText.c_str()), to.get(),
                 reinterpret_cast<std::intptr_t>(newText.c_str()), kRenameNoReplace);
    return result < 0 ? static_cast<int>(-result) : 0;
}

std::optional<int> syncFilesystemOnHost(HANDLE folder) {
    if (!hostCanBeAsked()) {
        return std::nullopt;
    }
    const HostDescriptor at(folder);
    if (at.get() < 0) {
        return std::nullopt;
    }
    const std::int64_t result = hostCall(kSyncFs, at.get(), 0, 0, 0, 0);
    return result < 0 ? static_cast<int>(-result) : 0;
}

DWORD windowsErrorOfHost(int hostError) {
    switch (hostError) {
        case 0:
            return ERROR_SUCCESS;
        case 2:  // ENOENT
            return ERROR_FILE_NOT_FOUND;
        case 17:  // EEXIST
            return ERROR_ALREADY_EXISTS;
        case 1:   // EPERM
        case 13:  // EACCES
        case 16:  // EBUSY
            return ERROR_ACCESS_DENIED;
        case 18:  // EXDEV
            return ERROR_NOT_SAME_DEVICE;
        case 28:  // ENOSPC
            return ERROR_DISK_FULL;
        case 39:  // ENOTEMPTY
            return ERROR_DIR_NOT_EMPTY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace tavro
