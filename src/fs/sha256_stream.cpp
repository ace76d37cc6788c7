#include "fs/sha256_stream.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstdio>

#include "core/bcrypt_handles.h"
#include "fs/package_digest.h"

namespace tavro {

namespace {

constexpr ULONG kSha256Bytes = 32;

std::string statusText(const char* call, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
    return std::string(call) + " failed: status " + code;
}

class Sha256Stream final : public DigestStream {
  public:
    // Empty error: ready.
    explicit Sha256Stream(std::string& error) {
        NTSTATUS status =
            BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (!BCRYPT_SUCCESS(status)) {
            error = statusText("BCryptOpenAlgorithmProvider", status);
            return;
        }
        status = BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status)) {
            error = statusText("BCryptCreateHash", status);
        }
    }

    bool add(const void* data, std::size_t size) override {
        const NTSTATUS status = hashData(hash_.get(), data, size);
        if (!BCRYPT_SUCCESS(status)) {
            failure_ = statusText("BCryptHashData", status);
            return false;
        }
        return true;
    }

    std::string finish(std::string& error) override {
        if (!failure_.empty()) {
            error = failure_;
            return {};
        }
        unsigned char digest[kSha256Bytes];
        const NTSTATUS status = BCryptFinishHash(hash_.get(), digest, kSha256Bytes, 0);
        if (!BCRYPT_SUCCESS(status)) {
            error = statusText("BCryptFinishHash", status);
            return {};
        }
        return lowerHex(digest, kSha256Bytes);
    }

  private:
    // Declared in this order so the hash is destroyed before its provider is closed.
    BcryptAlgorithm algorithm_;
    BcryptHash hash_;
    std::string failure_;
};

}  // namespace

std::unique_ptr<DigestStream> startSha256(std::string& error) {
    std::string problem;
    auto stream = std::make_unique<Sha256Stream>(problem);
    if (!problem.empty()) {
        error = problem;
        return nullptr;
    }
    return stream;
}

}  // namespace tavro
