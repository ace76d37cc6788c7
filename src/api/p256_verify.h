#pragma once

#include <string>
#include <string_view>

#include "api/release_check.h"
#include "api/release_statement.h"

namespace tavro {

// Checks an ECDSA P-256 signature (r then s) over the SHA-256 of message with the platform's
// cryptography (CNG). Unavailable, with the failed call and its status in error, when CNG
// cannot hash or take the key.
SignatureVerdict verifyP256Sha256(const P256PublicPoint& point, std::string_view message,
                                  const P256Signature& signature, std::string& error);

}  // namespace tavro
