#include "app/single_instance.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "core/last_error.h"
#include "core/program_log.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "ui/main_window.h"

namespace tavro {

namespace {

constexpr wchar_t kSessionLockName[] = L"Local\\Quendrel.Tavro.Installer";
constexpr wchar_t kMachineLockName[] = L"Global\\Quendrel.Tavro.Installer";
// System and administrators: everything; everyone: wait and release (SYNCHRONIZE |
// MUTEX_MODIFY_STATE), so that a run under any account can wait for the one that holds it. An
// elevated run makes the lock owned by the administrators, which is how other runs know to obey
// it; an unelevated one (the updater) cannot, and makes it with its own account as owner.
constexpr wchar_t kLockSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr wchar_t kAdministratorsLockSddl[] = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

struct LocalMemoryTraits : KeepsLastError {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type memory) noexcept { LocalFree(memory); }
};
using LocalMemory = UniqueResource<LocalMemoryTraits>;

// The named mutex made with the descriptor sddl; empty, with the thread's last error set, when
// it could not be made or opened.
KernelHandle createLock(const wchar_t* name, const wchar_t* sddl) {
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
            nullptr)) {
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    return KernelHandle(CreateMutexW(&attributes, FALSE, name));
}

}  // namespace

std::string lockOwnerProblem(void* lock) {
    PSID owner = nullptr;
    LocalMemory descriptor;
    const DWORD status = GetSecurityInfo(lock, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr,
                                         reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (status != ERROR_SUCCESS) {
        return "its owner cannot be read (error " + std::to_string(status) + ")";
    }
    if (owner == nullptr) {
        return {};  // Wine keeps no descriptor for an object made without one; Windows always has
                    // an owner
    }
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(owner, WinLocalSystemSid)) {
        return {};
    }
    LocalMemory text;
    ConvertSidToStringSidW(owner, reinterpret_cast<LPWSTR*>(text.put()));
    return "it is owned by " +
           (text ? toUtf8(static_cast<const wchar_t*>(text.get()))
                 : std::string("another account")) +
           ", not by the administrators";
}

namespace {

// The named mutex, made or opened; empty with the reason logged. With onlyAdministrators (the
// machine-wide lock), a lock that another run made is obeyed only when the administrators or the
// system own it: any user can make an object of that name first and hold it, and that must not
// stop every install on the machine. The session's own lock is obeyed whoever made it: the
// unelevated updater of this session makes it too.
KernelHandle openLock(const wchar_t* name, bool onlyAdministrators) {
    KernelHandle mutex = createLock(name, kAdministratorsLockSddl);
    if (!mutex && GetLastError() == ERROR_INVALID_OWNER) {
        mutex = createLock(name, kLockSddl);  // an unelevated run
    }
    DWORD error = GetLastError();
    if (!mutex && error == ERROR_ACCESS_DENIED) {
        // Made by another account with another descriptor: waiting is all this run needs.
        mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, name));
        if (!mutex) {
            mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
        }
        error = mutex ? ERROR_ALREADY_EXISTS : GetLastError();
    }
    if (!mutex) {
        logEvent("Installer lock not available, error " + std::to_string(error));
        return {};
    }
    if (onlyAdministrators && error == ERROR_ALREADY_EXISTS) {
        if (const std::string problem = lockOwnerProblem(mutex.get()); !problem.empty()) {
            logEvent("Installer lock " + toUtf8(name) + " not obeyed: " + problem);
            return {};
        }
    }
    return mutex;
}

// Waits for the lock; false when another run kept it for the whole wait.
bool holdLock(const wchar_t* name, bool onlyAdministrators, DWORD waitMs, HeldMutex& held) {
    KernelHandle mutex = openLock(name, onlyAdministrators);
    if (!mutex) {
        return true;  // not a lock to wait for (see the class comment)
    }
    const DWORD result = WaitForSingleObject(mutex.get(), waitMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        held.reset(mutex.release());  // an abandoned lock's run ended without letting go: ours
        return true;
    }
    return false;
}

}  // namespace

InstanceLock InstanceLock::take(std::chrono::milliseconds wait) {
    InstanceLock lock;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    if (!holdLock(kSessionLockName, false, static_cast<DWORD>(wait.count()), lock.local_)) {
        lock.state_ = InstanceState::busyHere;
        return lock;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const DWORD leftMs = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    if (!holdLock(kMachineLockName, true, leftMs, lock.global_)) {
        lock.local_.reset();
        lock.state_ = InstanceState::busyElsewhere;
    }
    return lock;
}

bool bringRunningWindowForward() {
    const HWND window = FindWindowA(kMainWindowClass, nullptr);
    if (window == nullptr) {
        return false;
    }
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
    return true;
}

}  // namespace tavro
