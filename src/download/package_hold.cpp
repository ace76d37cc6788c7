#include "download/package_hold.h"

#include "core/text_convert.h"
#include "fs/file_sha256.h"
#include "fs/held_folder.h"
#include "fs/link_guard.h"
#include "fs/package_digest.h"

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
    // A link at the name is opened through under Wine, and shows where it leads.
    const std::string problem = openedFileProblem(held.get(), package);
    if (!problem.empty()) {
        error = LinkRefused(problem).what();
        return {};
    }
    if (sha256.empty()) {
        return held;
    }
    // Through the held handle: exactly the file that stays held.
    std::uint64_t size = 0;
    const std::string actual = sha256OfOpenFile(held.get(), size, error);
    LARGE_INTEGER start{};
    SetFilePointerEx(held.get(), start, nullptr, FILE_BEGIN);
    if (actual.empty()) {
        return {};
    }
    if (actual != sha256) {
        error = digestMismatchText(sha256, actual);
        return {};
    }
    return held;
}

bool discardHeldPackage(FileHandle& held, const std::filesystem::path& package) {
    held.reset();
    try {
        return HeldFolder::open(package.parent_path(), false).remove(package.filename().native());
    } catch (const std::exception&) {
        return false;  // a link, or in use: it stays
    }
}

}  // namespace tavro
