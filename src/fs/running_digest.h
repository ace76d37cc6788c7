#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavro {

// A digest computed over bytes handed to it in order, as they pass by.
class DigestStream {
  public:
    virtual ~DigestStream() = default;
    // Adds the next size bytes; false when the platform refuses them.
    virtual bool add(const void* data, std::size_t size) = 0;
    // Lower-case hex of everything added; empty, with the reason in error, when it fails.
    virtual std::string finish(std::string& error) = 0;
};

// A fresh digest; an empty pointer with the reason in error when none can be started.
using DigestStarter = std::function<std::unique_ptr<DigestStream>(std::string& error)>;

// The digest of a file computed from the bytes written into it, without reading it again. It
// vouches for the file only when it saw every byte of it once, from the first on, in order, and
// the platform took all of them; anything else (a write at another offset, a restart, a failed
// hash step) makes it stand down, and the caller hashes the file instead.
class RunningDigest {
  public:
    explicit RunningDigest(std::unique_ptr<DigestStream> stream) : stream_(std::move(stream)) {}

    // Bytes that went into the file at offset.
    void written(std::uint64_t offset, const void* data, std::size_t size);
    // Bytes added at the end of the file.
    void appended(const void* data, std::size_t size) { written(bytes_, data, size); }

    // True while every byte so far was seen in order and taken.
    bool inOrder() const { return stream_ != nullptr; }
    // Whether it vouches for a file of fileSize bytes.
    bool vouchesFor(std::uint64_t fileSize) const { return inOrder() && bytes_ == fileSize; }
    // The digest; only meaningful when it vouches for the file.
    std::string finish(std::string& error);

  private:
    std::unique_ptr<DigestStream> stream_;
    std::uint64_t bytes_ = 0;
};

}  // namespace tavro
