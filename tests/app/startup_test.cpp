// The whole program in this process: runProgram with the administrator check, the elevated start
// and the error box replaced (Wine always runs as administrator and its "runas" never asks), the
// window classes and windows real. Each test runs in a process of its own, so each may register
// the classes once.
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

#include "app/startup.h"
#include "core/product_version.h"
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

}  // namespace
}  // namespace tavro
