#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "install/install_record_text.h"

namespace tavro {

// The install record in the install root ("TavroInstall.record").
std::filesystem::path installRecordPath();

// Adds every regular file under source, as installed at the same place below root, to the
// install record (size and SHA-256 of the installed file), keeping the entries of earlier installs
// for other files. Written through the link checks, by a rename into place. false with error.
bool recordInstalledFiles(const std::filesystem::path& source, const std::filesystem::path& root,
                          std::string& error);

// The entries of the install record and the lines that are not entries; an absent record has
// none. false with error when it exists but cannot be read.
bool readInstallRecord(ParsedRecord& record, std::string& error);

}  // namespace tavro
