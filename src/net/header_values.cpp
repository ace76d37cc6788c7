#include "net/header_values.h"

#include <cwctype>
#include <limits>
#include <string>

namespace tavro {

namespace {

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Reads decimal digits at text[pos...]; false when there are none or the value overflows.
bool readNumber(std::wstring_view text, std::size_t& pos, std::uint64_t& value) {
    const std::size_t start = pos;
    value = 0;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[pos] - L'0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return pos > start;
}

}  // namespace

std::uint64_t parseContentLength(std::wstring_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && std::iswspace(static_cast<std::wint_t>(text[pos]))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    constexpr std::uint64_t kMax =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t value = 0;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[pos] - L'0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;  // saturates like wcstoll
    }
    return negative ? 0 : value;
}

bool acceptsByteRanges(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return lower.find(L"bytes") != std::wstring::npos;
}

std::optional<ContentRange> parseContentRange(std::wstring_view text) {
    constexpr std::wstring_view kUnit = L"bytes ";
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == L' ') {
        ++pos;
    }
    if (text.substr(pos, kUnit.size()) != kUnit) {
        return std::nullopt;
    }
    pos += kUnit.size();
    ContentRange range;
    if (!readNumber(text, pos, range.first) || pos >= text.size() || text[pos] != L'-') {
        return std::nullopt;
    }
    ++pos;
    if (!readNumber(text, pos, range.last) || pos >= text.size() || text[pos] != L'/' ||
        range.last < range.first) {
        return std::nullopt;
    }
    return range;
}

}  // namespace tavro
