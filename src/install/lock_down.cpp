#include "install/lock_down.h"

#include <windows.h>
#include <sddl.h>

#include <stdexcept>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/lock_down_rules.h"

namespace tavro {

namespace {

constexpr ACCESS_MASK kSetSecurity = WRITE_DAC | WRITE_OWNER | READ_CONTROL;

struct LocalMemoryTraits : KeepsLastError {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type memory) noexcept { LocalFree(memory); }
};
using LocalMemory = UniqueResource<LocalMemoryTraits>;

class LockedDescriptor {
  public:
    explicit LockedDescriptor(bool folder) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
                lockedDownSddl(folder).c_str(), SDDL_REVISION_1,
                reinterpret_cast<PSECURITY_DESCRIPTOR*>(memory_.put()), nullptr)) {
            throw std::runtime_error("Lock-down: no security descriptor, error " +
                                     std::to_string(GetLastError()));
        }
    }
    // Sets owner and DACL of that one object, through its handle.
    void applyTo(HANDLE object, const std::wstring& path) const {
        if (!SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     memory_.get())) {
            throw std::runtime_error("Lock-down of " + toUtf8(path) + " failed with error " +
                                     std::to_string(GetLastError()));
        }
    }

  private:
    LocalMemory memory_;
};

struct Walk {
    LockedDescriptor folderDescriptor{true};
    LockedDescriptor fileDescriptor{false};
    LockDownCount count;

    void lockFolder(const HeldFolder& folder, bool isRoot) {
        for (const HeldFolder::Entry& entry : folder.entries()) {
            if (isRoot && staysWritableUnderLockDown(entry.name)) {
                continue;
            }
            if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                ++count.linksSkipped;
            } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                try {
                    lockFolder(folder.folder(entry.name, false), false);
                } catch (const LinkRefused&) {
                    ++count.linksSkipped;
                }
            } else {
                lockFile(folder, entry.name);
            }
        }
        // The folder's own handle, opened again relative to itself with the access to set its
        // security: the very folder that was listed, whatever its path names by now.
        const FileHandle own(ReOpenFile(folder.get(), kSetSecurity,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
        if (!own) {
            throw std::runtime_error("Lock-down of " + toUtf8(folder.path()) +
                                     " failed with error " + std::to_string(GetLastError()));
        }
        folderDescriptor.applyTo(own.get(), folder.path());
        ++count.set;
    }

    void lockFile(const HeldFolder& folder, const std::wstring& name) {
        FileHandle file;
        try {
            file = folder.openFile(name, kSetSecurity);
        } catch (const LinkRefused&) {
            ++count.linksSkipped;
            return;
        }
        if (!file) {
            return;  // gone meanwhile
        }
        fileDescriptor.applyTo(file.get(), folder.childPath(name));
        ++count.set;
    }
};

}  // namespace

bool lockDownPolicySet() {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue,
                                        RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        return false;
    }
    return status != ERROR_SUCCESS || value != 0;
}

LockDownCount lockDownInstallRoot() {
    Walk walk;
    walk.lockFolder(HeldFolder::open(installRoot(), false), true);
    return walk.count;
}

}  // namespace tavro
