#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/installer_core.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
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
    EXPECT_GE(seconds, 10.0);
    EXPECT_LT(seconds, 20.0);

    std::vector<std::string> expected = linesUntilTheSourceCheck();
    expected.push_back("Copying 4 files...");
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

TEST_F(RunUpdate, FileHeldOpenStopsTheCopyWithItsText) {
    test::writeFile(installRoot() / L"Tavro.exe", test::standinBytes(L"Tavro.exe"));
    test::writeFile(kSource / L"Tavro.exe", test::standinBytes(L"Tavro.exe"));
    test::writeFile(kSource / L"locked.dat", "new");
    const std::filesystem::path held = installRoot() / L"locked.dat";
    test::writeFile(held, "old");
    // Held by a program that the updater does not close.
    const KernelHandle holder = test::startProgram(test::standinProgram(L"zadig-2.3.exe"),
                                                   L"--hold \"" + held.native() + L"\"");
    ASSERT_TRUE(records->waitForStarts(L"zadig-2.3.exe", 1, 30s));
    std::string error;
    EXPECT_FALSE(installerCore.runUpdate(nullptr, nullptr, error, 10ms));
    EXPECT_EQ(error,
              "Copy failed: C:/Quendrel/Tavro\\Update\\Unpacked\\locked.dat -> "
              "C:/Quendrel/Tavro\\locked.dat : " +
                  test::systemMessage(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(records->starts(L"Tavro.exe").empty());
}

}  // namespace
}  // namespace tavro
