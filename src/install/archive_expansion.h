#pragma once

#include <filesystem>
#include <string>

namespace tavro {

// path in the ANSI code page as a PowerShell single-quoted literal (every single quote,
// typographic ones included, doubled). Throws std::system_error 1113 when the code page cannot
// hold a character of path.
std::string powerShellQuote(const std::filesystem::path& path);

// Creates destination (with missing parents; a failure is raised as a filesystem error) and
// expands the zip archive into it through PowerShell's Expand-Archive, replacing files of the
// same name. Judged by the exit code alone: false with "Expand-Archive failed for <archive>".
bool expandArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                   std::string& error);

// Whether an install's error is the expansion's ("Expand-Archive failed for ...").
bool isExpansionFailure(const std::string& error);

}  // namespace tavro
