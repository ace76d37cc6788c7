#include "download/file_sha256.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstdio>
#include <vector>

#include "core/unique_resource.h"
#include "core/win_handles.h"
#include "download/package_digest.h"

namespace tavro {

namespace {

constexpr DWORD kReadBlockBytes = 1024 * 1024;
constexpr ULONG kSha256Bytes = 32;

struct AlgorithmTraits {
    using type = BCRYPT_ALG_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};
using AlgorithmHandle = UniqueResource<AlgorithmTraits>;

struct HashTraits {
    using type = BCRYPT_HASH_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptDestroyHash(handle); }
};
using HashHandle = UniqueResource<HashTraits>;

std::string statusText(const char* call, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
    return std::string(call) + " failed: status " + code;
}

std::string callErrorText(const char* call, DWORD code) {
    return std::string(call) + " failed: error " + std::to_string(code);
}

}  // namespace

std::string sha256OfFile(const std::filesystem::path& file, std::string& error) {
    AlgorithmHandle algorithm;
    NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptOpenAlgorithmProvider", status);
        return {};
    }
    HashHandle hash;
    status = BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptCreateHash", status);
        return {};
    }
    // The file itself, never what a link at its name points to.
    FileHandle input(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!input) {
        error = callErrorText("CreateFileW", GetLastError());
        return {};
    }
    std::vector<unsigned char> block(kReadBlockBytes);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(input.get(), block.data(), kReadBlockBytes, &read, nullptr)) {
            error = callErrorText("ReadFile", GetLastError());
            return {};
        }
        if (read == 0) {
            break;
        }
        status = BCryptHashData(hash.get(), block.data(), read, 0);
        if (!BCRYPT_SUCCESS(status)) {
            error = statusText("BCryptHashData", status);
            return {};
        }
    }
    unsigned char digest[kSha256Bytes];
    status = BCryptFinishHash(hash.get(), digest, kSha256Bytes, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptFinishHash", status);
        return {};
    }
    return lowerHex(digest, kSha256Bytes);
}

}  // namespace tavro
