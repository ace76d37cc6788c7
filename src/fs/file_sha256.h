#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tavro {

// The SHA-256 of a file's content in lower-case hexadecimal, computed by the platform's own
// cryptography (CNG) over one sequential read in large blocks. Empty, with the failed call and
// its code in error, when the file cannot be read or hashed.
std::string sha256OfFile(const std::filesystem::path& file, std::string& error);

// The same for a file already open for reading, from its current position to its end; the bytes
// read are added to size.
std::string sha256OfOpenFile(void* file, std::uint64_t& size, std::string& error);

}  // namespace tavro
