#include <optional>
#include <stdexcept>

#include "api/json_text.h"
#include "api/machine_identity.h"
#include "core/installer_core.h"
#include "download/package_digest.h"
#include "download/package_download.h"
#include "net/http_client.h"
#include "net/reply_limit.h"

namespace tavro {

namespace {

constexpr char kLatestVersionPath[] = "/api/Software/LatestVersion";
constexpr std::uint32_t kQueryTimeoutSeconds = 90;
constexpr char kProductName[] = "Tavro";

std::string requestBody(const std::string& email) {
    const std::string product = jsonEscape(kProductName);
    const std::string information = jsonEscape(getPcInformation());
    const std::string escapedEmail = jsonEscape(email);
    const std::string serial = jsonEscape(getPcSerialNumber());
    return "{\"PcSerialNumber\":\"" + serial + "\",\"Email\":\"" + escapedEmail +
           "\",\"PcInformation\":\"" + information + "\",\"SoftwareName\":\"" + product + "\"}";
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A relative FileName lives on the chosen server; an absolute one (lower-case scheme) anywhere.
std::string resolvePackageUrl(const std::string& serverUrl, const std::string& fileName) {
    if (fileName.empty() || startsWith(fileName, "http://") || startsWith(fileName, "https://")) {
        return fileName;
    }
    return fileName.front() == '/' ? serverUrl + fileName : serverUrl + "/" + fileName;
}

[[noreturn]] void fail(const std::string& reason) {
    throw std::runtime_error("LatestVersion failed: " + reason);
}

// The package digest, if the reply's object has a member of that name: 64 hexadecimal digits in
// either case, kept in lower case. An empty member counts as none, as for the other members.
// Only the member name counts: a value such as "SHA256" of another member, or a digest-like
// value after it, is never taken for the digest.
std::string packageDigest(const std::string& reply) {
    const std::optional<std::string> member = jsonMemberValue(reply, "Sha256");
    if (!member || member->empty()) {
        return {};
    }
    const std::optional<std::string> digest = parseSha256Hex(*member);
    if (!digest) {
        fail("Sha256 is not 64 hexadecimal digits");
    }
    return *digest;
}

// Version and build number name the package file; a name the platform cannot create would
// only fail after the whole download, so it fails here.
void requireCreatablePackagePath(const ReleaseInfo& release) {
    const std::size_t length = longestDownloadPath(release);
    if (length > kLongestPlatformPath) {
        fail("Version and BuildNumber make a package path of " + std::to_string(length) +
             " characters; at most " + std::to_string(kLongestPlatformPath) + " are possible");
    }
}

// The reply's value, or fallback when it names none. (Built rather than assigned from a literal:
// GCC 12 at -O3 reports a false -Wrestrict overlap inside std::string's assignment.)
std::string valueOr(std::string value, const char* fallback) {
    return value.empty() ? std::string(fallback) : value;
}

}  // namespace

ReleaseInfo InstallerCore::getLatestVersion(const std::string& serverUrl,
                                            const std::string& email) {
    const HttpResponse response = httpPostJson(serverUrl + kLatestVersionPath, requestBody(email),
                                               kQueryTimeoutSeconds, kApiReplyLimitBytes);
    if (response.statusCode < 200 || response.statusCode > 299 || !response.error.empty()) {
        fail(response.error + " status=" + std::to_string(response.statusCode));
    }
    ReleaseInfo release;
    release.packageUrl = jsonFindValue(response.body, "FileName");
    release.version = valueOr(jsonFindValue(response.body, "Version"), "unknown");
    release.buildNumber = valueOr(jsonFindValue(response.body, "BuildNumber"), "0");
    release.packageUrl = resolvePackageUrl(serverUrl, release.packageUrl);
    if (release.packageUrl.empty()) {
        throw std::runtime_error("LatestVersion response has no FileName/fileName. Response: " +
                                 response.body);
    }
    release.sha256 = packageDigest(response.body);
    requireCreatablePackagePath(release);
    return release;
}

}  // namespace tavro
