#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tavro {

// Tavro's entry in Apps & features and the copy of the installer that it starts.

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro" under HKEY_CURRENT_USER.
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tavro";

// %ProgramFiles%\Tavro\TavroInstaller.exe; empty when the shell cannot name Program Files.
std::filesystem::path keptInstallerPath();

// Copies the running program to keptInstallerPath(), replacing an older copy; nothing to do
// when it runs from there. false with error.
bool keepInstallerCopy(std::string& error);

// Writes the whole entry: DisplayName "Tavro", DisplayVersion, Publisher "Quendrel",
// InstallLocation, DisplayIcon (Tavro.exe), UninstallString and QuietUninstallString (the kept
// installer, quoted, with --uninstall, and --quiet), EstimatedSize (KiB, DWORD), InstallDate
// (yyyymmdd of today), NoModify and NoRepair (DWORD 1). false with error.
bool writeUninstallEntry(const std::string& version, std::uint32_t estimatedKib,
                         std::string& error);

// The updater's refresh of an existing entry: EstimatedSize, and DisplayVersion when version is
// not empty. Nothing when there is no entry. false with error.
bool refreshUninstallEntry(const std::string& version, std::uint32_t estimatedKib,
                           std::string& error);

// The product version in a program's version resource ("4.2.0.0"); empty when it has none.
std::string productVersionOf(const std::filesystem::path& program);

// After a successful install: the kept installer copy, checked to be signed as this program is
// (install/code_signature.h), then the entry, its size from the install record. false with
// error.
bool registerInstallation(const std::string& version, std::string& error);

}  // namespace tavro
