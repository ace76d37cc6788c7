#pragma once

#include <string>
#include <string_view>

namespace tavro {

// True for the characters PowerShell accepts as a single quote: ' and the typographic
// U+2018, U+2019, U+201A and U+201B. Any of them ends a single-quoted literal.
bool isPowerShellSingleQuote(wchar_t c);

// text as a PowerShell single-quoted literal: enclosed in ' and with every single quote of any
// of the five kinds doubled, which is how PowerShell escapes them itself, so the literal reads
// back as text and nothing in text can end it early.
std::wstring powerShellLiteral(std::wstring_view text);

}  // namespace tavro
