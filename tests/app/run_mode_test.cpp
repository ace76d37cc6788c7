#include "app/run_mode.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(RunMode, UpdaterWhereverTheLineHoldsEitherSwitchByteForByte) {
    EXPECT_TRUE(isUpdaterCommandLine(R"("C:\Users\a\Downloads\TavroInstaller.exe" --updater)"));
    EXPECT_TRUE(isUpdaterCommandLine(R"("C:\Users\a\Downloads\TavroInstaller.exe" /updater)"));
    EXPECT_TRUE(isUpdaterCommandLine(R"(TavroInstaller.exe /updaterX)"));
    EXPECT_TRUE(isUpdaterCommandLine(R"("C:/Tools/updater/TavroInstaller.exe")"));  // the path
    EXPECT_TRUE(isUpdaterCommandLine("/updater"));   // exactly 8 characters
    EXPECT_TRUE(isUpdaterCommandLine("--updater"));  // exactly 9

    EXPECT_FALSE(isUpdaterCommandLine(R"(TavroInstaller.exe --UPDATER)"));
    EXPECT_FALSE(isUpdaterCommandLine(R"(TavroInstaller.exe -updater)"));
    EXPECT_FALSE(isUpdaterCommandLine(R"("C:\Tools\updater\TavroInstaller.exe")"));
    EXPECT_FALSE(isUpdaterCommandLine("/update"));
    EXPECT_FALSE(isUpdaterCommandLine(""));
}

TEST(RunMode, UninstallByEitherSwitchAndTheUpdaterSwitchStillWins) {
    EXPECT_EQ(runModeOf(R"("C:\Program Files\Tavro\TavroInstaller.exe" --uninstall)"),
              RunMode::uninstall);
    EXPECT_EQ(runModeOf("TavroInstaller.exe /uninstall /quiet"), RunMode::uninstall);
    EXPECT_EQ(runModeOf("TavroInstaller.exe --uninstall --updater"), RunMode::updater);
    EXPECT_EQ(runModeOf("TavroInstaller.exe /updater"), RunMode::updater);
    EXPECT_EQ(runModeOf("TavroInstaller.exe --UNINSTALL"), RunMode::installer);
    EXPECT_EQ(runModeOf("TavroInstaller.exe -uninstall"), RunMode::installer);
    EXPECT_EQ(runModeOf(""), RunMode::installer);

    EXPECT_TRUE(isQuietCommandLine("TavroInstaller.exe --uninstall --quiet"));
    EXPECT_TRUE(isQuietCommandLine("TavroInstaller.exe /uninstall /quiet"));
    EXPECT_FALSE(isQuietCommandLine("TavroInstaller.exe --uninstall -quiet"));
}

TEST(RunMode, OurSwitchesAreWholeArgumentsAndNeverReadInsideTheAddress) {
    // An address holding a switch chooses nothing: the quiet install it asks for stays one.
    EXPECT_EQ(runModeOf("TavroInstaller.exe --quiet --email ops--uninstall@corp.example"),
              RunMode::installer);
    EXPECT_EQ(runModeOf("TavroInstaller.exe --quiet --email ops/updater@corp.example"),
              RunMode::installer);
    EXPECT_EQ(runModeOf(R"(TavroInstaller.exe --passive --email "a --updater@b.example")"),
              RunMode::installer);
    EXPECT_FALSE(isQuietCommandLine("TavroInstaller.exe --uninstall --email x--quiet@y.example"));
    EXPECT_EQ(runModeOf("TavroInstaller.exe --quiet --email --uninstall"), RunMode::installer);
    // Our switches count only whole; an argument that only holds one is not it.
    EXPECT_EQ(runModeOf("TavroInstaller.exe x--uninstall"), RunMode::installer);
    EXPECT_FALSE(isQuietCommandLine("TavroInstaller.exe --uninstall --quietly"));
    // Beside our switches the updater is still found in any other argument or the path.
    EXPECT_EQ(runModeOf("TavroInstaller.exe --quiet --email a@b.example --updater"),
              RunMode::updater);
    EXPECT_EQ(runModeOf(R"("C:/Tools/updater/TavroInstaller.exe" --uninstall)"), RunMode::updater);
}

}  // namespace
}  // namespace tavro
