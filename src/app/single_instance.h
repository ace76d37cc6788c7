#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "core/last_error.h"
#include "core/unique_resource.h"

namespace tavro {

struct HeldMutexTraits : KeepsLastError {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type mutex) noexcept {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
};
// Owns a named mutex this thread holds: released and closed together.
using HeldMutex = UniqueResource<HeldMutexTraits>;

enum class InstanceState {
    alone,          // both locks are held by this run
    busyHere,       // another installer runs in this session
    busyElsewhere,  // another installer runs in another session or under another account
};

// One installer at a time: installer, updater and uninstall runs hold a per-session mutex and a
// machine-wide one for their whole run, taken on the thread that runs them. The per-session one
// finds the running window; the machine-wide one covers a deployment tool's run under another
// account. Both allow every account to wait on them, so an unelevated updater can wait for an
// elevated install. A lock that cannot be made at all is logged and not waited for: it guards
// against accidents, and an odd object squatting on the name must not stop every install. For the
// same reason a lock another run made is obeyed only when the administrators or the system own
// it (see lockOwnerProblem): a standard user who makes the machine-wide name first and holds it
// stops nothing.
class InstanceLock {
  public:
    // Waits up to wait in all (zero: only looks).
    static InstanceLock take(std::chrono::milliseconds wait);

    InstanceState state() const { return state_; }

  private:
    HeldMutex local_;
    HeldMutex global_;
    InstanceState state_ = InstanceState::alone;
};

// Why a lock made by another run is not obeyed: it is owned by an account other than the
// administrators or the system, or its owner cannot be read. Empty when it is obeyed.
std::string lockOwnerProblem(void* lock);

// Brings the running installer's window of this session to the front. false when there is none.
bool bringRunningWindowForward();

}  // namespace tavro
