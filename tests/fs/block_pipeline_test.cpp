// The read/hash/write hand-off of the merge: portable, so it runs under ThreadSanitizer natively.
#include "fs/block_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/test_files.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;

// Serves text in blocks and records how many blocks were read but not yet written.
struct Stream {
    explicit Stream(std::string text) : text(std::move(text)) {}

    ReadBlock reader(std::size_t failAtBlock = 0) {
        return [this, failAtBlock](char* buffer, std::size_t capacity) -> long long {
            if (failAtBlock != 0 && blocksRead == failAtBlock) {
                return -1;
            }
            const std::size_t n = std::min(capacity, text.size() - offset);
            std::copy_n(text.data() + offset, n, buffer);
            offset += n;
            if (n > 0) {
                ++blocksRead;
                const int held = ++inMemory;
                mostInMemory = std::max(mostInMemory.load(), held);
            }
            return static_cast<long long>(n);
        };
    }

    std::string text;
    std::size_t offset = 0;      // the reader's
    std::size_t blocksRead = 0;  // the reader's
    std::atomic<int> inMemory{0};
    std::atomic<int> mostInMemory{0};
};

TEST(BlockPipeline, BytesArriveInOrderSeenBeforeWrittenWithAtMostTwoBlocksHeld) {
    Stream stream(test::pattern(10 * 1000 + 7));
    std::string seen;
    std::string written;
    const WriteBlock write = [&](const char* data, std::size_t size) {
        std::this_thread::sleep_for(1ms);  // a writer slower than the reader fills both blocks
        written.append(data, size);
        --stream.inMemory;
        return true;
    };
    const SeeBlock see = [&](const char* data, std::size_t size) { seen.append(data, size); };
    EXPECT_EQ(pipeBlocks(1000, stream.reader(), see, write), PipeResult::Done);
    EXPECT_EQ(seen, stream.text);
    EXPECT_EQ(written, stream.text);
    EXPECT_EQ(stream.mostInMemory.load(), 2);

    Stream empty("");
    EXPECT_EQ(pipeBlocks(1000, empty.reader(), see, write), PipeResult::Done);
}

TEST(BlockPipeline, TheNextBlockIsReadAndSeenWhileThePreviousIsWritten) {
    Stream stream(test::pattern(3000));
    std::mutex mutex;
    std::condition_variable changed;
    int blocksSeen = 0;
    bool overlapped = true;
    const SeeBlock see = [&](const char*, std::size_t) {
        std::lock_guard lock(mutex);
        ++blocksSeen;
        changed.notify_all();
    };
    // The writer holds block n until block n + 1 has been seen: without overlap this waits out.
    int blocksWritten = 0;  // the writer's
    const WriteBlock write = [&](const char*, std::size_t) {
        const int next = ++blocksWritten + 1;
        std::unique_lock lock(mutex);
        if (next <= 3 && !changed.wait_for(lock, 5s, [&] { return blocksSeen >= next; })) {
            overlapped = false;
        }
        return true;
    };
    EXPECT_EQ(pipeBlocks(1000, stream.reader(), see, write), PipeResult::Done);
    EXPECT_TRUE(overlapped);
}

TEST(BlockPipeline, EitherSideFailingEndsBothAndAnExceptionReachesTheCaller) {
    const SeeBlock none;
    Stream readFails(test::pattern(5000));
    std::string written;
    const WriteBlock keep = [&](const char* data, std::size_t size) {
        written.append(data, size);
        return true;
    };
    EXPECT_EQ(pipeBlocks(1000, readFails.reader(3), none, keep), PipeResult::ReadFailed);
    EXPECT_EQ(written, readFails.text.substr(0, 3000));

    Stream writeFails(test::pattern(50 * 1000));
    int writes = 0;
    const WriteBlock failSecond = [&](const char*, std::size_t) { return ++writes < 2; };
    EXPECT_EQ(pipeBlocks(1000, writeFails.reader(), none, failSecond), PipeResult::WriteFailed);
    EXPECT_EQ(writes, 2);
    EXPECT_LE(writeFails.blocksRead, 4u);  // the reader stops soon after

    Stream throwing(test::pattern(5000));
    const SeeBlock seeThrows = [](const char*, std::size_t) { throw std::runtime_error("see"); };
    EXPECT_THROW(pipeBlocks(1000, throwing.reader(), seeThrows, keep), std::runtime_error);
    const WriteBlock writeThrows = [](const char*, std::size_t) -> bool {
        throw std::runtime_error("write");
    };
    Stream throwingWriter(test::pattern(5000));
    EXPECT_THROW(pipeBlocks(1000, throwingWriter.reader(), none, writeThrows), std::runtime_error);
}

}  // namespace
}  // namespace tavro
