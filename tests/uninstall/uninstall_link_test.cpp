// The uninstall with a link planted below the install root from the host side
// (cmake/plant-links.sh, see tests/uninstall/CMakeLists.txt): the recorded files behind the link
// stay, the link is refused and listed, and what it points to is not touched (plant-links.sh
// compares the link targets before and after).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/installer_core.h"
#include "fs/file_sha256.h"
#include "fs/install_paths.h"
#include "install/install_record.h"
#include "install/install_record_text.h"
#include "support/test_files.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

const fs::path kFirstTarget = L"C:/LinkTargets/0";

RecordEntry entryOf(const fs::path& file, const std::string& recordedPath) {
    std::string error;
    RecordEntry entry{recordedPath, fs::file_size(file), sha256OfFile(file, error)};
    EXPECT_EQ(error, "");
    return entry;
}

bool listedStartingWith(const std::vector<std::string>& kept, const std::string& start) {
    return std::any_of(kept.begin(), kept.end(),
                       [&start](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// plant-links.sh dir:Quendrel/Tavro/Ostrilan
TEST(UninstallLinkRefusal, FolderLinkPlantedInTheInstallRootIsRefusedAndNotFollowed) {
    test::writeFile(installRoot() / L"Tavro.exe", "the product");
    // The record names the target's files as if they were installed, with their true digests:
    // only the link stops their removal.
    const std::vector<RecordEntry> entries = {
        entryOf(installRoot() / L"Tavro.exe", "Tavro.exe"),
        entryOf(kFirstTarget / L"Ostrilan.exe", "Ostrilan/Ostrilan.exe"),
        entryOf(kFirstTarget / L"sub" / L"deep.txt", "Ostrilan/sub/deep.txt"),
    };
    test::writeFile(installRecordPath(), formatInstallRecord(entries));

    std::vector<std::string> kept;
    std::string error;
    ASSERT_TRUE(installerCore.runUninstall({}, {}, kept, error)) << error;

    EXPECT_FALSE(fs::exists(installRoot() / L"Tavro.exe"));
    EXPECT_EQ(test::readFile(kFirstTarget / L"Ostrilan.exe"), "not a program of the package\n");
    EXPECT_EQ(test::readFile(kFirstTarget / L"sub" / L"deep.txt"), "deep\n");
    EXPECT_EQ(test::readFile(kFirstTarget / L"keep.txt"), "planted target 0\n");
    EXPECT_TRUE(fs::is_symlink(installRoot() / L"Ostrilan") ||
                fs::exists(installRoot() / L"Ostrilan" / L"keep.txt"))
        << "the link itself is left for its owner";
    EXPECT_TRUE(
        listedStartingWith(kept, "Refused: C:/Quendrel/Tavro\\Ostrilan is a link or junction"));
    EXPECT_TRUE(listedStartingWith(kept, "Kept (a link): C:/Quendrel/Tavro\\Ostrilan"));
    // What lies behind the link is another folder's: none of its names reach the list (which the
    // log every user can read repeats).
    for (const std::string& line : kept) {
        EXPECT_EQ(line.find("keep.txt"), std::string::npos) << line;
        EXPECT_EQ(line.find("deep.txt"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace tavro
