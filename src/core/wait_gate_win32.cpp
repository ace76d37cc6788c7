#include <windows.h>

#include "core/wait_gate.h"

namespace tavro {

// Neither needs closing: both are a pointer-sized word the process manages itself.
struct WaitGate::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

WaitGate::WaitGate() : state_(std::make_unique<State>()) {}
WaitGate::~WaitGate() = default;

void WaitGate::acquire() {
    AcquireSRWLockExclusive(&state_->lock);
}

void WaitGate::release() {
    ReleaseSRWLockExclusive(&state_->lock);
}

void WaitGate::sleep(Lock&) {
    // Without a timeout it fails only where the wait cannot be made at all; the caller's loop
    // looks at its condition again either way.
    SleepConditionVariableSRW(&state_->changed, &state_->lock, INFINITE, 0);
}

void WaitGate::wakeAll() {
    WakeAllConditionVariable(&state_->changed);
}

}  // namespace tavro
