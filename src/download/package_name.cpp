#include "download/package_name.h"

namespace tavro {

std::string safeFileNamePart(std::string_view text) {
    std::string safe(text);
    for (char& c : safe) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '+' || c == '-';
        if (!allowed) {
            c = '_';
        }
    }
    return safe;
}

std::string packageFileName(const ReleaseInfo& release) {
    return "Tavro-V" + safeFileNamePart(release.version) + "-" +
           safeFileNamePart(release.buildNumber) + ".zip";
}

}  // namespace tavro
