#include "download/package_hold.h"

#include "core/text_convert.h"
#include "download/file_sha256.h"
#include "download/package_digest.h"

namespace tavro {

FileHandle holdPackageForInstall(const std::filesystem::path& package, const std::string& sha256,
                                 std::string& error) {
    // Read sharing only: nobody can change, rename or delete the file while it is held. The
    // package itself is opened, never what a link planted at its name points to.
    FileHandle held(CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) {
        error = "Cannot open the downloaded package " + pathToAnsi(package) + ": error " +
                std::to_string(GetLastError());
        return {};
    }
    if (sha256.empty()) {
        return held;
    }
    const std::string actual = sha256OfFile(package, error);
    if (actual.empty()) {
        return {};
    }
    if (actual != sha256) {
        error = digestMismatchText(sha256, actual);
        return {};
    }
    return held;
}

}  // namespace tavro
