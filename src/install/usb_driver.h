#pragma once

#include <filesystem>
#include <string>

namespace tavro {

// Starts "<toolFolder>\zadig-2.3.exe" when the package brought it and waits until it has exited.
// toolFolder must be a folder only administrators can write (the install's protected copy of
// the package, "USB Driver" in it): the tool runs elevated, by its full path, with that folder
// as its current folder, so neither it nor a DLL it loads from beside itself can be one that
// another user planted. true also when there is no such tool; false with "Could not start USB
// driver installer" when it cannot be started. A failed existence check is raised as a
// filesystem error.
bool launchUsbDriverInstaller(const std::filesystem::path& toolFolder, std::string& error);

}  // namespace tavro
