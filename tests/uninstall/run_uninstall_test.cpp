// The uninstall after an install and after the product made files of its own: exactly the
// installed, unchanged files go, with the shortcuts, the registry values and the entry; the
// user's files stay and are listed, and the record names nothing outside the install root.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/install_paths.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "install/uninstall_entry.h"
#include "install/zip_writer.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool listed(const std::vector<std::string>& kept, const std::string& line) {
    return std::find(kept.begin(), kept.end(), line) != kept.end();
}

class RunUninstall : public test::InstallationTest {
  protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        std::error_code ignored;
        fs::remove(kOutside, ignored);
        test::InstallationTest::TearDown();
    }

    void install() {
        test::ZipWriter zip;
        zip.addFile("Tavro.exe", test::standinBytes(L"Tavro.exe"));
        zip.addFile("Ostrilan/Ostrilan.exe", test::standinBytes(L"Ostrilan.exe"));
        zip.addFile("data/levels/one.bin", "level one");
        zip.addFile("README.txt", "read me");
        const fs::path package = downloadFolder() / L"Tavro-V2.4.1-812.zip";
        fs::create_directories(downloadFolder());
        zip.save(package);
        std::string error;
        ASSERT_TRUE(installerCore.installPackage(package, "812", false, {}, {}, error)) << error;
        ASSERT_TRUE(writeUninstallEntry("2.4.1", 1, error)) << error;
    }

    const fs::path kOutside = L"C:/Quendrel/outside.txt";
};

TEST_F(RunUninstall, RemovesExactlyTheInstalledFilesAndKeepsAndListsTheUsersOwn) {
    install();
    test::writeFile(installRoot() / L"RecordedFiles" / L"session.rec", "the user's recording");
    test::writeFile(installRoot() / L"README.txt", "edited by the user");
    test::writeFile(kOutside, "outside the install root");
    // The record is the user's to write: names that leave the root are refused.
    std::string text = test::readFile(installRecordPath());
    const std::string digest = text.substr(text.find('\n') + 1, 64);
    text += digest + " 24 ../outside.txt\n" + digest + " 24 C:/Quendrel/outside.txt\n" +
            "not an entry\n";
    test::writeFile(installRecordPath(), text);
    ASSERT_TRUE(test::readShellLink(test::desktopLink(L"Tavro")).has_value());
    const KernelHandle product = test::startProgram(installRoot() / L"Tavro.exe");
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));

    std::vector<std::string> kept;
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(installerCore.runUninstall(
        {}, [&lines](const std::string& line) { lines.push_back(line); }, kept, error))
        << error;
    EXPECT_TRUE(test::waitForExit(product, 10s));  // closed before its file was removed

    EXPECT_FALSE(fs::exists(installRoot() / L"Tavro.exe"));
    EXPECT_FALSE(fs::exists(installRoot() / L"Ostrilan"));  // emptied, so removed
    EXPECT_FALSE(fs::exists(installRoot() / L"data"));
    EXPECT_FALSE(fs::exists(installRecordPath()));
    EXPECT_EQ(test::readFile(installRoot() / L"README.txt"), "edited by the user");
    EXPECT_EQ(test::readFile(installRoot() / L"RecordedFiles" / L"session.rec"),
              "the user's recording");
    EXPECT_EQ(test::readFile(kOutside), "outside the install root");
    EXPECT_FALSE(fs::exists(installRoot() / L"Protocol"));  // an empty data folder

    EXPECT_TRUE(listed(kept, "Kept (changed since it was installed): README.txt"));
    EXPECT_TRUE(
        listed(kept, "Kept (not installed): C:/Quendrel/Tavro\\RecordedFiles\\session.rec"));
    EXPECT_TRUE(listed(kept, "Refused (a \"..\" element): ../outside.txt"));
    EXPECT_TRUE(listed(kept, "Refused (a drive or stream in the name): C:/Quendrel/outside.txt"));
    EXPECT_TRUE(listed(kept, "Refused (not a record entry): not an entry"));

    EXPECT_FALSE(fs::exists(test::desktopLink(L"Tavro")));
    EXPECT_FALSE(fs::exists(test::startMenuLink(L"Ostrilan").parent_path()));
    EXPECT_FALSE(test::readTavroValue(L"AppDirectory").has_value());
    EXPECT_FALSE(test::readTavroValue(L"BuildNumber").has_value());
    HKEY entry = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &entry), ERROR_SUCCESS);
    EXPECT_EQ(lines.back(), "Uninstall complete; kept what is listed.");
}

TEST_F(RunUninstall, AShortcutThatCannotBeDeletedIsListedAndNotCalledRemoved) {
    install();
    const fs::path link = test::desktopLink(L"Tavro");
    const FileHandle held(CreateFileW(link.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    std::vector<std::string> kept;
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(installerCore.runUninstall(
        {}, [&lines](const std::string& line) { lines.push_back(line); }, kept, error))
        << error;

    EXPECT_TRUE(fs::exists(link));
    EXPECT_FALSE(fs::exists(test::desktopLink(L"Ostrilan")));
    const std::string line = "Kept (cannot be removed, error 32): " + toUtf8(link.native());
    EXPECT_TRUE(listed(kept, line));
    EXPECT_TRUE(listed(lines, line));
    EXPECT_FALSE(listed(lines, "Shortcuts removed."));
    EXPECT_TRUE(listed(lines, "Shortcuts removed but those listed."));
    EXPECT_TRUE(listed(lines, "Registry values and the Apps & features entry removed."));
    EXPECT_EQ(lines.back(), "Uninstall complete; kept what is listed.");
}

TEST_F(RunUninstall, WithoutAnInstallThereIsNothingToKeep) {
    std::vector<std::string> kept;
    std::string error;
    EXPECT_TRUE(installerCore.runUninstall({}, {}, kept, error)) << error;
    EXPECT_TRUE(kept.empty());
}

}  // namespace
}  // namespace tavro
