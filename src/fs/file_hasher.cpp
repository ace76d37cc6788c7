#include "fs/file_hasher.h"

#include <cstdio>
#include <stdexcept>

#include "fs/package_digest.h"

namespace tavro {

namespace {

constexpr ULONG kSha256Bytes = 32;

[[noreturn]] void fail(const char* call, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
    throw std::runtime_error(std::string(call) + " failed: status " + code);
}

}  // namespace

FileHasher::FileHasher() {
    const NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        fail("BCryptOpenAlgorithmProvider", status);
    }
}

void FileHasher::start() {
    if (hash_ && reusable_) {
        return;  // finishing a reusable hash left it ready for the next file
    }
    hash_.reset();
    // A reusable object where the platform has them (Windows 8 and later), else one per file.
    NTSTATUS status = BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0,
                                       BCRYPT_HASH_REUSABLE_FLAG);
    reusable_ = BCRYPT_SUCCESS(status);
    if (!reusable_) {
        status = BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status)) {
            fail("BCryptCreateHash", status);
        }
    }
}

void FileHasher::add(const void* data, std::size_t size) {
    const NTSTATUS status = hashData(hash_.get(), data, size);
    if (!BCRYPT_SUCCESS(status)) {
        hash_.reset();  // a failed object is not used again
        fail("BCryptHashData", status);
    }
}

std::string FileHasher::finish() {
    unsigned char digest[kSha256Bytes];
    const NTSTATUS status = BCryptFinishHash(hash_.get(), digest, kSha256Bytes, 0);
    if (!reusable_ || !BCRYPT_SUCCESS(status)) {
        hash_.reset();
    }
    if (!BCRYPT_SUCCESS(status)) {
        fail("BCryptFinishHash", status);
    }
    return lowerHex(digest, kSha256Bytes);
}

}  // namespace tavro
