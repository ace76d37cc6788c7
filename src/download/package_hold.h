#pragma once

#include <filesystem>
#include <string>

#include "core/win_handles.h"

namespace tavro {

// Keeps the downloaded package as it was checked until the install is done. The download folder
// is writable by normal users while the install runs elevated and may start the USB driver tool
// from what it expands: a package swapped after its check would be installed with administrator
// rights. The returned handle lets others read the file but not write, rename or delete it; with
// a digest (lower-case hex, from the latest-version reply) the content is checked again after
// the file is held. An empty handle comes with the reason in error.
FileHandle holdPackageForInstall(const std::filesystem::path& package, const std::string& sha256,
                                 std::string& error);

}  // namespace tavro
