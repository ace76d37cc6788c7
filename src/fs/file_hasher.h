#pragma once

#include <cstddef>
#include <string>

#include "core/bcrypt_handles.h"

namespace tavro {

// SHA-256 of many files one after the other (CNG): the provider is opened once and one hash
// object serves every file, so a tree of thousands of small files pays for neither per file.
class FileHasher {
  public:
    // Throws std::runtime_error naming the failed call.
    FileHasher();

    // Starts the digest of the next file (the previous one must have been finished).
    void start();
    // Adds bytes; throws std::runtime_error naming the failed call.
    void add(const void* data, std::size_t size);
    // The lower-case hex digest of what was added since start(); throws like add.
    std::string finish();

  private:
    BcryptAlgorithm algorithm_;
    BcryptHash hash_;  // destroyed before the provider
    bool reusable_ = false;
};

}  // namespace tavro
