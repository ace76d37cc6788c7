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

// What is known about the package when an earlier file of its name is found.
struct ReuseCheck {
    std::uint64_t remoteSize = 0;  // the HEAD probe's Content-Length (0: none)
    bool probeSucceeded = true;    // false: remoteSize is the length of an error reply
    std::string expectedDigest;    // lower-case SHA-256 hex from the release; empty: none given
    // The digest this program recorded, where only administrators can write, when it finished
    // downloading a file of this name; empty: none.
    std::string recordedDigest;
    DigestFunction digestOf;  // needed when either digest is set
};

// Whether an earlier file at package may stand for the package. The download folder is writable
// by every user, so a name and a size vouch for nothing: the file is reused only when its bytes
// have the release's digest or, without one, the digest recorded when this program downloaded
// it. It must also be non-empty and match the remote size when a successful probe gave one. Logs
// why a file is or is not reused. Throws std::filesystem::filesystem_error ("exists") when
// existence cannot be tested.
bool reuseExistingPackage(const std::filesystem::path& package, const ReuseCheck& check,
                          LogCallback log, const PathText& pathText);

}  // namespace tavro
