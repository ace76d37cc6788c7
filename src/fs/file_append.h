#pragma once

#include <filesystem>

#include "fs/block_pipeline.h"

namespace tavro {

// How appending one file to another ended.
enum class AppendResult { Done, CannotOpenSource, CannotReadSource, CannotWriteTarget };

// Appends the whole of file `from` to the end of the existing file `to` in 1 MiB blocks, the
// source opened with the sequential-scan hint. Without see through one buffer; with it, each
// block is shown to see as it is read, and reading and seeing overlap with the writing
// (two buffers, pipeBlocks).
AppendResult appendFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        const SeeBlock& see = {});

// The same between two files already open: from for reading from its current position, to for
// appending.
AppendResult appendOpenFile(void* from, void* to, const SeeBlock& see = {});

}  // namespace tavro
