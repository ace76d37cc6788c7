#pragma once

#include <string>

namespace standin {

// Expands the zip archive into destination (created when missing), reproducing its folders.
// Every entry is checked before anything is written: an archive that is missing, corrupt,
// truncated, encrypted, uses an unknown method, or holds a name that would land outside the
// destination is refused as a whole. Without overwrite an existing file is an error.
// Returns an empty text on success, otherwise the reason.
std::string extractZip(const std::wstring& archive, const std::wstring& destination,
                       bool overwrite);

}  // namespace standin
