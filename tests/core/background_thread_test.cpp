#include "core/background_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace tavro {
namespace {

using namespace std::chrono_literals;

// Many threads that nobody waits for and that end at once, started from two threads, while a third
// starts and joins threads of its own: every body runs, the ended threads are joined by later
// starts, and not one join elsewhere fails. (MinGW's detach gave two live threads one record under
// this load, and a join failed with "Resource deadlock avoided" or "No such process".)
TEST(ThreadKeeper, ShortThreadsNeitherLeakNorBreakAnotherThreadsJoin) {
    constexpr int kStarts = 3000;
    std::atomic<int> ran{0};
    std::atomic<bool> stop{false};
    std::atomic<int> joinFailures{0};
    std::thread joiner([&] {
        while (!stop.load()) {
            std::thread thread([] {});
            try {
                thread.join();
            } catch (const std::system_error&) {
                joinFailures.fetch_add(1);
                return;  // the thread record is no longer trustworthy: leave it
            }
        }
    });
    {
        ThreadKeeper keeper;
        std::thread otherStarter([&] {
            for (int i = 0; i < kStarts / 2; ++i) {
                keeper.start([&ran] { ran.fetch_add(1); });
            }
        });
        for (int i = kStarts / 2; i < kStarts; ++i) {
            keeper.start([&ran] { ran.fetch_add(1); });
        }
        otherStarter.join();
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (ran.load() < kStarts && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        // Every thread has ended by now or is about to: a few more starts join them.
        std::size_t kept = keeper.kept();
        while (kept > ThreadKeeper::kJoinAbove && std::chrono::steady_clock::now() < end) {
            keeper.start([] {});
            std::this_thread::sleep_for(1ms);
            kept = keeper.kept();
        }
        EXPECT_LE(kept, ThreadKeeper::kJoinAbove);
    }  // the keeper waits for what is still running
    stop.store(true);
    joiner.join();
    EXPECT_EQ(ran.load(), kStarts);
    EXPECT_EQ(joinFailures.load(), 0);
}

}  // namespace
}  // namespace tavro
