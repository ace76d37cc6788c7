#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "install/zip_writer.h"
#include "support/observed.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;
using test::comparablePath;
using test::readFile;
using test::StandinRecords;

struct PackageFile {
    std::string name;  // UTF-8, '/' between folders, as in the archive
    std::string content;
    bool deflate = true;
};

// Everything a release brings, with the names that tend to break quoting and conversions.
std::vector<PackageFile> releaseFiles() {
    return {
        {"Tavro.exe", test::standinBytes(L"Tavro.exe")},
        {"Tavro.ico", test::pseudoRandomBytes(766, 1)},
        {"Ostrilan/Ostrilan.exe", test::standinBytes(L"Ostrilan.exe")},
        {"USB Driver/zadig-2.3.exe", test::standinBytes(L"zadig-2.3.exe")},
        {"data/levels/deep/blob.bin", test::pseudoRandomBytes(300000, 2)},
        {"data/levels/stored.bin", test::pseudoRandomBytes(4096, 3), false},
        {"docs/read me.txt", "Read me.\r\n"},
        {"O'Brien's notes/it's here.txt", "quotes"},
        {"M\u00fcller Stra\u00dfe/R\u00e9sum\u00e9 \u2013 \u00c7a \u00f1.txt", "code page 1252"},
    };
}

const std::vector<std::string> kEmptyFolders = {"empty/", "data/empty inner/",
                                                "with blank/nested empty/"};

// The protected folders the installs made below the program data folder and left behind.
std::vector<std::filesystem::path> protectedFoldersLeft() {
    std::vector<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(L"C:/ProgramData")) {
        if (entry.path().filename().native().rfind(L"TavroInstall.", 0) == 0) {
            left.push_back(entry.path());
        }
    }
    return left;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::filesystem::path pathOf(const std::filesystem::path& root, const std::string& name) {
    std::wstring relative = toWide(name);
    for (wchar_t& c : relative) {
        c = c == L'/' ? L'\\' : c;
    }
    return root / relative;
}

std::filesystem::path savePackage(const std::vector<PackageFile>& files,
                                  const std::vector<std::string>& folders,
                                  const std::wstring& name = L"Tavro-V2.4.1-812.zip") {
    test::ZipWriter zip;
    for (const std::string& folder : folders) {
        zip.addFolder(folder);
    }
    for (const PackageFile& file : files) {
        zip.addFile(file.name, file.content, file.deflate);
    }
    const std::filesystem::path package = downloadFolder() / name;
    zip.save(package);
    return package;
}

const std::filesystem::path kExtractFolder = L"C:/Quendrel/Tavro\\tmp\\InstallUnpacked";

using Observed = test::Observed<InstallState>;

void expectState(const InstallState& state, std::int32_t copied, std::int32_t total,
                 double percent) {
    EXPECT_EQ(state.copiedFiles, copied);
    EXPECT_EQ(state.totalFiles, total);
    EXPECT_EQ(state.percent, percent);
}

void expectLink(const std::filesystem::path& link, const std::wstring& target,
                const std::wstring& folder, const std::wstring& description,
                const std::wstring& icon) {
    SCOPED_TRACE(toUtf8(link.native()));
    const auto info = test::readShellLink(link);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(comparablePath(info->target), comparablePath(target));
    EXPECT_EQ(comparablePath(info->workingFolder), comparablePath(folder));
    EXPECT_EQ(info->description, description);
    EXPECT_EQ(comparablePath(info->icon), comparablePath(icon));
    EXPECT_EQ(info->iconIndex, 0);
}

class InstallPackage : public test::InstallationTest {};

TEST_F(InstallPackage, InstallsARealPackageEndToEndAndFinishesAfterTheDriverTool) {
    const auto files = releaseFiles();
    const std::filesystem::path package = savePackage(files, kEmptyFolders);
    const std::int32_t total = static_cast<std::int32_t>(files.size());

    Observed observed;
    std::atomic<bool> finished{false};
    bool result = false;
    std::string error;
    std::thread installer([&] {
        result = installerCore.installPackage(package, "812", true, observed.progress(),
                                              observed.log(), error);
        finished = true;
    });
    const bool toolStarted = records->waitForStarts(L"zadig-2.3.exe", 1, 30s);
    if (toolStarted) {
        // The pipeline waits for the tool: no final record while it runs.
        std::this_thread::sleep_for(500ms);
        EXPECT_FALSE(finished);
        EXPECT_EQ(observed.records().size(), static_cast<std::size_t>(total) + 1);
        records->requestExit(L"zadig-2.3.exe");
    }
    installer.join();
    ASSERT_TRUE(toolStarted);
    ASSERT_TRUE(result) << error;
    EXPECT_EQ(error, "");

    for (const PackageFile& file : files) {
        SCOPED_TRACE(file.name);
        EXPECT_EQ(readFile(pathOf(installRoot(), file.name)), file.content);
    }
    for (const std::string& folder : kEmptyFolders) {
        EXPECT_TRUE(std::filesystem::is_directory(pathOf(installRoot(), folder))) << folder;
    }
    for (const wchar_t* folder :
         {L"Protocol", L"RecordedFiles", L"Stimulation", L"database", L"USB Driver", L"tmp"}) {
        EXPECT_TRUE(std::filesystem::is_directory(installRoot() / folder));
    }
    EXPECT_FALSE(std::filesystem::exists(kExtractFolder));
    EXPECT_TRUE(std::filesystem::exists(package));

    const auto appDirectory = test::readTavroValue(L"AppDirectory");
    ASSERT_TRUE(appDirectory.has_value());
    EXPECT_EQ(appDirectory->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(appDirectory->text, L"C:/Quendrel/Tavro");
    EXPECT_EQ(appDirectory->bytes, (17u + 1u) * 2u);
    const auto buildNumber = test::readTavroValue(L"BuildNumber");
    ASSERT_TRUE(buildNumber.has_value());
    EXPECT_EQ(buildNumber->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(buildNumber->text, L"812");

    for (const auto& link : {test::desktopLink(L"Tavro"), test::startMenuLink(L"Tavro")}) {
        expectLink(link, L"C:\\Quendrel\\Tavro\\Tavro.exe", L"C:\\Quendrel\\Tavro", L"Tavro",
                   L"C:\\Quendrel\\Tavro\\Tavro.ico");
    }
    // The package has no Ostrilan.ico: its links carry no icon.
    for (const auto& link : {test::desktopLink(L"Ostrilan"), test::startMenuLink(L"Ostrilan")}) {
        expectLink(link, L"C:\\Quendrel\\Tavro\\Ostrilan\\Ostrilan.exe",
                   L"C:\\Quendrel\\Tavro\\Ostrilan", L"Ostrilan", L"");
    }

    const auto states = observed.records();
    ASSERT_EQ(states.size(), static_cast<std::size_t>(total) + 2);
    expectState(states.front(), 0, 100, 0.0);
    for (std::int32_t i = 1; i <= total; ++i) {
        expectState(states[i], i, total, i * 100.0 / total);
    }
    expectState(states.back(), total, total, 100.0);
    EXPECT_EQ(observed.lines(),
              (std::vector<std::string>{"Extracting package to temporary source folder...",
                                        "Copying " + std::to_string(total) + " files...",
                                        "Putting " + std::to_string(total) + " files in place...",
                                        "The install record holds the new files.",
                                        "Creating shortcuts..."}));

    // The tool was started by its quoted path in the install's protected copy of the package
    // (never from the install root, which every user may write), in its own folder; that copy
    // is gone after the install.
    const auto starts = records->starts(L"zadig-2.3.exe");
    ASSERT_EQ(starts.size(), 1u);
    const std::string& line = starts[0].commandLine;
    EXPECT_TRUE(startsWith(line, "\"C:\\ProgramData\\TavroInstall.")) << line;
    const std::string tool = "\\USB Driver\\zadig-2.3.exe\"";
    ASSERT_GT(line.size(), tool.size());
    EXPECT_EQ(line.substr(line.size() - tool.size()), tool);
    const std::filesystem::path started = toWide(line.substr(1, line.size() - 2));
    EXPECT_EQ(comparablePath(toWide(starts[0].currentFolder)),
              comparablePath(started.parent_path().native()));
    EXPECT_TRUE(protectedFoldersLeft().empty());
}

TEST_F(InstallPackage, SecondInstallOverwritesLeavesExtraFilesAndDropsOldLeftovers) {
    const auto files = releaseFiles();
    const std::filesystem::path package = savePackage(files, kEmptyFolders);
    std::string error;
    ASSERT_TRUE(installerCore.installPackage(package, "811", false, nullptr, nullptr, error))
        << error;

    test::writeFile(installRoot() / L"Tavro.ico", "changed by the user");
    test::writeFile(installRoot() / L"docs" / L"read me.txt", "x");
    test::writeFile(installRoot() / L"extra" / L"keep.txt", "keep");
    // A failed earlier install left its extraction folder behind.
    test::writeFile(kExtractFolder / L"stray.txt", "stray");
    test::writeFile(kExtractFolder / L"Tavro.exe", "stale program");

    // Build numbers arrive as UTF-8 and are stored as UTF-16.
    const std::string build = "2.5-\u03b2\u2713 \u00dcn\u00ef";
    ASSERT_TRUE(installerCore.installPackage(package, build, false, nullptr, nullptr, error))
        << error;
    for (const PackageFile& file : files) {
        EXPECT_EQ(readFile(pathOf(installRoot(), file.name)), file.content) << file.name;
    }
    EXPECT_EQ(readFile(installRoot() / L"extra" / L"keep.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"stray.txt"));
    EXPECT_EQ(readFile(installRoot() / L"Tavro.exe"), test::standinBytes(L"Tavro.exe"));
    EXPECT_EQ(test::readTavroValue(L"BuildNumber")->text, L"2.5-\u03b2\u2713 \u00dcn\u00ef");
    EXPECT_EQ(test::readTavroValue(L"BuildNumber")->bytes, (10u + 1u) * 2u);

    // The links were overwritten, not duplicated.
    int tavroLinks = 0;
    std::string names;
    for (const auto& entry :
         std::filesystem::directory_iterator(test::desktopLink(L"Tavro").parent_path())) {
        tavroLinks += entry.path().filename().native().rfind(L"Tavro", 0) == 0 ? 1 : 0;
        names += entry.path().filename().string() + " ";
    }
    EXPECT_EQ(tavroLinks, 1) << names;
    EXPECT_TRUE(test::readShellLink(test::startMenuLink(L"Tavro")).has_value());
}

TEST_F(InstallPackage, PackageWithFoldersOnlyFailsAndLeavesNoExtractionFolder) {
    const std::filesystem::path package = savePackage({}, {"a/", "a/b/", "c/d/"});
    Observed observed;
    std::string error;
    EXPECT_FALSE(installerCore.installPackage(package, "1", true, observed.progress(),
                                              observed.log(), error));
    EXPECT_TRUE(startsWith(
        error, "Downloaded package has no files after extract: C:\\ProgramData\\TavroInstall."))
        << error;
    EXPECT_TRUE(protectedFoldersLeft().empty());
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"a"));
    EXPECT_FALSE(test::readTavroValue(L"AppDirectory").has_value());
    EXPECT_FALSE(std::filesystem::exists(test::desktopLink(L"Tavro")));
    const auto states = observed.records();
    ASSERT_EQ(states.size(), 1u);
    expectState(states[0], 0, 100, 0.0);
    EXPECT_EQ(observed.lines(),
              std::vector<std::string>{"Extracting package to temporary source folder..."});
}

TEST_F(InstallPackage, CorruptOrMissingPackageFailsWithTheExpansionText) {
    const std::filesystem::path corrupt = downloadFolder() / L"Tavro-V9-9.zip";
    test::writeFile(corrupt, std::string(5000, 'x'));
    const std::filesystem::path missing = downloadFolder() / L"Tavro-V9-10.zip";
    for (const auto& package : {corrupt, missing}) {
        std::string error;
        EXPECT_FALSE(installerCore.installPackage(package, "9", false, nullptr, nullptr, error));
        EXPECT_EQ(error, "Expand-Archive failed for " + pathToAnsi(package));
    }
    // A package of another size than the signed one is refused before a byte is copied.
    std::string error;
    EXPECT_FALSE(
        installerCore.installPackage(corrupt, "9", false, nullptr, nullptr, error, {}, 4999));
    EXPECT_EQ(error, "The package is 5000 bytes; the release is 4999 bytes");
    EXPECT_EQ(pathToAnsi(corrupt), "C:/Quendrel/Tavro\\tmp\\Tavro-V9-9.zip");
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"Tavro.exe"));
    EXPECT_FALSE(test::readTavroValue(L"AppDirectory").has_value());
    // The folders made before the expansion stay.
    EXPECT_TRUE(std::filesystem::is_directory(installRoot() / L"Protocol"));
}

// A file held without delete sharing over an install on an earlier version: tried again for
// about 15 s, then everything is put back as it was, the record included.
TEST_F(InstallPackage, TargetHeldOpenOverAnEarlierVersionLeavesItWhole) {
    const auto earlier = releaseFiles();
    std::string error;
    ASSERT_TRUE(installerCore.installPackage(savePackage(earlier, kEmptyFolders), "811", false,
                                             nullptr, nullptr, error))
        << error;
    ParsedRecord recordBefore;
    ASSERT_TRUE(readInstallRecord(recordBefore, error)) << error;
    auto later = earlier;
    for (PackageFile& file : later) {
        file.content += " of the later version";
    }
    later.push_back({"new in the later version.txt", "new"});
    // Sorted before the held file: its folders are made before the commit fails.
    later.push_back({"A new folder/deeper/new.txt", "new"});
    const std::filesystem::path package = savePackage(later, kEmptyFolders, L"Tavro-V2.5-812.zip");

    const std::filesystem::path held = installRoot() / L"Tavro.ico";
    const KernelHandle holder = test::startProgram(test::standinProgram(L"zadig-2.3.exe"),
                                                   L"--hold \"" + held.native() + L"\"");
    ASSERT_TRUE(records->waitForStarts(L"zadig-2.3.exe", 1, 30s));
    Observed logged;
    EXPECT_FALSE(installerCore.installPackage(package, "812", false, nullptr, logged.log(), error));
    EXPECT_NE(error.find("C:/Quendrel/Tavro\\Tavro.ico is in use by another program"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("The earlier files were put back"), std::string::npos) << error;
    const auto lines = logged.lines();
    EXPECT_GE(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return startsWith(line, "In use, trying again in ");
                            }),
              10);
    records->requestExit(L"zadig-2.3.exe");
    ASSERT_TRUE(test::waitForExit(holder, 10s));

    for (const PackageFile& file : earlier) {
        EXPECT_EQ(readFile(pathOf(installRoot(), file.name)), file.content) << file.name;
    }
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"new in the later version.txt"));
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"A new folder"));  // made, then undone
    for (const std::string& folder : kEmptyFolders) {
        EXPECT_TRUE(std::filesystem::is_directory(pathOf(installRoot(), folder))) << folder;
    }
    ParsedRecord recordAfter;
    ASSERT_TRUE(readInstallRecord(recordAfter, error)) << error;
    EXPECT_EQ(formatInstallRecord(recordAfter.entries), formatInstallRecord(recordBefore.entries));
    for (const auto& entry : std::filesystem::directory_iterator(installRoot())) {
        EXPECT_EQ(entry.path().filename().native().rfind(L"TavroInstall.txn.", 0),
                  std::wstring::npos)
            << "staging folder left: " << entry.path();
    }
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"TavroInstall.journal"));
    EXPECT_TRUE(protectedFoldersLeft().empty());
    EXPECT_EQ(test::readTavroValue(L"BuildNumber")->text, L"811");
}

// What an earlier installer left in its old extraction folder below the install root, where
// every user may write, never reaches the install: the package is expanded into a folder of its
// own that only administrators can write, made fresh and removed after.
TEST_F(InstallPackage, OldExtractionFolderBelowTheInstallRootIsNeitherUsedNorNeeded) {
    const std::filesystem::path package = savePackage(releaseFiles(), {});
    test::writeFile(kExtractFolder / L"a.txt", "left by a failed install");
    test::writeFile(kExtractFolder / L"sub" / L"b.txt", "left as well");
    const KernelHandle holder = test::startProgram(
        test::standinProgram(L"Tavro.exe"), L"--hold-folder \"" + kExtractFolder.native() + L"\"");
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));

    std::string error;
    EXPECT_TRUE(installerCore.installPackage(package, "812", false, nullptr, nullptr, error))
        << error;
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"a.txt"));
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"sub"));
    EXPECT_EQ(readFile(installRoot() / L"docs" / L"read me.txt"), "Read me.\r\n");
    EXPECT_TRUE(protectedFoldersLeft().empty());
}

TEST_F(InstallPackage, ShortcutThatCannotBeSavedFailsAfterFilesAndRegistry) {
    const auto files = releaseFiles();
    const std::filesystem::path package = savePackage(files, kEmptyFolders);
    // A folder where the desktop link should go: the link cannot be saved there.
    std::filesystem::create_directories(test::desktopLink(L"Tavro"));

    std::string error;
    EXPECT_FALSE(installerCore.installPackage(package, "812", false, nullptr, nullptr, error));
    EXPECT_EQ(error, "Saving shortcut failed");
    EXPECT_EQ(readFile(installRoot() / L"Tavro.exe"), files[0].content);
    EXPECT_EQ(test::readTavroValue(L"AppDirectory")->text, L"C:/Quendrel/Tavro");
    EXPECT_EQ(test::readTavroValue(L"BuildNumber")->text, L"812");
    // The Start-menu link is not attempted after the desktop link failed.
    EXPECT_FALSE(std::filesystem::exists(test::startMenuLink(L"Tavro")));
}

TEST_F(InstallPackage, DriverToolMissingOrUnstartableNeverFailsTheInstall) {
    auto files = releaseFiles();
    files.erase(files.begin() + 3);  // no USB Driver/zadig-2.3.exe
    std::filesystem::path package = savePackage(files, kEmptyFolders);
    Observed observed;
    std::string error = "untouched";
    EXPECT_TRUE(
        installerCore.installPackage(package, "1", true, observed.progress(), nullptr, error));
    EXPECT_EQ(error, "untouched");
    EXPECT_TRUE(records->starts(L"zadig-2.3.exe").empty());
    expectState(observed.records().back(), 8, 8, 100.0);

    files.push_back({"USB Driver/zadig-2.3.exe", "this is not a program"});
    package = savePackage(files, kEmptyFolders, L"Tavro-V2-2.zip");
    Observed second;
    error.clear();
    EXPECT_TRUE(
        installerCore.installPackage(package, "2", true, second.progress(), nullptr, error));
    EXPECT_EQ(error, "Could not start USB driver installer");
    expectState(second.records().back(), 9, 9, 100.0);
}

TEST_F(InstallPackage, PackageWithoutTheProductGetsOnlyCompanionLinks) {
    const std::filesystem::path package =
        savePackage({{"Ostrilan/Ostrilan.exe", test::standinBytes(L"Ostrilan.exe")},
                     {"Ostrilan/Ostrilan.ico", "icon"}},
                    {});
    std::string error;
    ASSERT_TRUE(installerCore.installPackage(package, "3", false, nullptr, nullptr, error))
        << error;
    EXPECT_FALSE(std::filesystem::exists(test::desktopLink(L"Tavro")));
    EXPECT_FALSE(std::filesystem::exists(test::startMenuLink(L"Tavro")));
    expectLink(test::desktopLink(L"Ostrilan"), L"C:\\Quendrel\\Tavro\\Ostrilan\\Ostrilan.exe",
               L"C:\\Quendrel\\Tavro\\Ostrilan", L"Ostrilan",
               L"C:\\Quendrel\\Tavro\\Ostrilan\\Ostrilan.ico");
    EXPECT_TRUE(test::readShellLink(test::startMenuLink(L"Ostrilan")).has_value());
}

TEST_F(InstallPackage, InstallRootThatCannotBeCreatedFailsWithTheFilesystemText) {
    // A file where the install root should be.
    std::filesystem::create_directories(installRoot().parent_path());
    test::writeFile(installRoot(), "not a folder");
    std::string error;
    EXPECT_FALSE(installerCore.installPackage(downloadFolder() / L"p.zip", "1", false, nullptr,
                                              nullptr, error));
    EXPECT_NE(error.find("C:/Quendrel/Tavro"), std::string::npos) << error;
    std::filesystem::remove(installRoot());
}

}  // namespace
}  // namespace tavro
