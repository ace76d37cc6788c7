#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavro {

// Records the installation under HKEY_CURRENT_USER\SOFTWARE\Tavro: "AppDirectory" = the install
// root text, "BuildNumber" = the build number (UTF-8, stored as UTF-16), both REG_SZ. false with
// "RegCreateKeyEx failed" or "RegSetValueEx failed"; a value written before a failure stays.
bool writeRegistryRecords(const std::string& buildNumber, const std::filesystem::path& installRoot,
                          std::string& error);

// A registry value or key that a removal left, and the platform's error code.
struct RegistryLeft {
    std::string name;  // "HKEY_CURRENT_USER\SOFTWARE\Tavro\AppDirectory"
    long error = 0;
};

// Removes both values and then the key, when nothing else (of others) is left in it. What
// could not be removed is returned; values and keys that are not there count as removed.
std::vector<RegistryLeft> removeRegistryRecords();

}  // namespace tavro
