#include <condition_variable>
#include <mutex>

#include "core/wait_gate.h"

namespace tavro {

struct WaitGate::State {
    std::mutex mutex;
    std::condition_variable changed;
};

WaitGate::WaitGate() : state_(std::make_unique<State>()) {}
WaitGate::~WaitGate() = default;

void WaitGate::acquire() {
    state_->mutex.lock();
}

void WaitGate::release() {
    state_->mutex.unlock();
}

void WaitGate::sleep(Lock&) {
    std::unique_lock held(state_->mutex, std::adopt_lock);
    state_->changed.wait(held);
    held.release();  // still held: the Lock lets go of it
}

void WaitGate::wakeAll() {
    state_->changed.notify_all();
}

}  // namespace tavro
