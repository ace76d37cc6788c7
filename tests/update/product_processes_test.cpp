#include "update/product_processes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/hidden_command.h"
#include "install/install_test_support.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;
using test::comparablePath;
using test::StandinRecords;

class ProductProcesses : public test::InstallationTest {};

bool processEnded(DWORD pid) {
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
}

TEST_F(ProductProcesses, CloseEndsProductWithItsChildrenAndCompanionButNothingElse) {
    installProgramStandins();
    const KernelHandle product =
        test::startProgram(installRoot() / L"Tavro.exe",
                           L"--spawn \"" + test::standinProgram(L"zadig-2.3.exe").native() + L"\"");
    const KernelHandle companion =
        test::startProgram(installRoot() / L"Ostrilan" / L"Ostrilan.exe");
    const KernelHandle bystander = test::startProgram(test::standinProgram(L"zadig-2.3.exe"));
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));
    ASSERT_TRUE(records->waitForStarts(L"Ostrilan.exe", 1, 30s));
    ASSERT_TRUE(records->waitForStarts(L"zadig-2.3.exe", 2, 30s));
    const DWORD bystanderId = GetProcessId(bystander.get());
    DWORD childId = 0;
    for (const auto& start : records->starts(L"zadig-2.3.exe")) {
        childId = start.pid != bystanderId ? start.pid : childId;
    }
    ASSERT_NE(childId, 0u);

    std::vector<std::string> lines;
    std::string error = "stale";
    EXPECT_TRUE(closeRunningApps([&](const std::string& line) { lines.push_back(line); }, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(lines, (std::vector<std::string>{"Requesting Tavro.exe to close...",
                                               "Requesting Ostrilan.exe to close..."}));
    EXPECT_TRUE(test::waitForExit(product, 5s));
    EXPECT_TRUE(test::waitForExit(companion, 5s));
    EXPECT_TRUE(processEnded(childId));
    // Forced: the programs did not end by themselves.
    DWORD code = 0;
    GetExitCodeProcess(product.get(), &code);
    EXPECT_EQ(code, 1u);
    EXPECT_FALSE(test::waitForExit(bystander, 0ms));
}

TEST_F(ProductProcesses, CloseWithNothingRunningStillSucceeds) {
    std::vector<std::string> lines;
    std::string error = "stale";
    EXPECT_TRUE(closeRunningApps([&](const std::string& line) { lines.push_back(line); }, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(lines.size(), 2u);
    error = "stale";
    EXPECT_TRUE(closeRunningApps(nullptr, error));
    EXPECT_EQ(error, "");
}

TEST_F(ProductProcesses, TaskKillStandInAnswersLikeTheRealTool) {
    EXPECT_EQ(runHiddenCommand("taskkill /f /t /im NoSuchProgram.exe >nul 2>nul"), 128);
    const KernelHandle program = test::startProgram(test::standinProgram(L"Ostrilan.exe"));
    ASSERT_TRUE(records->waitForStarts(L"Ostrilan.exe", 1, 30s));
    EXPECT_EQ(runHiddenCommand("taskkill /F /IM ostrilan.exe >nul 2>nul"), 0);
    EXPECT_TRUE(test::waitForExit(program, 5s));
    EXPECT_EQ(runHiddenCommand("taskkill /t /im Ostrilan.exe /x >nul 2>nul"), 1);
}

TEST_F(ProductProcesses, OpenStartsTheProductFromTheInstallRoot) {
    installProgramStandins();
    std::vector<std::string> lines;
    std::string error = "kept";
    EXPECT_TRUE(openApplication([&](const std::string& line) { lines.push_back(line); }, error));
    EXPECT_EQ(error, "kept");
    EXPECT_EQ(lines, std::vector<std::string>{"Opening Tavro: C:/Quendrel/Tavro\\Tavro.exe"});
    ASSERT_TRUE(records->waitForStarts(L"Tavro.exe", 1, 30s));
    const auto start = records->starts(L"Tavro.exe")[0];
    EXPECT_EQ(comparablePath(toWide(start.currentFolder)), L"C:\\QUENDREL\\TAVRO");
}

TEST_F(ProductProcesses, OpenFailsForAMissingOrBrokenProgram) {
    std::vector<std::string> lines;
    const LogCallback log = [&](const std::string& line) { lines.push_back(line); };
    std::string error;
    EXPECT_FALSE(openApplication(log, error));
    EXPECT_EQ(error, "Tavro.exe was not found: C:/Quendrel/Tavro\\Tavro.exe");
    EXPECT_TRUE(lines.empty());

    test::writeFile(installRoot() / L"Tavro.exe", "this is not a program");
    EXPECT_FALSE(openApplication(log, error));
    const std::string prefix = "Could not open Tavro.exe. ShellExecute failed with code ";
    ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
    const int code = std::stoi(error.substr(prefix.size()));
    EXPECT_GE(code, 0);
    EXPECT_LE(code, 32);
    EXPECT_EQ(error, prefix + std::to_string(code));
    EXPECT_TRUE(records->starts(L"Tavro.exe").empty());
}

}  // namespace
}  // namespace tavro
