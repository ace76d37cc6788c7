#pragma once

#include <filesystem>
#include <string>

namespace tavro {

// Desktop and Start-menu links for Tavro and, when its program is installed, for Ostrilan.
// false with error set when a link cannot be written. Filesystem errors (a failed existence
// check, a link folder that cannot be created) are raised to the caller.
bool createShortcuts(std::string& error);

// The two links of one program: <folder>\<name>.exe, started in folder, described by name, with
// <folder>\<name>.ico as icon when that file exists. A program that is not installed gets no
// links and counts as success. name is UTF-8.
bool createProgramShortcuts(std::string& error, const std::string& name,
                            const std::filesystem::path& folder);

// Writes one shell link file, replacing an existing one. COM is initialised for the calling
// thread around the call and left as it was found. The icon is set only when that file exists.
bool createShellLink(const std::filesystem::path& linkPath, const std::filesystem::path& target,
                     const std::filesystem::path& workingFolder, const std::filesystem::path& icon,
                     const std::wstring& description, std::string& error);

}  // namespace tavro
