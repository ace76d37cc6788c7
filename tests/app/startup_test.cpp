// The whole program in this process: runProgram with the administrator check, the elevated start
// and the error box replaced (Wine always runs as administrator and its "runas" never asks), the
// window classes and windows real. Each test runs in a process of its own, so each may register
// the classes once.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/elevation.h"
#include "app/startup.h"
#include "core/product_version.h"
#include "install/lock_down_rules.h"
#include "install/log_file.h"
#include "core/app_state.h"
#include "ui/main_window.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;

// Every error box ends with where the log is.
constexpr char kLogNote[] = "\n\nDetails: C:/Quendrel/Tavro/Logs/TavroInstaller.log";

// Where this test process's lines begin in the run's log.
const std::size_t logStartOffset = [] {
    std::error_code error;
    const auto size = std::filesystem::file_size(logFilePath(), error);
    return error ? std::size_t{0} : static_cast<std::size_t>(size);
}();

struct Shown {
    std::string text;
    std::string caption;
};

// Services that record what startup asked for.
struct FakeSystem {
    bool administrator = true;
    bool elevatedStartWorks = true;
    int administratorChecks = 0;
    int elevatedStarts = 0;
    std::vector<std::wstring> elevatedParameters;
    std::vector<Shown> errors;
    bool answerYes = true;
    std::vector<std::string> questions;

    StartupServices services() {
        return StartupServices{[this] {
                                   ++administratorChecks;
                                   return administrator;
                               },
                               [this](const std::wstring& parameters) {
                                   elevatedParameters.push_back(parameters);
                                   ++elevatedStarts;
                                   return elevatedStartWorks;
                               },
                               [this](const char* text, const char* caption) {
                                   errors.push_back({text, caption});
                               },
                               [this](const char* text, const char*) {
                                   questions.emplace_back(text);
                                   return answerYes;
                               }};
    }
};

// What this process wrote to the run's log (the file is shared with earlier runs).
std::string readLog() {
    std::ifstream file(logFilePath(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return text.substr(std::min(text.size(), logStartOffset));
}

// Whether the log has a line holding first whose next line holds second (each line begins with
// its time and thread).
bool linesFollow(const std::string& log, const std::string& first, const std::string& second) {
    for (std::size_t at = log.find(first); at != std::string::npos; at = log.find(first, at + 1)) {
        const std::size_t next = log.find("\r\n", at);
        const std::size_t end = log.find("\r\n", next + 2);
        if (next != std::string::npos &&
            log.substr(next, end - next).find(second) != std::string::npos) {
            return true;
        }
    }
    return false;
}

int run(const char* commandLine, const StartupServices& services) {
    return runProgram(GetModuleHandleA(nullptr), commandLine, SW_SHOWNORMAL, services);
}

// Waits on another thread until the program's window is shown, notes its outer size and style,
// and closes it.
class WindowCloser {
  public:
    explicit WindowCloser(const char* title)
        : thread_([this, title] {
              const auto end = std::chrono::steady_clock::now() + 20s;
              while (std::chrono::steady_clock::now() < end) {
                  const HWND window = FindWindowA(kMainWindowClass, title);
                  if (window != nullptr && IsWindowVisible(window)) {
                      RECT outer{};
                      GetWindowRect(window, &outer);
                      width_ = outer.right - outer.left;
                      height_ = outer.bottom - outer.top;
                      style_ = GetWindowLongA(window, GWL_STYLE);
                      PostMessageA(window, WM_CLOSE, 0, 0);
                      return;
                  }
                  std::this_thread::sleep_for(20ms);
              }
          }) {}
    ~WindowCloser() { join(); }
    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int width() const { return width_; }
    int height() const { return height_; }
    LONG style() const { return style_; }

  private:
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
    std::atomic<LONG> style_{0};
    std::thread thread_;
};

TEST(Startup, InstallerWithoutAdministratorRightsStartsAnElevatedCopyAndEnds) {
    FakeSystem system;
    system.administrator = false;
    EXPECT_EQ(run("\"C:\\Users\\me\\Downloads\\TavroInstaller.exe\"", system.services()), 0);
    EXPECT_EQ(system.elevatedStarts, 1);
    EXPECT_TRUE(system.errors.empty());
    EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);

    system.elevatedStartWorks = false;  // refused or failed
    EXPECT_EQ(run("TavroInstaller.exe", system.services()), 1);
    ASSERT_EQ(system.errors.size(), 1u);
    EXPECT_EQ(system.errors[0].caption, "Tavro Installer");
    EXPECT_EQ(system.errors[0].text,
              "Administrator permission is required for installer mode because it writes to "
              "C:/Quendrel/Tavro, creates shortcuts, and writes install metadata.\n\n"
              "Details: C:/Quendrel/Tavro/Logs/TavroInstaller.log");

    // Both runs are in the log, each from its start to its exit code, the error as shown.
    const std::string log = readLog();
    EXPECT_NE(log.find("Start: Tavro Installer " TAVRO_PRODUCT_VERSION ", installer mode, "
                       "elevated: "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Started an elevated copy of the installer.\r\n"), std::string::npos);
    EXPECT_NE(log.find("Error shown (Tavro Installer): Administrator permission is required"),
              std::string::npos);
    EXPECT_NE(log.find("End: exit code 0\r\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("End: exit code 1\r\n")) << log;
}

TEST(Startup, InstallerWindowRunsUntilClosedAtItsFixedSize) {
    FakeSystem system;
    WindowCloser closer("Tavro Installer");
    EXPECT_EQ(run("TavroInstaller.exe", system.services()), 0);
    closer.join();
    EXPECT_EQ(system.administratorChecks, 1);
    EXPECT_TRUE(system.errors.empty());
    EXPECT_EQ(closer.width(), 704);
    EXPECT_EQ(closer.height(), 329);
    EXPECT_EQ(closer.style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
}

TEST(Startup, UpdaterNeedsNoAdministratorRightsAndRunsItsOwnWindow) {
    FakeSystem system;
    system.administrator = false;
    WindowCloser closer("Tavro Updater");
    EXPECT_EQ(run("\"C:\\Quendrel\\Tavro\\TavroInstaller.exe\" --updater", system.services()), 0);
    closer.join();
    EXPECT_EQ(system.administratorChecks, 0);
    EXPECT_EQ(system.elevatedStarts, 0);
    EXPECT_EQ(closer.width(), 720);
    EXPECT_EQ(closer.height(), 395);
    EXPECT_EQ(closer.style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
}

TEST(Startup, UninstallAsksFirstElevatesWithItsSwitchesAndRunsQuietlyFromAScript) {
    FakeSystem system;
    system.answerYes = false;
    EXPECT_EQ(run("TavroInstaller.exe --uninstall", system.services()), 0);  // "No"
    ASSERT_EQ(system.questions.size(), 1u);
    EXPECT_NE(system.questions[0].find("Remove Tavro and Ostrilan"), std::string::npos);
    EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);

    system.administrator = false;
    EXPECT_EQ(run("TavroInstaller.exe /uninstall", system.services()), 0);
    EXPECT_EQ(run("TavroInstaller.exe --uninstall --quiet", system.services()), 0);
    EXPECT_EQ(system.elevatedParameters,
              (std::vector<std::wstring>{L"--uninstall", L"--uninstall --quiet"}));

    // Elevated and quiet: no question, no box, no window; the outcome is the exit code.
    system.administrator = true;
    EXPECT_EQ(run("TavroInstaller.exe --uninstall --quiet", system.services()), 0);
    EXPECT_EQ(system.questions.size(), 1u);
    EXPECT_TRUE(system.errors.empty());
    const std::string log = readLog();
    EXPECT_NE(log.find("Start: Tavro Installer " TAVRO_PRODUCT_VERSION ", uninstall (quiet) mode"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Uninstall cancelled."), std::string::npos);
    EXPECT_NE(log.find("] Uninstall complete"), std::string::npos) << log;
}

TEST(Startup, ATakenWindowClassIsReportedAndEndsWithOne) {
    WNDCLASSA taken{};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = kMainWindowClass;
    ASSERT_NE(RegisterClassA(&taken), 0);
    FakeSystem system;
    EXPECT_EQ(run("TavroInstaller.exe", system.services()), 1);
    ASSERT_EQ(system.errors.size(), 1u);
    EXPECT_EQ(system.errors[0].text,
              std::string("Could not register application window class.") + kLogNote);
    EXPECT_EQ(system.errors[0].caption, "Tavro Installer");
}

// The system refuses the main window (as a hook or an exhausted desktop heap would).
LRESULT CALLBACK refuseMainWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        char name[64] = {};
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof(name));
        if (std::string(name) == kMainWindowClass) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Startup, ARefusedWindowIsReportedAndEndsWithOne) {
    const HHOOK hook = SetWindowsHookExA(WH_CBT, refuseMainWindow, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    FakeSystem system;
    const int code = run("TavroInstaller.exe /updater", system.services());
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(code, 1);
    ASSERT_EQ(system.errors.size(), 1u);
    EXPECT_EQ(system.errors[0].text,
              std::string("Could not create application window.") + kLogNote);
    EXPECT_EQ(system.errors[0].caption, "Tavro Installer");
}

TEST(Startup, AnExceptionDuringStartupIsShownAsACrashAndEndsWithOne) {
    FakeSystem system;
    StartupServices services = system.services();
    services.isAdministrator = []() -> bool { throw std::runtime_error("token query failed"); };
    EXPECT_EQ(run("TavroInstaller.exe", services), 1);
    services.isAdministrator = []() -> bool { throw 42; };
    EXPECT_EQ(run("TavroInstaller.exe", services), 1);
    ASSERT_EQ(system.errors.size(), 2u);
    EXPECT_EQ(system.errors[0].caption, "Tavro Installer crashed");
    EXPECT_EQ(system.errors[0].text, std::string("token query failed") + kLogNote);
    EXPECT_EQ(system.errors[1].caption, "Tavro Installer crashed");
    EXPECT_EQ(system.errors[1].text, std::string("Unknown startup error.") + kLogNote);
}

// Deployment: the unattended and passive installs' start, and one installer at a time.

TEST(StartupDeployment, AnUnelevatedUnattendedInstallEndsWithItsElevatedCopysCode) {
    FakeSystem system;
    system.administrator = false;
    StartupServices services = system.services();
    std::vector<std::wstring> parameters;
    ElevatedRun outcome{true, 1619, 0};
    services.runElevatedCopy = [&](const std::wstring& given) {
        parameters.push_back(given);
        return outcome;
    };
    EXPECT_EQ(run(R"(T.exe /quiet /email "first last@example.com" /usb-driver)", services), 1619);
    outcome = ElevatedRun{true, 0, 0};
    EXPECT_EQ(run("T.exe --passive --email a@b.c", services), 0);
    outcome = ElevatedRun{false, 0, ERROR_CANCELLED};  // the user declined the prompt
    EXPECT_EQ(run("T.exe --quiet --email a@b.c", services), 1602);
    outcome = ElevatedRun{false, 0, ERROR_FILE_NOT_FOUND};
    EXPECT_EQ(run("T.exe --quiet --email a@b.c", services), 1603);

    EXPECT_EQ(parameters,
              (std::vector<std::wstring>{
                  LR"(--quiet --email "first last@example.com" --usb-driver)",
                  L"--passive --email a@b.c", L"--quiet --email a@b.c", L"--quiet --email a@b.c"}));
    EXPECT_EQ(system.elevatedStarts, 0);  // never started without waiting
    EXPECT_TRUE(system.errors.empty());   // and never a box
    EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);
    const std::string log = readLog();
    EXPECT_NE(log.find("installer (quiet) mode"), std::string::npos) << log;
    EXPECT_TRUE(
        linesFollow(log, "The elevated copy ended with exit code 1619", "End: exit code 1619"))
        << log;
    EXPECT_NE(log.find("The elevated copy did not start, error 1223"), std::string::npos);
}

TEST(StartupDeployment, ABadLineEndsWith87BeforeElevationOrAnyBox) {
    FakeSystem system;
    system.administrator = false;
    EXPECT_EQ(run("T.exe --quiet --email nobody", system.services()), 87);
    EXPECT_EQ(run("T.exe --passive --email a@b.c /log x.txt", system.services()), 87);
    EXPECT_EQ(system.administratorChecks, 0);
    EXPECT_EQ(system.elevatedStarts, 0);
    EXPECT_TRUE(system.errors.empty());
    const std::string log = readLog();
    EXPECT_NE(log.find("Command line refused: the address after --email is not an e-mail address"),
              std::string::npos)
        << log;
    EXPECT_TRUE(
        linesFollow(log, "Command line refused: unknown switch \"/log\"", "End: exit code 87"))
        << log;
    EXPECT_EQ(log.find("Checking the API servers"), std::string::npos);
}

// Another installer's lock, held by a thread of this process until released.
class OtherInstaller {
  public:
    // sddl: the lock's descriptor, as another account would make it; none: the default one.
    explicit OtherInstaller(const wchar_t* name, const wchar_t* sddl = nullptr)
        : thread_([this, name, sddl] {
              PSECURITY_DESCRIPTOR descriptor = nullptr;
              if (sddl) {
                  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                       &descriptor, nullptr);
              }
              SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
              const HANDLE mutex = CreateMutexW(sddl ? &attributes : nullptr, TRUE, name);
              LocalFree(descriptor);
              held_ = true;
              while (!release_) {
                  std::this_thread::sleep_for(10ms);
              }
              ReleaseMutex(mutex);
              CloseHandle(mutex);
          }) {
        while (!held_) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ~OtherInstaller() {
        release();
        thread_.join();
    }
    void release() { release_ = true; }

  private:
    std::atomic<bool> held_{false};
    std::atomic<bool> release_{false};
    std::thread thread_;
};

constexpr wchar_t kSessionLock[] = L"Local\\Quendrel.Tavro.Installer";
constexpr wchar_t kMachineLock[] = L"Global\\Quendrel.Tavro.Installer";

TEST(StartupDeployment, WhileAnotherInstallerRunsADeploymentEndsWith1618AtOnce) {
    FakeSystem system;
    {
        OtherInstaller other(kSessionLock);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run("T.exe --quiet --email a@b.c", system.services()), 1618);
        EXPECT_EQ(run("T.exe --passive --email a@b.c", system.services()), 1618);
        EXPECT_EQ(run("T.exe --uninstall --quiet", system.services()), 1618);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    {
        OtherInstaller deploymentTool(kMachineLock);  // under another account or session
        EXPECT_EQ(run("T.exe --quiet --email a@b.c", system.services()), 1618);
    }
    EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);
    EXPECT_TRUE(system.errors.empty());
    EXPECT_TRUE(system.questions.empty());
    const std::string log = readLog();
    EXPECT_TRUE(
        linesFollow(log, "Another installer is running: nothing was done.", "End: exit code 1618"))
        << log;
    EXPECT_NE(log.find("Another installer is running in another session or account"),
              std::string::npos);
    EXPECT_EQ(log.find("Checking the API servers"), std::string::npos);
}

TEST(StartupDeployment, OnlyAMachineWideLockTheAdministratorsOwnIsObeyed) {
    FakeSystem system;
    {
        // A standard user's process made the name first and holds it: nothing waits for it.
        OtherInstaller squatter(kMachineLock, L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)");
        EXPECT_NE(run("T.exe --uninstall --quiet", system.services()), 1618);
    }
    EXPECT_NE(readLog().find("Installer lock Global\\Quendrel.Tavro.Installer not obeyed: it is "
                             "owned by S-1-5-21-1-2-3-1001, not by the administrators"),
              std::string::npos)
        << readLog();
    for (const wchar_t* sddl : {L"O:BAD:(A;;GA;;;WD)", L"O:SYD:(A;;GA;;;WD)"}) {
        OtherInstaller elevated(kMachineLock, sddl);
        EXPECT_EQ(run("T.exe --uninstall --quiet", system.services()), 1618);
    }
}

TEST(StartupDeployment, UnderTheLockDownPolicyTheUpdaterRefusesAtOnceWithItsOwnCode) {
    const DWORD on = 1;
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue, REG_DWORD, &on, sizeof(on)),
        ERROR_SUCCESS);
    FakeSystem system;
    StartupServices services = system.services();
    services.updaterWait = 20s;
    {
        OtherInstaller other(kSessionLock);  // not even waited for
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run("T.exe --updater", services), 1625);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue);
    const std::string text =
        "Updates are turned off on this computer by its administrator (the Tavro lock-down "
        "policy): the update was not started. New versions come from the administrator's installs.";
    ASSERT_EQ(system.errors.size(), 1u);
    EXPECT_EQ(system.errors[0].text,
              text + "\n\nDetails: C:/Quendrel/Tavro/Logs/TavroInstaller.log");
    EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);
    EXPECT_TRUE(linesFollow(readLog(), text, "End: exit code 1625")) << readLog();
}

TEST(StartupDeployment, TheUpdaterWaitsABoundedTimeForARunningInstaller) {
    FakeSystem system;
    StartupServices services = system.services();
    services.updaterWait = 600ms;
    {
        OtherInstaller other(kSessionLock);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run("T.exe --updater", services), 1618);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms);
    }
    EXPECT_TRUE(linesFollow(readLog(),
                            "Another installer was still running after 600 ms: the update was "
                            "not started.",
                            "End: exit code 1618"))
        << readLog();

    // An install that ends within the wait: the update goes ahead.
    services.updaterWait = 20s;
    OtherInstaller other(kMachineLock);
    std::thread releaseSoon([&other] {
        std::this_thread::sleep_for(500ms);
        other.release();
    });
    WindowCloser closer("Tavro Updater");
    EXPECT_EQ(run("T.exe --updater", services), 0);
    closer.join();
    releaseSoon.join();
    EXPECT_EQ(closer.width(), 720);
}

}  // namespace
}  // namespace tavro
