#include "net/user_proxy.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/diagnostics.h"
#include "core/last_error.h"
#include "core/text_convert.h"
#include "core/unique_resource.h"
#include "net/crack_url.h"
#include "net/proxy_lists.h"
#include "net/winhttp_session.h"

namespace tavro {

namespace {

struct GlobalTextTraits : KeepsLastError {
    using type = LPWSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type text) noexcept { GlobalFree(text); }
};
// Owns a string that WinHTTP allocated for its caller (freed with GlobalFree).
using GlobalText = UniqueResource<GlobalTextTraits>;

std::wstring copyOf(const GlobalText& text) {
    return text ? std::wstring(text.get()) : std::wstring();
}

// The per-user configuration, copied out of WinHTTP's strings.
struct UserConfig {
    bool autoDetect = false;
    std::wstring scriptUrl;
    std::wstring proxy;
    std::wstring bypass;

    bool usesAutoProxy() const { return autoDetect || !scriptUrl.empty(); }
    bool empty() const { return !usesAutoProxy() && proxy.empty(); }
};

UserConfig readUserConfig(std::vector<std::string>& notes) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    const bool read = WinHttpGetIEProxyConfigForCurrentUser(&raw) != 0;
    const DWORD code = read ? 0 : GetLastError();
    // Owned from here on, whatever the result said.
    const GlobalText scriptUrl(raw.lpszAutoConfigUrl);
    const GlobalText proxy(raw.lpszProxy);
    const GlobalText bypass(raw.lpszProxyBypass);
    UserConfig config;
    if (!read) {
        notes.push_back("Proxy: the user's proxy settings cannot be read (error " +
                        std::to_string(code) + "): the system's default applies");
        return config;
    }
    config.autoDetect = raw.fAutoDetect != 0;
    config.scriptUrl = copyOf(scriptUrl);
    config.proxy = copyOf(proxy);
    config.bypass = copyOf(bypass);
    return config;
}

struct ProxyInfoStrings {
    GlobalText proxy;
    GlobalText bypass;
};

// Decisions of this process: the configuration, read at the first request, a session for the
// configuration script (kept, so the platform can keep the script it fetched), and one route per
// scheme, host and port. Everything under one lock: the first request to a host decides, the
// ones beside it wait for that decision instead of consulting the script themselves.
class ProxyDecisions {
  public:
    // Notes about the decision are logged after the lock is let go, so that the probes beside
    // this one never wait for a log write.
    ProxyRoute routeFor(const std::string& url) {
        std::vector<std::string> notes;
        ProxyRoute route = decide(url, notes);
        for (const std::string& note : notes) {
            diagnostic(note);
        }
        return route;
    }

  private:
    ProxyRoute decide(const std::string& url, std::vector<std::string>& notes) {
        UrlParts parts;
        std::string error;
        if (!crackUrl(url, parts, error)) {
            return {};  // the request itself reports the bad URL
        }
        const std::wstring origin = std::wstring(parts.secure ? L"https://" : L"http://") +
                                    parts.host + L":" + std::to_wstring(parts.port);
        std::lock_guard<std::mutex> guard(lock_);
        struct Handover {
            std::vector<std::string>& from;
            std::vector<std::string>& to;
            ~Handover() { to.swap(from); }
        } handover{notes_, notes};
        if (!config_) {
            config_ = readUserConfig(notes_);
        }
        if (config_->empty()) {
            return {};
        }
        if (const auto known = routes_.find(origin); known != routes_.end()) {
            return known->second;
        }
        ProxyRoute route =
            config_->usesAutoProxy() ? fromScript(toWide(url), parts) : fromFixedProxy(parts);
        if (route.kind != ProxyRoute::Kind::SessionDefault) {
            notes_.push_back("Proxy for " + toUtf8(origin) + ": " + describe(route));
        }
        return routes_.emplace(origin, std::move(route)).first->second;
    }

    ProxyRoute fromFixedProxy(const UrlParts& parts) const {
        ProxyRoute route;
        route.kind = ProxyRoute::Kind::Direct;
        route.proxy = proxyForScheme(config_->proxy, parts.secure ? L"https" : L"http");
        if (!route.proxy.empty() && !bypassesProxy(parts.host, parts.port, config_->bypass)) {
            route.kind = ProxyRoute::Kind::Named;
        }
        if (route.kind == ProxyRoute::Kind::Direct) {
            route.proxy.clear();
        }
        return route;
    }

    // Detection that found nothing leaves the fixed proxy, if the user named one, or else the
    // system's default, as with no user setting.
    ProxyRoute withoutDetection(const UrlParts& parts) const {
        return config_->proxy.empty() ? ProxyRoute{} : fromFixedProxy(parts);
    }

    ProxyRoute fromScript(const std::wstring& url, const UrlParts& parts) {
        ProxyRoute direct;
        direct.kind = ProxyRoute::Kind::Direct;
        if (autoDetectFoundNothing_) {
            return withoutDetection(parts);
        }
        if (scriptUnusable_ || !openScriptSession()) {
            return direct;
        }
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (config_->autoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags =
                WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!config_->scriptUrl.empty()) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = config_->scriptUrl.c_str();
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        const bool found =
            WinHttpGetProxyForUrl(scriptSession_.get(), url.c_str(), &options, &info) != 0;
        const DWORD code = found ? 0 : GetLastError();
        const ProxyInfoStrings owned{GlobalText(info.lpszProxy), GlobalText(info.lpszProxyBypass)};
        if (!found && config_->scriptUrl.empty()) {
            // Detection that finds nothing is the common case on a network without a proxy.
            autoDetectFoundNothing_ = true;
            notes_.push_back("Proxy: automatic proxy detection found no configuration (error " +
                             std::to_string(code) + ")");
            return withoutDetection(parts);
        }
        if (!found) {
            // One failure stands for the run: the script would fail the same way for the next host.
            scriptUnusable_ = true;
            notes_.push_back("Proxy: " + scriptName() + " cannot be used (error " +
                             std::to_string(code) + "): requests go direct");
            return direct;
        }
        if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !owned.proxy) {
            return direct;
        }
        ProxyRoute route;
        route.kind = ProxyRoute::Kind::Named;
        route.proxy = copyOf(owned.proxy);
        route.bypass = copyOf(owned.bypass);
        return route;
    }

    bool openScriptSession() {
        if (!scriptSession_) {
            scriptSession_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
            if (!scriptSession_) {
                scriptUnusable_ = true;
                notes_.push_back("Proxy: WinHttpOpen failed (error " +
                                 std::to_string(GetLastError()) + ") for " + scriptName() +
                                 ": requests go direct");
                return false;
            }
        }
        return true;
    }

    std::string scriptName() const {
        std::string name;
        if (config_->autoDetect) {
            name = "automatic proxy detection";
        }
        if (!config_->scriptUrl.empty()) {
            name += (name.empty() ? "" : " and ");
            name += "the proxy configuration script " + toUtf8(config_->scriptUrl);
        }
        return name;
    }

    std::string describe(const ProxyRoute& route) const {
        const char* source = config_->usesAutoProxy() && !autoDetectFoundNothing_
                                 ? " (configuration script)"
                                 : " (user setting)";
        if (route.kind == ProxyRoute::Kind::Named) {
            return toUtf8(route.proxy) + source;
        }
        return std::string("direct") + source;
    }

    std::mutex lock_;
    std::optional<UserConfig> config_;
    WinHttpHandle scriptSession_;
    bool scriptUnusable_ = false;
    bool autoDetectFoundNothing_ = false;
    std::map<std::wstring, ProxyRoute> routes_;
    std::vector<std::string> notes_;  // for the caller to log once the lock is let go
};

ProxyDecisions& decisions() {
    static ProxyDecisions instance;
    return instance;
}

}  // namespace

ProxyRoute userProxyFor(const std::string& url) {
    return decisions().routeFor(url);
}

WinHttpHandle openSessionFor(const std::string& url, std::string& proxy) {
    const ProxyRoute route = userProxyFor(url);
    proxy.clear();
    switch (route.kind) {
        case ProxyRoute::Kind::SessionDefault:
            break;
        case ProxyRoute::Kind::Direct:
            return WinHttpHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        case ProxyRoute::Kind::Named:
            proxy = toUtf8(route.proxy);
            return WinHttpHandle(WinHttpOpen(
                kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy.c_str(),
                route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str(), 0));
    }
    return WinHttpHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void closeConnectionAfter(HINTERNET request, const std::string& proxy) {
    if (proxy.empty()) {
        return;
    }
    DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature))) {
        diagnostic("Proxy: WinHttpSetOption(WINHTTP_OPTION_DISABLE_FEATURE) failed (error " +
                   std::to_string(GetLastError()) + ")");
    }
}

std::string throughProxy(std::string text, const std::string& proxy) {
    if (!proxy.empty()) {
        text += " (through the proxy " + proxy + ")";
    }
    return text;
}

std::string proxyAuthenticationText(const std::string& proxy) {
    return "The proxy " + (proxy.empty() ? std::string("of this system") : proxy) +
           " asks for authentication (HTTP status 407), which this installer does not support";
}

}  // namespace tavro
