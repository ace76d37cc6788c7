#pragma once

#include <string>
#include <string_view>

#include "core/records.h"

namespace tavro {

// text with every byte outside A-Z, a-z, 0-9, '.', '_', '+' and '-' replaced by '_'. The version
// and build number come from the server and become part of a file name: this keeps the name
// inside the download folder and means the same thing to Windows, the command interpreter and
// PowerShell.
std::string safeFileNamePart(std::string_view text);

// "Tavro-V" + version + "-" + buildNumber + ".zip", both made safe (Tavro-V2.4.1-812.zip).
std::string packageFileName(const ReleaseInfo& release);

}  // namespace tavro
