#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "api/release_statement.h"
#include "core/callbacks.h"
#include "core/records.h"

namespace tavro {

// A reply refused by the release check; what() says which check failed and why.
class ReleaseRefusal : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What a signature check found.
enum class SignatureVerdict { Valid, Invalid, Unavailable };

// Checks signature over the SHA-256 of message with the key at point; Unavailable (error set)
// when the check itself could not be made.
using SignatureCheck =
    std::function<SignatureVerdict(const P256PublicPoint& point, std::string_view message,
                                   const P256Signature& signature, std::string& error)>;

// What a reply is checked against.
struct ReleaseTrust {
    std::span<const ReleaseKey> keys;  // the keys the program accepts
    std::int64_t nowUtc = 0;           // seconds since 1970, from the computer's clock
    // The rollback floor (see rollbackFloor), if there is one: an older build is refused, and so
    // is any build when the floor is not a decimal number.
    std::optional<std::string> buildFloor;
    SignatureCheck verify;
};

// A release that passed the check: exactly what was signed.
struct SignedRelease {
    ReleaseStatement statement;
    std::uint64_t packageSize = 0;
    std::string keyId;
};

// Reads Version, BuildNumber, Sha256, PackageSize, Expires, KeyId and Signature as member names
// of the reply's top-level object and checks, in this order: every member is there and well
// formed, the key id is one of trust.keys, the signature verifies over the statement, the
// statement has not expired, and the build is not older than the installed one. Throws
// ReleaseRefusal at the first check that fails; log gets one line per check made.
SignedRelease checkSignedRelease(std::string_view reply, const ReleaseTrust& trust,
                                 const LogCallback& log);

}  // namespace tavro
