#include "api/p256_verify.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/bcrypt_handles.h"

namespace tavro {

namespace {

constexpr ULONG kSha256Bytes = 32;
constexpr ULONG kCoordinateBytes = 32;
// What BCryptVerifySignature answers for a signature that does not match (ntstatus.h).
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

std::string statusText(const char* call, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
    return std::string(call) + " failed: status " + code;
}

// The SHA-256 of message; false with error set when CNG fails.
bool sha256Of(std::string_view message, std::array<UCHAR, kSha256Bytes>& digest,
              std::string& error) {
    BcryptAlgorithm algorithm;
    NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptOpenAlgorithmProvider(SHA256)", status);
        return false;
    }
    BcryptHash hash;
    status = BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    if (BCRYPT_SUCCESS(status)) {
        // CNG only reads the bytes; a statement is a few hundred bytes, far below ULONG's range.
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(message.data()));
        status = BCryptHashData(hash.get(), bytes, static_cast<ULONG>(message.size()), 0);
    }
    if (BCRYPT_SUCCESS(status)) {
        status = BCryptFinishHash(hash.get(), digest.data(), kSha256Bytes, 0);
    }
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("SHA-256 of the release statement", status);
        return false;
    }
    return true;
}

// The public key blob CNG imports: the header, then X and Y.
std::vector<UCHAR> publicKeyBlob(const P256PublicPoint& point) {
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = kCoordinateBytes;
    std::vector<UCHAR> blob(sizeof(header) + point.size());
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), point.data(), point.size());
    return blob;
}

}  // namespace

SignatureVerdict verifyP256Sha256(const P256PublicPoint& point, std::string_view message,
                                  const P256Signature& signature, std::string& error) {
    std::array<UCHAR, kSha256Bytes> digest{};
    if (!sha256Of(message, digest, error)) {
        return SignatureVerdict::Unavailable;
    }
    BcryptAlgorithm algorithm;
    NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptOpenAlgorithmProvider(ECDSA_P256)", status);
        return SignatureVerdict::Unavailable;
    }
    std::vector<UCHAR> blob = publicKeyBlob(point);
    BcryptKey key;
    status = BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                 blob.data(), static_cast<ULONG>(blob.size()), 0);
    if (!BCRYPT_SUCCESS(status)) {
        error = statusText("BCryptImportKeyPair", status);
        return SignatureVerdict::Unavailable;
    }
    auto* signatureBytes = const_cast<PUCHAR>(signature.data());  // CNG only reads them
    status = BCryptVerifySignature(key.get(), nullptr, digest.data(), kSha256Bytes, signatureBytes,
                                   static_cast<ULONG>(signature.size()), 0);
    if (BCRYPT_SUCCESS(status)) {
        return SignatureVerdict::Valid;
    }
    if (status == kInvalidSignature) {
        return SignatureVerdict::Invalid;
    }
    error = statusText("BCryptVerifySignature", status);
    return SignatureVerdict::Unavailable;
}

}  // namespace tavro
