#pragma once

#include <cstddef>
#include <functional>

namespace tavro {

// Reads the next block into buffer (at most capacity bytes): the count, 0 at the end, or -1 when
// reading fails.
using ReadBlock = std::function<long long(char* buffer, std::size_t capacity)>;
// Sees a block that was read, before it is written.
using SeeBlock = std::function<void(const char* data, std::size_t size)>;
// Writes a whole block; false when that fails.
using WriteBlock = std::function<bool(const char* data, std::size_t size)>;

enum class PipeResult { Done, ReadFailed, WriteFailed };

// Copies a stream of blocks with the reading (and seeing) on the calling thread and the writing
// on a second one, so the two overlap; at most two blocks of blockBytes are in memory. Stops at
// the first failure of either side. Exceptions of either side are rethrown on the calling
// thread once the writer has ended.
PipeResult pipeBlocks(std::size_t blockBytes, const ReadBlock& read, const SeeBlock& see,
                      const WriteBlock& write);

}  // namespace tavro
