#pragma once

#include <memory>
#include <string>

#include "fs/running_digest.h"

namespace tavro {

// A streaming SHA-256 through the platform's own cryptography (CNG). Empty, with the failed call
// and its status in error, when the provider or the hash cannot be opened.
std::unique_ptr<DigestStream> startSha256(std::string& error);

}  // namespace tavro
