#include "net/proxy_lists.h"

#include <cwctype>
#include <vector>

namespace tavro {

namespace {

std::vector<std::wstring_view> splitEntries(std::wstring_view list, std::wstring_view separators) {
    std::vector<std::wstring_view> entries;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t end = list.find_first_of(separators, start);
        const std::size_t stop = end == std::wstring_view::npos ? list.size() : end;
        if (stop > start) {
            entries.push_back(list.substr(start, stop - start));
        }
        start = stop + 1;
    }
    return entries;
}

std::wstring lowerCase(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return lower;
}

// text matches pattern, where '*' stands for any run of characters (both in lower case).
bool wildcardMatch(std::wstring_view text, std::wstring_view pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starAt = std::wstring_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starAt = p++;
            starText = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starAt != std::wstring_view::npos) {
            p = starAt + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

bool entryMatches(std::wstring_view entry, std::wstring_view host, std::uint16_t port) {
    if (entry == L"<local>") {
        return host.find(L'.') == std::wstring_view::npos;
    }
    if (const std::size_t scheme = entry.find(L"://"); scheme != std::wstring_view::npos) {
        entry.remove_prefix(scheme + 3);
    }
    // A port is what follows the last colon, unless that colon is inside an IPv6 address.
    const std::size_t colon = entry.rfind(L':');
    if (colon != std::wstring_view::npos && entry.find(L']', colon) == std::wstring_view::npos &&
        entry.find(L':') == colon) {
        const std::wstring_view portText = entry.substr(colon + 1);
        entry = entry.substr(0, colon);
        if (portText != L"*" && portText != std::to_wstring(port)) {
            return false;
        }
    }
    return wildcardMatch(host, entry);
}

}  // namespace

std::wstring proxyForScheme(std::wstring_view list, std::wstring_view scheme) {
    const std::wstring wanted = lowerCase(scheme);
    for (const std::wstring_view entry : splitEntries(list, L"; \t\r\n")) {
        const std::size_t equals = entry.find(L'=');
        if (equals == std::wstring_view::npos) {
            return std::wstring(entry);
        }
        if (lowerCase(entry.substr(0, equals)) == wanted && equals + 1 < entry.size()) {
            return std::wstring(entry.substr(equals + 1));
        }
    }
    return {};
}

bool bypassesProxy(std::wstring_view host, std::uint16_t port, std::wstring_view bypassList) {
    const std::wstring lowerHost = lowerCase(host);
    for (const std::wstring_view entry : splitEntries(bypassList, L";, \t\r\n")) {
        if (entryMatches(lowerCase(entry), lowerHost, port)) {
            return true;
        }
    }
    return false;
}

}  // namespace tavro
