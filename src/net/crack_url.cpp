#include "net/crack_url.h"

#include <windows.h>
#include <winhttp.h>

#include "core/text_convert.h"

namespace tavro {

bool crackUrl(const std::string& url, UrlParts& parts, std::string& error) {
    const std::wstring wide = toWide(url);
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &components)) {
        error = "WinHttpCrackUrl failed";
        return false;
    }
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.port = components.nPort;
    parts.host.assign(components.lpszHostName ? components.lpszHostName : L"",
                      components.lpszHostName ? components.dwHostNameLength : 0);
    parts.path.clear();
    if (components.lpszUrlPath) {
        parts.path.append(components.lpszUrlPath, components.dwUrlPathLength);
    }
    if (components.lpszExtraInfo) {
        parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    }
    if (parts.path.empty()) {
        parts.path = L"/";
    }
    return true;
}

}  // namespace tavro
