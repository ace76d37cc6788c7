#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace tavro {

// Threads nobody waits for: each is kept, and joined by a later start once it has ended, instead
// of being detached. MinGW's thread library frees a detached thread's record twice when the
// thread ends while it is being detached; a record handed out twice then names two live threads,
// and joining one from the other fails ("Resource deadlock avoided"): the download's merge ended
// the program that way. A joined thread's record is freed once, by the join.
class ThreadKeeper {
  public:
    // Ended threads are joined by a start that finds more than this many kept.
    static constexpr std::size_t kJoinAbove = 8;

    ThreadKeeper() = default;
    ThreadKeeper(const ThreadKeeper&) = delete;
    ThreadKeeper& operator=(const ThreadKeeper&) = delete;
    // Waits for the threads still running.
    ~ThreadKeeper();

    // Runs body on a new thread; body must not throw. Throws std::system_error when the thread
    // cannot be started.
    void start(std::function<void()> body);
    // The threads started and not yet joined: running, or ended and waiting for a later start
    // to join them (which it does once more than a few are kept).
    std::size_t kept();

  private:
    struct Kept {
        std::thread thread;
        bool ended = false;  // guarded by mutex_
    };
    void joinEnded();

    std::mutex mutex_;
    std::list<Kept> threads_;
};

// Runs body on a thread of its own, which the program does not wait for: one still running
// when the program ends ends with it. body must not throw; throws std::system_error when the
// thread cannot be started.
void startBackgroundThread(std::function<void()> body);

}  // namespace tavro
