#pragma once

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <limits>

#include "core/last_error.h"
#include "core/unique_resource.h"

namespace tavro {

struct BcryptAlgorithmTraits : KeepsLastError {
    using type = BCRYPT_ALG_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};
// Owns an open CNG algorithm provider.
using BcryptAlgorithm = UniqueResource<BcryptAlgorithmTraits>;

struct BcryptHashTraits : KeepsLastError {
    using type = BCRYPT_HASH_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptDestroyHash(handle); }
};
// Owns a CNG hash object (destroy it before its provider is closed).
using BcryptHash = UniqueResource<BcryptHashTraits>;

struct BcryptKeyTraits : KeepsLastError {
    using type = BCRYPT_KEY_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptDestroyKey(handle); }
};
// Owns a CNG key (destroy it before its provider is closed).
using BcryptKey = UniqueResource<BcryptKeyTraits>;

// Feeds size bytes to hash in the steps CNG takes (a ULONG each); the status of the first step
// that failed, or of the last one.
inline NTSTATUS hashData(BCRYPT_HASH_HANDLE hash, const void* data, std::size_t size) {
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));  // CNG only reads them
    NTSTATUS status = 0;
    while (size > 0 && BCRYPT_SUCCESS(status)) {
        const ULONG step =
            static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        status = BCryptHashData(hash, bytes, step, 0);
        bytes += step;
        size -= step;
    }
    return status;
}

}  // namespace tavro
