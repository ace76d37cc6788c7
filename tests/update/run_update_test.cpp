#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/file_transaction.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "support/observed.h"
#include "support/timeouts.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;
using test::comparablePath;
using test::readFile;
using test::StandinRecords;

const std::filesystem::path kSource = L"C:/Quendrel/Tavro\\Update\\Unpacked";

using Observed = test::Observed<InstallState>;

std::vector<std::string> countdownLines() {
    return {"Continuing in 5...", "Continuing in 4...", "Continuing in 3...", "Continuing in 2...",
            "Continuing in 1..."};
}

std::vector<std::string> linesUntilTheSourceCheck() {
    std::vector<std::string> lines = {
        "Starting updater mode...",
        "Source: C:/Quendrel/Tavro\\Update\\Unpacked",
        "Destination: C:/Quendrel/Tavro",
        "Requesting Tavro.exe to close...",
        "Requesting Ostrilan.exe to close...",
        "Waiting 5 seconds for running Tavro processes to close...",
    };
    for (const auto& line : countdownLines()) {
        lines.push_back(line);
    }
    return lines;
}

class RunUpdate : public test::InstallationTest {
  protected:
    // An installed product that is running, with its companion.
    void installAndStartProduct() {
        installProgramStandins();
        test::writeFile(installRoot() / L"old only.txt", "old");
        test::writeFile(installRoot() / L"data" / L"file.txt", "old data");
        product = test::startProgram(installRoot() / L"Tavro.exe");
        companion = test::startProgram(installRoot() / L"Ostrilan" / L"Ostrilan.exe");
        ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));
        ASSERT_TRUE(records->waitForStarts(L"Ostrilan.exe", 1, 30s));
    }
    void expectProductClosedAndNotReopened() {
        EXPECT_TRUE(test::waitForExit(product, 5s));
        EXPECT_TRUE(test::waitForExit(companion, 5s));
        EXPECT_EQ(records->starts(L"Tavro.exe").size(), 1u);
    }
    KernelHandle product;
    KernelHandle companion;
};

// The one test with the real countdowns.
TEST_F(RunUpdate, ClosesCopiesRefreshesShortcutsAndReopensWithRealWaits) {
    installAndStartProduct();
    test::writeFile(kSource / L"Tavro.exe", test::standinBytes(L"Tavro.exe"));
    test::writeFile(kSource / L"Tavro.ico", "new icon");
    test::writeFile(kSource / L"data" / L"file.txt", "new data");
    test::writeFile(kSource / L"M\u00fcller \u2013 new" / L"it's.txt", "new");
    std::filesystem::create_directories(kSource / L"empty");

    Observed observed;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const bool result = installerCore.runUpdate(observed.progress(), observed.log(), error);
    const double seconds = test::secondsSince(start);
    ASSERT_TRUE(result) << error;
    // The first countdown lasts as long as the closed processes take to end, the second 5 s.
    EXPECT_GE(seconds, 5.0);
    EXPECT_LT(seconds, 9.0);

    std::vector<std::string> expected = linesUntilTheSourceCheck();
    expected.push_back("Copying 4 files...");
    expected.push_back("Putting 4 files in place...");
    expected.push_back("The install record holds the new files.");
    expected.push_back("Removing the 2 replaced files...");
    expected.push_back("Update complete.");
    expected.push_back("Waiting 5 seconds for running Tavro processes to open ...");
    for (const auto& line : countdownLines()) {
        expected.push_back(line);
    }
    expected.push_back("Opening Tavro: C:/Quendrel/Tavro\\Tavro.exe");
    expected.push_back("Tavro open request sent.");
    EXPECT_EQ(observed.lines(), expected);

    const auto states = observed.records();
    ASSERT_EQ(states.size(), 6u);
    EXPECT_EQ(states.front().copiedFiles, 0);
    EXPECT_EQ(states.front().totalFiles, 4);
    EXPECT_EQ(states.front().percent, 0.0);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(states[i].copiedFiles, i);
        EXPECT_EQ(states[i].percent, i * 25.0);
    }
    EXPECT_EQ(states.back().copiedFiles, 4);
    EXPECT_EQ(states.back().percent, 100.0);

    // The running copies were ended before the copy, and the product was started again.
    EXPECT_TRUE(test::waitForExit(product, 0ms));
    EXPECT_TRUE(test::waitForExit(companion, 0ms));
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 2, 30s));
    EXPECT_EQ(comparablePath(toWide(records->starts(L"Tavro.exe")[1].currentFolder)),
              L"C:\\QUENDREL\\TAVRO");

    EXPECT_EQ(readFile(installRoot() / L"data" / L"file.txt"), "new data");
    EXPECT_EQ(readFile(installRoot() / L"M\u00fcller \u2013 new" / L"it's.txt"), "new");
    EXPECT_EQ(readFile(installRoot() / L"old only.txt"), "old");
    EXPECT_TRUE(std::filesystem::is_directory(installRoot() / L"empty"));
    EXPECT_TRUE(std::filesystem::exists(kSource / L"Tavro.exe"));  // the source stays

    const auto link = test::readShellLink(test::desktopLink(L"Tavro"));
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(comparablePath(link->icon), L"C:\\QUENDREL\\TAVRO\\TAVRO.ICO");
    EXPECT_TRUE(test::readShellLink(test::startMenuLink(L"Ostrilan")).has_value());
}

TEST_F(RunUpdate, MissingSourceFailsAfterClosingAndTheProductStaysClosed) {
    installAndStartProduct();
    Observed observed;
    std::string error;
    EXPECT_FALSE(installerCore.runUpdate(observed.progress(), observed.log(), error, 10ms));
    EXPECT_EQ(error, "Update source folder not found: C:/Quendrel/Tavro\\Update\\Unpacked");
    EXPECT_EQ(observed.lines(), linesUntilTheSourceCheck());
    EXPECT_TRUE(observed.records().empty());
    expectProductClosedAndNotReopened();

    // A file in place of the folder is no source either.
    test::writeFile(kSource, "not a folder");
    EXPECT_FALSE(installerCore.runUpdate(nullptr, nullptr, error, 10ms));
    EXPECT_EQ(error, "Update source folder not found: C:/Quendrel/Tavro\\Update\\Unpacked");
}

TEST_F(RunUpdate, SourceWithOnlyEmptyFoldersFails) {
    installAndStartProduct();
    std::filesystem::create_directories(kSource / L"a" / L"b");
    std::filesystem::create_directories(kSource / L"c");
    Observed observed;
    std::string error;
    EXPECT_FALSE(installerCore.runUpdate(observed.progress(), observed.log(), error, 10ms));
    EXPECT_EQ(error, "Update source has no files: C:/Quendrel/Tavro\\Update\\Unpacked");
    EXPECT_EQ(observed.lines(), linesUntilTheSourceCheck());
    EXPECT_TRUE(observed.records().empty());
    expectProductClosedAndNotReopened();
}

TEST_F(RunUpdate, ProductMissingAfterTheCopyFailsAfterBothWaits) {
    test::writeFile(kSource / L"readme.txt", "no program in this update");
    Observed observed;
    std::string error;
    EXPECT_FALSE(installerCore.runUpdate(observed.progress(), nullptr, error, 10ms));
    EXPECT_EQ(error, "Tavro.exe was not found: C:/Quendrel/Tavro\\Tavro.exe");
    EXPECT_EQ(readFile(installRoot() / L"readme.txt"), "no program in this update");
    EXPECT_EQ(observed.records().size(), 3u);

    // The same with a log: every line up to the second countdown, and no "Opening" line.
    Observed logged;
    EXPECT_FALSE(installerCore.runUpdate(nullptr, logged.log(), error, 10ms));
    const auto lines = logged.lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[lines.size() - 6], "Waiting 5 seconds for running Tavro processes to open ...");
    EXPECT_EQ(lines.back(), "Continuing in 1...");
}

TEST_F(RunUpdate, ShortcutThatCannotBeWrittenDoesNotStopTheUpdate) {
    test::writeFile(kSource / L"Tavro.exe", test::standinBytes(L"Tavro.exe"));
    std::filesystem::create_directories(test::desktopLink(L"Tavro"));  // in the link's way
    std::string error;
    EXPECT_TRUE(installerCore.runUpdate(nullptr, nullptr, error, 10ms)) << error;
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));
}

// Held without delete sharing by a program the updater does not close: tried again for about
// 15 s, then every file is put back, the failure names the file, and the earlier version runs
// again.
TEST_F(RunUpdate, FileHeldOpenLeavesTheEarlierVersionWholeAndReopensIt) {
    installProgramStandins();
    test::writeFile(installRoot() / L"a first.txt", "old a");
    test::writeFile(installRoot() / L"locked.dat", "old");
    std::string error;
    ASSERT_TRUE(recordInstalledFiles(installRoot(), installRoot(), error)) << error;
    ParsedRecord before;
    ASSERT_TRUE(readInstallRecord(before, error)) << error;
    test::writeFile(kSource / L"a first.txt", "new a");
    test::writeFile(kSource / L"locked.dat", "new");
    test::writeFile(kSource / L"z added.txt", "added");
    const KernelHandle holder =
        test::startProgram(test::standinProgram(L"zadig-2.3.exe"),
                           L"--hold \"" + (installRoot() / L"locked.dat").native() + L"\"");
    ASSERT_TRUE(records->waitForStarts(L"zadig-2.3.exe", 1, 30s));

    Observed observed;
    EXPECT_FALSE(installerCore.runUpdate(nullptr, observed.log(), error, 10ms));
    EXPECT_NE(error.find("C:/Quendrel/Tavro\\locked.dat is in use by another program"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("The earlier files were put back"), std::string::npos) << error;
    records->requestExit(L"zadig-2.3.exe");
    ASSERT_TRUE(test::waitForExit(holder, 10s));
    EXPECT_EQ(readFile(installRoot() / L"a first.txt"), "old a");
    EXPECT_EQ(readFile(installRoot() / L"locked.dat"), "old");
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"z added.txt"));
    ParsedRecord after;
    ASSERT_TRUE(readInstallRecord(after, error)) << error;
    EXPECT_EQ(formatInstallRecord(after.entries), formatInstallRecord(before.entries));
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"TavroInstall.journal"));
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));  // the earlier version, again
}

// A file held the way Windows holds a running program (reading and deletion shared) is renamed
// aside, and a file held for a moment is waited for: the update succeeds. The old image stays
// in a staging folder while it is held and goes at the next start after that.
TEST_F(RunUpdate, RunningImageIsRenamedAsideAndABriefHoldIsWaitedFor) {
    installProgramStandins();
    test::writeFile(installRoot() / L"running.dll", "old image");
    test::writeFile(installRoot() / L"scanned.dat", "old");
    test::writeFile(kSource / L"Tavro.exe", test::standinBytes(L"Tavro.exe"));
    test::writeFile(kSource / L"running.dll", "new image");
    test::writeFile(kSource / L"scanned.dat", "new");
    const KernelHandle running = test::startProgram(
        test::standinProgram(L"zadig-2.3.exe"),
        L"--hold-running \"" + (installRoot() / L"running.dll").native() + L"\"");
    const KernelHandle scanner = test::startProgram(
        test::standinProgram(L"zadig-2.3.exe"),
        L"--hold \"" + (installRoot() / L"scanned.dat").native() + L"\" --release-after 1500");
    ASSERT_TRUE(records->waitForStarts(L"zadig-2.3.exe", 2, 30s));

    Observed observed;
    std::string error;
    ASSERT_TRUE(installerCore.runUpdate(nullptr, observed.log(), error, 10ms)) << error;
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));
    EXPECT_EQ(readFile(installRoot() / L"running.dll"), "new image");
    EXPECT_EQ(readFile(installRoot() / L"scanned.dat"), "new");
    const auto lines = observed.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "In use, trying again in 50 ms: C:/Quendrel/Tavro\\scanned.dat"),
              lines.end());
    ParsedRecord record;
    ASSERT_TRUE(readInstallRecord(record, error)) << error;
    EXPECT_NE(formatInstallRecord(record.entries).find(" 9 running.dll\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(installRoot() / L"TavroInstall.journal"));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind(
                   "Still in use, removed by a later run: C:/Quendrel/Tavro\\TavroInstall.txn.",
                   0) == 0;
    }));

    // Once nothing holds it, the next start removes the old image.
    records->requestExit(L"zadig-2.3.exe");
    ASSERT_TRUE(test::waitForExit(running, 10s));
    EXPECT_TRUE(recoverInterruptedTransaction(nullptr));
    for (const auto& entry : std::filesystem::directory_iterator(installRoot())) {
        EXPECT_EQ(entry.path().filename().native().rfind(L"TavroInstall.txn.", 0),
                  std::wstring::npos)
            << "staging folder left: " << entry.path();
    }
}

}  // namespace
}  // namespace tavro
