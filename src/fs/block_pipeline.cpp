#include "fs/block_pipeline.h"

#include <array>
#include <exception>
#include <memory>
#include <thread>

#include "core/wait_gate.h"

namespace tavro {

namespace {

// Two buffers passed back and forth: the reader fills one while the writer empties the other.
class BlockExchange {
  public:
    explicit BlockExchange(std::size_t blockBytes) {
        for (Block& block : blocks_) {
            block.data.reset(new char[blockBytes]);
        }
    }

    // Reader: a free block to fill, or nullptr when the writer has stopped.
    char* takeFree() {
        WaitGate::Lock lock(gate_);
        gate_.waitUntil(lock, [this] { return writerStopped_ || free() != nullptr; });
        return writerStopped_ ? nullptr : free()->data.get();
    }

    // Reader: the block just filled (size 0: the end) goes to the writer.
    void hand(const char* data, std::size_t size) {
        WaitGate::Lock lock(gate_);
        Block& block = byData(data);
        block.size = size;
        block.full = true;
        block.sequence = nextSequence_++;
        gate_.wakeAll();
    }

    // Writer: the oldest full block, waiting for one; its size is 0 at the end.
    const char* takeFull(std::size_t& size) {
        WaitGate::Lock lock(gate_);
        gate_.waitUntil(lock, [this] { return oldestFull() != nullptr; });
        Block* block = oldestFull();
        size = block->size;
        return block->data.get();
    }

    // Writer: the block is written and free again.
    void giveBack(const char* data) {
        WaitGate::Lock lock(gate_);
        byData(data).full = false;
        gate_.wakeAll();
    }

    // Writer: it writes nothing more (the end, or a failure).
    void writerStops() {
        WaitGate::Lock lock(gate_);
        writerStopped_ = true;
        gate_.wakeAll();
    }

  private:
    struct Block {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
        bool full = false;
        unsigned long long sequence = 0;
    };

    Block* free() {
        for (Block& block : blocks_) {
            if (!block.full) {
                return &block;
            }
        }
        return nullptr;
    }
    Block* oldestFull() {
        Block* oldest = nullptr;
        for (Block& block : blocks_) {
            if (block.full && (!oldest || block.sequence < oldest->sequence)) {
                oldest = &block;
            }
        }
        return oldest;
    }
    Block& byData(const char* data) {
        return blocks_[0].data.get() == data ? blocks_[0] : blocks_[1];
    }

    WaitGate gate_;
    std::array<Block, 2> blocks_;
    unsigned long long nextSequence_ = 0;
    bool writerStopped_ = false;
};

}  // namespace

PipeResult pipeBlocks(std::size_t blockBytes, const ReadBlock& read, const SeeBlock& see,
                      const WriteBlock& write) {
    BlockExchange exchange(blockBytes);
    bool writeFailed = false;  // the writer's; read after the join
    std::exception_ptr writerError;
    std::thread writer([&] {
        try {
            for (;;) {
                std::size_t size = 0;
                const char* data = exchange.takeFull(size);
                if (size == 0) {
                    break;
                }
                if (!write(data, size)) {
                    writeFailed = true;
                    break;
                }
                exchange.giveBack(data);
            }
        } catch (...) {
            writerError = std::current_exception();
        }
        exchange.writerStops();
    });

    PipeResult result = PipeResult::Done;
    std::exception_ptr readerError;
    try {
        for (;;) {
            char* buffer = exchange.takeFree();
            if (!buffer) {
                break;  // the writer stopped early
            }
            const long long count = read(buffer, blockBytes);
            if (count <= 0) {
                result = count < 0 ? PipeResult::ReadFailed : PipeResult::Done;
                exchange.hand(buffer, 0);
                break;
            }
            const auto size = static_cast<std::size_t>(count);
            if (see) {
                see(buffer, size);
            }
            exchange.hand(buffer, size);
        }
    } catch (...) {
        readerError = std::current_exception();
        char* buffer = exchange.takeFree();
        if (buffer) {
            exchange.hand(buffer, 0);
        }
    }
    writer.join();
    if (readerError) {
        std::rethrow_exception(readerError);
    }
    if (writerError) {
        std::rethrow_exception(writerError);
    }
    return writeFailed ? PipeResult::WriteFailed : result;
}

}  // namespace tavro
