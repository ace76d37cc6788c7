#pragma once

#include <memory>

namespace tavro {

// A lock with one condition to wait on, for threads that hand work to each other many times a
// second. With MinGW, std::mutex and std::condition_variable are winpthreads' and every wake-up
// is a round trip through the kernel (under Wine, through the wineserver: 0.15 ms for each block
// two threads handed over, against 0.02 ms here); on Windows this uses the process's own SRW
// locks and condition variables instead, as MSVC's standard library does. Elsewhere it is the
// standard pair.
class WaitGate {
  public:
    // Holds the gate for as long as it lives.
    class Lock {
      public:
        explicit Lock(WaitGate& gate) : gate_(gate) { gate_.acquire(); }
        ~Lock() { gate_.release(); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        WaitGate& gate_;
    };

    WaitGate();
    ~WaitGate();
    WaitGate(const WaitGate&) = delete;
    WaitGate& operator=(const WaitGate&) = delete;

    // With the gate held by lock: returns once ready() is true, letting go of the gate while it
    // waits (wake-ups that find ready() false wait again).
    template <typename Ready>
    void waitUntil(Lock& lock, Ready ready) {
        while (!ready()) {
            sleep(lock);
        }
    }

    // Wakes every waiting thread, to look at its condition again.
    void wakeAll();

  private:
    void acquire();
    void release();
    void sleep(Lock& lock);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tavro
