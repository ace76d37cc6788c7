#include "fs/file_append.h"

#include <windows.h>

#include <memory>

#include "core/win_handles.h"
#include "fs/block_pipeline.h"

namespace tavro {

namespace {

// Few calls per part, and a buffer that stays in the processor's cache: 8 MiB blocks made the
// copy slower, not faster.
constexpr DWORD kBlockBytes = 1024 * 1024;

AppendResult appendThroughOneBuffer(HANDLE source, HANDLE target) {
    const std::unique_ptr<char[]> buffer(new char[kBlockBytes]);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer.get(), kBlockBytes, &read, nullptr)) {
            return AppendResult::CannotReadSource;
        }
        if (read == 0) {
            return AppendResult::Done;
        }
        DWORD written = 0;
        if (!WriteFile(target, buffer.get(), read, &written, nullptr) || written != read) {
            return AppendResult::CannotWriteTarget;
        }
    }
}

// Reads and hashes on this thread while the other writes the block before.
AppendResult appendSeeing(HANDLE source, HANDLE target, const SeeBlock& see) {
    const ReadBlock read = [source](char* buffer, std::size_t capacity) -> long long {
        DWORD count = 0;
        if (!ReadFile(source, buffer, static_cast<DWORD>(capacity), &count, nullptr)) {
            return -1;
        }
        return count;
    };
    const WriteBlock write = [target](const char* data, std::size_t size) {
        DWORD written = 0;
        return WriteFile(target, data, static_cast<DWORD>(size), &written, nullptr) &&
               written == size;
    };
    switch (pipeBlocks(kBlockBytes, read, see, write)) {
        case PipeResult::Done:
            return AppendResult::Done;
        case PipeResult::ReadFailed:
            return AppendResult::CannotReadSource;
        case PipeResult::WriteFailed:
            break;
    }
    return AppendResult::CannotWriteTarget;
}

}  // namespace

AppendResult appendFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        const SeeBlock& see) {
    FileHandle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) {
        return AppendResult::CannotOpenSource;
    }
    FileHandle target(CreateFileW(to.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return AppendResult::CannotWriteTarget;
    }
    const AppendResult result = appendOpenFile(source.get(), target.get(), see);
    if (result != AppendResult::Done) {
        return result;
    }
    return CloseHandle(target.release()) ? AppendResult::Done : AppendResult::CannotWriteTarget;
}

AppendResult appendOpenFile(void* from, void* to, const SeeBlock& see) {
    return see ? appendSeeing(from, to, see) : appendThroughOneBuffer(from, to);
}

}  // namespace tavro
