#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/win_handles.h"
#include "fs/install_paths.h"
#include "support/test_files.h"

namespace tavro::test {

// Deterministic bytes that deflate only a little.
std::string pseudoRandomBytes(std::size_t size, unsigned seed);

// A stand-in program installed into the test prefix by tools/install-standins.sh
// (C:/standins/Tavro.exe, Ostrilan.exe, zadig-2.3.exe); its bytes, for building packages.
std::filesystem::path standinProgram(const std::wstring& name);
std::string standinBytes(const std::wstring& name);

// Removes the install root, HKCU\SOFTWARE\Tavro and the product's desktop and Start-menu links.
void removeInstallation();

// Both links of a program ("Tavro", "Ostrilan").
std::filesystem::path desktopLink(const std::wstring& name);
std::filesystem::path startMenuLink(const std::wstring& name);

struct ShellLinkInfo {
    std::wstring target;
    std::wstring workingFolder;
    std::wstring description;
    std::wstring icon;
    int iconIndex = 0;
};
// Reads a link file back through IShellLinkW; nothing when it cannot be loaded.
std::optional<ShellLinkInfo> readShellLink(const std::filesystem::path& link);

// The same path written with backslashes only and upper case, for comparing paths that the
// shell may have normalised.
std::wstring comparablePath(std::wstring path);

struct RegistryText {
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring text;
};
// A value under HKCU\SOFTWARE\Tavro; nothing when it is absent.
std::optional<RegistryText> readTavroValue(const wchar_t* name);

// The system's message for a Win32 error code, as FormatMessage gives it, without line break.
std::string systemMessage(DWORD code);

// One start of a product stand-in, as it recorded itself.
struct StandinStart {
    DWORD pid = 0;
    std::string commandLine;  // UTF-8
    std::string currentFolder;
};

// Points the stand-ins started by this test process (directly or through the product) at a
// fresh record folder: they record their starts there and end when asked. The destructor ends
// every stand-in process this test started that is still running (by its recorded id) and
// removes the folder.
class StandinRecords {
  public:
    StandinRecords();
    ~StandinRecords();
    StandinRecords(const StandinRecords&) = delete;
    StandinRecords& operator=(const StandinRecords&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::vector<StandinStart> starts(const std::wstring& program) const;
    // Waits until program has recorded at least count starts; false on timeout.
    bool waitForStarts(const std::wstring& program, std::size_t count,
                       std::chrono::milliseconds timeout) const;
    // Asks every running copy of program to end with exit code 0.
    void requestExit(const std::wstring& program) const;
    // The command lines the PowerShell stand-in received, oldest first (UTF-8).
    std::vector<std::string> powerShellCommandLines() const;

  private:
    std::filesystem::path folder_;
};

// Starts a program with arguments (appended after its quoted path); the process handle.
KernelHandle startProgram(const std::filesystem::path& program, const std::wstring& arguments = {});
// True once the process has ended, waiting at most timeout.
bool waitForExit(const KernelHandle& process, std::chrono::milliseconds timeout);

// A test that starts and ends without an installation and records the stand-ins it starts.
class InstallationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        removeInstallation();
        records.emplace();
    }
    void TearDown() override {
        records.reset();  // ends the stand-ins this test started, so their files can go
        removeInstallation();
    }
    // Puts the product and companion stand-ins where an install puts them.
    void installProgramStandins() {
        writeFile(installRoot() / L"Tavro.exe", standinBytes(L"Tavro.exe"));
        writeFile(installRoot() / L"Ostrilan" / L"Ostrilan.exe", standinBytes(L"Ostrilan.exe"));
    }
    std::optional<StandinRecords> records;
};

}  // namespace tavro::test
