#include "app/single_instance.h"

#include <sddl.h>

#include <string>

#include "core/last_error.h"
#include "core/program_log.h"
#include "core/win_handles.h"
#include "ui/main_window.h"

namespace tavro {

namespace {

constexpr wchar_t kSessionLockName[] = L"Local\\Quendrel.Tavro.Installer";
constexpr wchar_t kMachineLockName[] = L"Global\\Quendrel.Tavro.Installer";
// System and administrators: everything; everyone: wait and release (SYNCHRONIZE |
// MUTEX_MODIFY_STATE), so that a run under any account can wait for the one that holds it.
constexpr wchar_t kLockSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

struct LocalMemoryTraits : KeepsLastError {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type memory) noexcept { LocalFree(memory); }
};
using LocalMemory = UniqueResource<LocalMemoryTraits>;

// The named mutex, made or opened; empty with the reason logged.
KernelHandle openLock(const wchar_t* name) {
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kLockSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
            nullptr)) {
        logEvent("Installer lock: no security descriptor, error " + std::to_string(GetLastError()));
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    KernelHandle mutex(CreateMutexW(&attributes, FALSE, name));
    if (mutex) {
        return mutex;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        // Made by another account with another descriptor: waiting is all this run needs.
        mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
        if (mutex) {
            return mutex;
        }
    }
    logEvent("Installer lock not available, error " + std::to_string(error));
    return {};
}

// Waits for the lock; false when another run kept it for the whole wait.
bool holdLock(const wchar_t* name, DWORD waitMs, HeldMutex& held) {
    KernelHandle mutex = openLock(name);
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
    if (!holdLock(kSessionLockName, static_cast<DWORD>(wait.count()), lock.local_)) {
        lock.state_ = InstanceState::busyHere;
        return lock;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const DWORD leftMs = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    if (!holdLock(kMachineLockName, leftMs, lock.global_)) {
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
