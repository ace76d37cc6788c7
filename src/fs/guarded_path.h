#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// Path texts as Windows reads them ('/' and '\' both separate elements, letters compare without
// regard to case), handled as text so that the rules run and are tested on any system.

// Every element from top down to path itself, each as the leading part of path as written: for
// top "C:/Quendrel" and path "C:/Quendrel/Tavro\tmp\a.zip" that is "C:/Quendrel",
// "C:/Quendrel/Tavro", "C:/Quendrel/Tavro\tmp", "C:/Quendrel/Tavro\tmp\a.zip". Empty when path
// is neither top nor below it (ASCII letters compared without case).
std::vector<std::wstring> guardedChain(std::wstring_view top, std::wstring_view path);

// A path written for comparison with what the platform reports for an open file: "\\?\"
// dropped, '\' between elements, no empty or "." elements, no separator at the end. ".." stays
// as it is, so a path that climbs out never equals where it really leads.
std::wstring comparableForm(std::wstring_view path);

// Why a path is refused, naming it (8-bit text as shown in messages).
std::string reparsePointText(const std::string& path);
std::string leadsElsewhereText(const std::string& path, const std::string& reached);
std::string hardLinkText(const std::string& path, std::uint32_t links);
std::string unresolvedText(const std::string& path, std::uint32_t errorCode);

}  // namespace tavro
