#include "core/background_thread.h"

#include <utility>

namespace tavro {

ThreadKeeper::~ThreadKeeper() {
    std::list<Kept> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (Kept& kept : threads) {
        kept.thread.join();
    }
}

void ThreadKeeper::start(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    Kept& kept = threads_.emplace_back();
    try {
        kept.thread = std::thread([this, &kept, body = std::move(body)]() noexcept {
            body();
            std::lock_guard ending(mutex_);
            kept.ended = true;
        });
    } catch (...) {
        threads_.pop_back();
        throw;
    }
    // Joined after the new thread is on its way, and only once a few have gathered: a join is
    // a wait and a close, and a burst of starts (the server probes) should not wait for those.
    if (threads_.size() > kJoinAbove) {
        joinEnded();
    }
}

std::size_t ThreadKeeper::kept() {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

// With mutex_ held. An ended thread has only its return left to run: the join is short.
void ThreadKeeper::joinEnded() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->ended) {
            it->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

void startBackgroundThread(std::function<void()> body) {
    // Never destroyed: threads still running when the program ends are not waited for.
    static ThreadKeeper* const keeper = new ThreadKeeper;
    keeper->start(std::move(body));
}

}  // namespace tavro
