#include "install/powershell_literal.h"

namespace tavro {

bool isPowerShellSingleQuote(wchar_t c) {
    return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

std::wstring powerShellLiteral(std::wstring_view text) {
    std::wstring literal;
    literal.reserve(text.size() + 2);
    literal += L'\'';
    for (const wchar_t c : text) {
        literal += c;
        if (isPowerShellSingleQuote(c)) {
            literal += c;
        }
    }
    literal += L'\'';
    return literal;
}

}  // namespace tavro
