#pragma once

#include <filesystem>
#include <string>

namespace tavro {

// Records the installation under HKEY_CURRENT_USER\SOFTWARE\Tavro: "AppDirectory" = the install
// root text, "BuildNumber" = the build number (UTF-8, stored as UTF-16), both REG_SZ. false with
// "RegCreateKeyEx failed" or "RegSetValueEx failed"; a value written before a failure stays.
bool writeRegistryRecords(const std::string& buildNumber, const std::filesystem::path& installRoot,
                          std::string& error);

}  // namespace tavro
