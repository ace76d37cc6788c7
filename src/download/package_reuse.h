#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/callbacks.h"

namespace tavro {

// How a path is written into a log line or a message.
using PathText = std::function<std::string(const std::filesystem::path&)>;

// The SHA-256 of a file in lower-case hexadecimal; empty, with the reason in error, when it
// cannot be computed.
using DigestFunction =
    std::function<std::string(const std::filesystem::path& file, std::string& error)>;

// Whether an earlier file at package may stand for a package of remoteSize bytes (0: the server
// did not say): it must exist and be non-empty, and match remoteSize when that is known. Logs the
// reason for a reuse or a size mismatch. Throws std::filesystem::filesystem_error ("exists")
// when existence cannot be tested.
bool reuseExistingPackage(const std::filesystem::path& package, std::uint64_t remoteSize,
                          LogCallback log, const PathText& pathText);

// What is known about the package when an earlier file of its name is found.
struct ReuseCheck {
    std::uint64_t remoteSize = 0;  // the HEAD probe's Content-Length (0: none)
    bool probeSucceeded = true;    // false: remoteSize is the length of an error reply
    std::string expectedDigest;    // lower-case SHA-256 hex from the release; empty: none given
    DigestFunction digestOf;       // needed when expectedDigest is set
};

// The reuse decision with the release's digest. Without one it is the rule above, with one more
// line first when the probe failed but gave a length (that length is not the package's, so the
// size was not really checked). With one, the file must be non-empty, match the remote size when
// a successful probe gave one, and have exactly the expected digest; a digest that differs or
// cannot be computed is logged.
bool reuseExistingPackage(const std::filesystem::path& package, const ReuseCheck& check,
                          LogCallback log, const PathText& pathText);

}  // namespace tavro
