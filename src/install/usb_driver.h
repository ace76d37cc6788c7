#pragma once

#include <string>

namespace tavro {

// Starts "<install root>\USB Driver\zadig-2.3.exe" when the package brought it and waits until
// it has exited. true also when there is no such tool; false with "Could not start USB driver
// installer" when it cannot be started. A failed existence check is raised as a filesystem
// error.
bool launchUsbDriverInstaller(std::string& error);

}  // namespace tavro
