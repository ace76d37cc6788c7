#pragma once

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

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

}  // namespace tavro
