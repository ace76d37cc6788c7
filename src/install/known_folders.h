#pragma once

#include <windows.h>

#include <filesystem>

namespace tavro {

// The path of a known folder of the user the process runs as; empty when the shell cannot
// resolve it.
std::filesystem::path knownFolderPath(const GUID& folderId);

// FOLDERID_Desktop.
std::filesystem::path desktopFolder();

// FOLDERID_Programs, the Start menu's Programs folder.
std::filesystem::path programsFolder();

}  // namespace tavro
