#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

// The proxy a user's proxy list names for one URL scheme ("http" or "https"). The list is the
// form the per-user settings hold: entries separated by ';' or white space, each either a server
// for every scheme ("proxy:3128") or one for a single scheme ("https=proxy:3128"). The first
// entry that fits wins; empty when none does (the scheme goes direct).
std::wstring proxyForScheme(std::wstring_view list, std::wstring_view scheme);

// Whether host (port) is on a user's bypass list: entries separated by ';', ',' or white space,
// compared without regard to letter case, '*' matching any run of characters, an entry may carry
// a scheme ("http://") and a port (":8080", then only that port matches); "<local>" matches
// every host name without a dot.
bool bypassesProxy(std::wstring_view host, std::uint16_t port, std::wstring_view bypassList);

}  // namespace tavro
