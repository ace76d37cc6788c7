#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/callbacks.h"
#include "fs/link_guard.h"
#include "install/install_record_text.h"

namespace tavro {

// Adds the number of regular files under folder, at any depth, to count. A missing folder adds
// nothing. Filesystem errors (other than "not found") are raised.
void countFiles(const std::filesystem::path& folder, std::int32_t& count);

// The regular files under folder at any depth, relative to it, in the order listed; links are
// never descended into, and a link itself is not listed. Filesystem errors are raised.
std::vector<std::filesystem::path> regularFilesUnder(const std::filesystem::path& folder);

// Copies every folder and regular file under source to the same relative place under
// destination, replacing existing files and leaving everything else in destination alone. Both
// trees are walked through held folder handles (install/held_folder.h): every folder is opened
// relative to the one above it and checked, and every file is read and written through a handle
// that was checked, so a folder swapped for a link during the copy cannot send a file elsewhere
// (the step fails with the refusal). A link met in the source is not followed; a file link, or a
// place in destination that is a link or a file with a second hard link, is refused.
// After each file copied, copied is raised by one and an InstallState (copied, total) is
// published. Stops at the first file that cannot be copied with
// "Copy failed: <entry> -> <target> : <platform message>"; any other failure (also an
// exception) gives false with its text. log is never called.
bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error);

// The same, with checkPath run on the destination and on every folder (in source and in
// destination) before it is entered or made there; for a file, when its checked open fails, so
// that a link is named the way checkPath names it. What it throws ends the copy like any other
// exception (false with its text).
bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, const PathCheck& checkPath);

// The same, also giving each file written as a record entry (its path relative to destination,
// its size and the SHA-256 of the bytes written, hashed as they pass by) when written is set,
// and with flushEach writing each file to the disk (FlushFileBuffers) before it is closed.
bool copyDirectoryTree(const std::filesystem::path& source,
                       const std::filesystem::path& destination, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, const PathCheck& checkPath,
                       std::vector<RecordEntry>* written, bool flushEach = false);

}  // namespace tavro
