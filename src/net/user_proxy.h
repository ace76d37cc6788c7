#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "net/winhttp_session.h"

namespace tavro {

// The proxy the current user's configuration (the per-user settings browsers use: a fixed proxy
// with a bypass list, a configuration script, automatic detection) selects for one URL.
struct ProxyRoute {
    enum class Kind {
        SessionDefault,  // the user has no proxy configured: the session keeps its own setting
        Direct,          // no proxy for this URL (configured so, or the script could not be used)
        Named,           // through `proxy`, except for the hosts of `bypass`
    };
    Kind kind = Kind::SessionDefault;
    std::wstring proxy;  // WinHTTP's proxy list form, e.g. "127.0.0.1:3128" or "http=a:1;https=b:2"
    std::wstring bypass;  // WinHTTP's bypass list, e.g. "localhost;*.example;<local>"
};

// What the user's configuration selects for url (an http or https URL, UTF-8). The configuration
// is read once per process and each decision is kept per scheme, host and port, so the requests
// of one run to one host consult a configuration script once. The first decision for each host,
// and a script that could not be fetched or run, are written to the diagnostics sink.
// Safe to call from any thread.
ProxyRoute userProxyFor(const std::string& url);

// Opens a synchronous session (the installer's user agent) that goes the way the user's settings
// select for url: the system's default when the user has none, direct, or through a named proxy.
// proxy receives that proxy's name as UTF-8, empty when there is none. Null when WinHttpOpen
// fails.
WinHttpHandle openSessionFor(const std::string& url, std::string& proxy);

// Keeps a request through a proxy from leaving its connection to later requests. Wine's WinHTTP
// pools connections by the proxy alone, and so sent a request for one https host into a tunnel
// that an earlier request had opened to another. No request here reuses a connection anyway.
void closeConnectionAfter(HINTERNET request, const std::string& proxy);

// The text of a request that failed or was refused on its way through proxy: the transport's
// text followed by the proxy's name, so the user sees where the trouble is.
std::string throughProxy(std::string text, const std::string& proxy);

// The error of a 407 answer: the proxy wants credentials, which the installer does not give.
std::string proxyAuthenticationText(const std::string& proxy);

}  // namespace tavro
