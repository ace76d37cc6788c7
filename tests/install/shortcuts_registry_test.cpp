#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/data_folders.h"
#include "install/install_test_support.h"
#include "install/known_folders.h"
#include "install/registry_records.h"
#include "install/shortcuts.h"

namespace tavro {
namespace {

using test::comparablePath;
using test::ScratchFolder;

class ShellParts : public ::testing::Test {
  protected:
    void SetUp() override { test::removeInstallation(); }
    void TearDown() override { test::removeInstallation(); }
};

// True when the calling thread holds no COM initialisation: a switch to the multithreaded
// apartment is only accepted then.
bool threadHasNoCom() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result)) {
        CoUninitialize();
    }
    return result == S_OK;
}

TEST_F(ShellParts, KnownFoldersAreTheUsersDesktopAndStartMenuPrograms) {
    wchar_t user[256];
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(user, &size));
    EXPECT_EQ(comparablePath(desktopFolder().native()),
              comparablePath(std::wstring(L"C:\\users\\") + user + L"\\Desktop"));
    const std::wstring programs = comparablePath(programsFolder().native());
    const std::wstring tail = L"\\START MENU\\PROGRAMS";
    ASSERT_GE(programs.size(), tail.size());
    EXPECT_EQ(programs.substr(programs.size() - tail.size()), tail);
    EXPECT_TRUE(knownFolderPath(GUID{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}}).empty());
}

TEST_F(ShellParts, ShellLinkIsWrittenOverwrittenAndComIsLeftAsFound) {
    ScratchFolder scratch;
    const std::filesystem::path target = scratch.path() / L"app dir" / L"App.exe";
    const std::filesystem::path icon = scratch.path() / L"app dir" / L"App.ico";
    test::writeFile(target, "program");
    const std::filesystem::path link = scratch.path() / L"links" / L"new folder" / L"App.lnk";

    std::thread([&] {
        std::string error;
        // No icon file yet: no icon location.
        EXPECT_TRUE(createShellLink(link, target, target.parent_path(), icon, L"First", error));
        EXPECT_EQ(error, "");
        const auto first = test::readShellLink(link);
        EXPECT_TRUE(first && first->icon.empty());
        EXPECT_TRUE(threadHasNoCom());

        // A thread that has COM already keeps exactly its own initialisation.
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        test::writeFile(icon, "icon");
        EXPECT_TRUE(createShellLink(link, target, target.parent_path(), icon,
                                    L"Second \u00e9\u2713", error));
        CoUninitialize();
        EXPECT_TRUE(threadHasNoCom());
    }).join();

    const auto info = test::readShellLink(link);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(comparablePath(info->target), comparablePath(target.native()));
    EXPECT_EQ(comparablePath(info->workingFolder), comparablePath(target.parent_path().native()));
    EXPECT_EQ(info->description, L"Second \u00e9\u2713");
    EXPECT_EQ(comparablePath(info->icon), comparablePath(icon.native()));
}

TEST_F(ShellParts, ShellLinkFailuresReportAndStillBalanceCom) {
    ScratchFolder scratch;
    const std::filesystem::path target = scratch.path() / L"App.exe";
    test::writeFile(target, "program");
    std::thread([&] {
        // A folder in the way of the link file: the save fails.
        const std::filesystem::path blocked = scratch.path() / L"Blocked.lnk";
        std::filesystem::create_directories(blocked);
        std::string error;
        EXPECT_FALSE(createShellLink(blocked, target, scratch.path(), L"", L"x", error));
        EXPECT_EQ(error, "Saving shortcut failed");
        EXPECT_TRUE(threadHasNoCom());

        // A file in the way of the link's folder: raised, with every COM object released.
        test::writeFile(scratch.path() / L"file", "x");
        EXPECT_THROW(createShellLink(scratch.path() / L"file" / L"App.lnk", target, scratch.path(),
                                     L"", L"x", error),
                     std::filesystem::filesystem_error);
        EXPECT_TRUE(threadHasNoCom());
    }).join();
}

TEST_F(ShellParts, RegistryRecordsAreUtf16StringsWithTheirTerminator) {
    std::string error;
    ASSERT_TRUE(writeRegistryRecords("812", installRoot(), error));
    auto value = test::readTavroValue(L"AppDirectory");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->text, L"C:/Quendrel/Tavro");
    EXPECT_EQ(value->bytes, 36u);

    ASSERT_TRUE(writeRegistryRecords("\u00e9t\u00e9 \u65e5\u672c", L"D:/Other Root", error));
    EXPECT_EQ(test::readTavroValue(L"AppDirectory")->text, L"D:/Other Root");
    value = test::readTavroValue(L"BuildNumber");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->text, L"\u00e9t\u00e9 \u65e5\u672c");
    EXPECT_EQ(value->bytes, (6u + 1u) * 2u);

    ASSERT_TRUE(writeRegistryRecords("", installRoot(), error));
    EXPECT_EQ(test::readTavroValue(L"BuildNumber")->bytes, 2u);
    EXPECT_EQ(error, "");
}

TEST_F(ShellParts, DataFoldersAreCreatedOrTheFilesystemTextIsReported) {
    std::string error;
    ASSERT_TRUE(createDataFolders(error)) << error;
    for (const wchar_t* folder :
         {L"Protocol", L"RecordedFiles", L"Stimulation", L"database", L"USB Driver", L"tmp"}) {
        EXPECT_TRUE(std::filesystem::is_directory(installRoot() / folder));
    }
    ASSERT_TRUE(createDataFolders(error)) << error;  // existing folders are fine

    // A file where one folder should be: that folder fails, the ones before it stay.
    test::removeInstallation();
    test::writeFile(installRoot() / L"Stimulation", "file");
    EXPECT_FALSE(createDataFolders(error));
    EXPECT_NE(error.find("Stimulation"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(installRoot() / L"RecordedFiles"));
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"database"));
}

TEST_F(ShellParts, ShortcutsOnlyForProgramsThatAreInstalled) {
    std::string error = "untouched";
    // Nothing installed: nothing to link, and that is success.
    EXPECT_TRUE(createShortcuts(error));
    EXPECT_EQ(error, "untouched");
    EXPECT_FALSE(std::filesystem::exists(test::desktopLink(L"Tavro")));

    test::writeFile(installRoot() / L"Tavro.exe", "program");
    EXPECT_TRUE(createShortcuts(error));
    EXPECT_TRUE(test::readShellLink(test::desktopLink(L"Tavro")).has_value());
    EXPECT_TRUE(test::readShellLink(test::startMenuLink(L"Tavro")).has_value());
    EXPECT_FALSE(std::filesystem::exists(test::desktopLink(L"Ostrilan")));
}

}  // namespace
}  // namespace tavro
