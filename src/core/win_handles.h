#pragma once

#include <windows.h>

#include "core/last_error.h"
#include "core/unique_resource.h"

namespace tavro {

struct RegKeyTraits : KeepsLastError {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type key) noexcept { RegCloseKey(key); }
};
// Owns an open registry key.
using RegKey = UniqueResource<RegKeyTraits>;

struct KernelHandleTraits : KeepsLastError {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { CloseHandle(handle); }
};
// Owns a process, thread, event or snapshot handle (null when empty).
using KernelHandle = UniqueResource<KernelHandleTraits>;

struct FileHandleTraits : KeepsLastError {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type handle) noexcept { CloseHandle(handle); }
};
// Owns a file handle from CreateFileW (INVALID_HANDLE_VALUE when empty).
using FileHandle = UniqueResource<FileHandleTraits>;

}  // namespace tavro
