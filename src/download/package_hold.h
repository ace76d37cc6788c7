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
// the file is held. The file itself is opened, never what a link at its name leads to. An empty
// handle comes with the reason in error.
FileHandle holdPackageForInstall(const std::filesystem::path& package, const std::string& sha256,
                                 std::string& error);

// Lets go of the held package and deletes it, through a checked handle to its folder: a package
// that could not be installed (its expansion failed) must not be reused by the next download, or
// every later try would fail the same way. false when it cannot be deleted.
bool discardHeldPackage(FileHandle& held, const std::filesystem::path& package);

}  // namespace tavro
