#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/callbacks.h"
#include "install/install_record_text.h"

namespace tavro {

// The install record in the install root ("TavroInstall.record").
std::filesystem::path installRecordPath();

// Adds every regular file under source, as installed at the same place below root, to the
// install record (size and SHA-256 of the installed file), keeping the entries of earlier installs
// for other files. Written through the link checks, by a rename into place. false with error.
bool recordInstalledFiles(const std::filesystem::path& source, const std::filesystem::path& root,
                          std::string& error);

// Adds installed (entries made as the files were written) to the install record, keeping the
// entries of earlier installs for other files. The record is read and written through a held
// handle to the install root: the new text goes to a new file, is flushed to the disk and then
// renamed over the old record, so a crash or power loss leaves either the old record or the new
// one. A record with lines that are not entries (damaged, or not a record at all) is never taken
// for an empty one: it is renamed to "TavroInstall.record.damaged" (replacing an older one) and
// log says so, and its good entries are kept. false with error.
bool recordInstalledFiles(const std::vector<const RecordEntry*>& installed, LogCallback log,
                          std::string& error);
bool recordInstalledFiles(const std::vector<RecordEntry>& installed, LogCallback log,
                          std::string& error);

// The entries of the install record and the lines that are not entries; an absent record has
// none. false with error when it exists but cannot be read.
bool readInstallRecord(ParsedRecord& record, std::string& error);

}  // namespace tavro
