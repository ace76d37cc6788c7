// The real main window in this process: controls read back as a person sees them, the button and
// check-box table walked through with real clicks, the private messages fed to the window
// procedure, and the workers running against a real local server (the program's API server list
// in this test binary points at 127.0.0.1:47301..47306 unless TAVRO_TEST_PORT_BASE moves them).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "core/app_state.h"
#include "core/installer_core.h"
#include "core/product_version.h"
#include "download/package_hold.h"
#include "fs/file_sha256.h"
#include "fs/install_paths.h"
#include "support/test_files.h"
#include "support/test_http_server.h"
#include "ui/main_window.h"
#include "ui/progress_bar.h"
#include "ui/task_messages.h"
#include "ui/ui_messages.h"
#include "ui/window_layout.h"
#include "ui/window_state.h"
#include "ui/window_test_support.h"
#include "ui/workers.h"

namespace tavro {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr std::uint16_t kFirstApiPort = TAVRO_TEST_FIRST_API_PORT;

WindowControls& controls() {
    return windowState.controls;
}

// The first of the program's API servers: answers the probe, and whatever a test adds.
class ApiServer {
  public:
    ApiServer() : server_(kFirstApiPort) {
        server_.on("/api/Tavro/IsUp", Reply::text(200, "true"));
    }
    TestHttpServer& operator*() { return server_; }
    TestHttpServer* operator->() { return &server_; }

  private:
    TestHttpServer server_;
};

void postDownloadProgress(HWND window, double percent, double megabytes, double speed) {
    ASSERT_TRUE(postPayload(
        window, MSG_DOWNLOAD_PROGRESS,
        std::make_unique<DownloadProgress>(DownloadProgress{percent, megabytes, speed})));
}

void postLine(HWND window, UINT message, const std::string& text) {
    ASSERT_TRUE(postPayload(window, message, std::make_unique<std::string>(text)));
}

WPARAM percent(std::int32_t value) {
    return static_cast<WPARAM>(static_cast<std::uint32_t>(value));
}

// What the Download, Pause, Install buttons and the USB box show, in that order.
std::string buttonStates() {
    std::string states;
    for (HWND control : {controls().downloadButton, controls().pauseButton,
                         controls().installButton, controls().usbCheckBox}) {
        states += enabled(control) ? '1' : '0';
    }
    return states;
}

// The child laid out at an entry's rectangle (some labels overlap, so no point lookup).
HWND childPlacedAt(HWND window, const ControlPlacement& placement) {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT placed = clientRectInParent(child);
        if (placed.left == placement.x && placed.top == placement.y &&
            placed.right - placed.left == placement.width &&
            placed.bottom - placed.top == placement.height) {
            return child;
        }
    }
    return nullptr;
}

// The child at a layout entry's place: it exists there with the entry's size, class and text.
void expectPlacedAsLaidOut(HWND window, const ControlPlacement& placement) {
    SCOPED_TRACE(std::string(placement.className) + " \"" + placement.text + "\"");
    const HWND child = childPlacedAt(window, placement);
    ASSERT_NE(child, nullptr);
    const RECT placed = clientRectInParent(child);
    EXPECT_EQ(placed.left, placement.x);
    EXPECT_EQ(placed.top, placement.y);
    EXPECT_EQ(placed.right - placed.left, placement.width);
    EXPECT_EQ(placed.bottom - placed.top, placement.height);
    char className[32] = {};
    GetClassNameA(child, className, sizeof(className));
    EXPECT_STREQ(className, placement.className == std::string("STATIC")   ? "Static"
                            : placement.className == std::string("EDIT")   ? "Edit"
                            : placement.className == std::string("BUTTON") ? "Button"
                                                                           : placement.className);
    if (placement.slot != &WindowControls::statusLabel) {  // the server check may have changed it
        EXPECT_EQ(textOf(child), placement.text);
    }
    // The edit class takes WS_BORDER over and draws that border itself, as on Windows.
    const DWORD classOwned = placement.className == std::string("EDIT") ? WS_BORDER : 0;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), placement.style & ~classOwned);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE,
              placement.extendedStyle & WS_EX_CLIENTEDGE);
    const HFONT expectedFont =
        placement.font == ControlFont::large   ? windowState.resources.largeFont.get()
        : placement.font == ControlFont::small ? windowState.resources.smallFont.get()
                                               : nullptr;
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), expectedFont);
}

TEST(MainWindow, BothModesBuildEveryControlInPlaceAtTheirFixedOuterSize) {
    struct Mode {
        bool updater;
        std::span<const ControlPlacement> layout;
        const char* title;
        int width, height;
    };
    for (const Mode& mode : {Mode{false, installerLayout(), "Tavro Installer", 704, 329},
                             Mode{true, updaterLayout(), "Tavro Updater", 720, 395}}) {
        SCOPED_TRACE(mode.title);
        TestWindow window(mode.updater);
        ASSERT_NE(window.handle(), nullptr);
        RECT outer{};
        GetWindowRect(window.handle(), &outer);
        EXPECT_EQ(outer.right - outer.left, mode.width);
        EXPECT_EQ(outer.bottom - outer.top, mode.height);
        EXPECT_EQ(textOf(window.handle()), mode.title);
        const LONG style = GetWindowLongA(window.handle(), GWL_STYLE);
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN),
                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN);
        for (const ControlPlacement& placement : mode.layout) {
            expectPlacedAsLaidOut(window.handle(), placement);
        }
        // The spelling a person reads, whatever the tables say.
        EXPECT_EQ(textOf(FindWindowExA(window.handle(), nullptr, "Static", TAVRO_PRODUCT_VERSION)),
                  "4.0.0.0-260530");
        if (mode.updater) {
            EXPECT_EQ(GetWindowLongA(controls().logEdit, GWL_STYLE), 0x50200844);
        } else {
            EXPECT_EQ(GetWindowLongA(controls().emailEdit, GWL_STYLE), 0x50800080 & ~WS_BORDER);
            EXPECT_EQ(GetWindowLongA(controls().usbCheckBox, GWL_STYLE), 0x58000002);
            EXPECT_EQ(buttonStates(), "0000");
        }
    }
}

// One installer-mode run through the button table: server check, e-mail validation, Install
// before any download, a download that fails, progress and the finished download, an install
// that fails, install progress, and the finished install.
TEST(MainWindow, InstallerButtonsFollowTheRunFromServerCheckToInstall) {
    ApiServer api;
    Reply slowFailure = Reply::text(500, "busy");
    slowFailure.delay = 1500ms;
    api->on("/api/Software/LatestVersion", slowFailure);
    MessageBoxCloser boxes;
    TestWindow window(false);
    const HWND w = window.handle();
    EXPECT_EQ(textOf(controls().statusLabel), "Checking...");

    // The real server check finds the local server.
    ASSERT_TRUE(pumpUntil([] { return textOf(controls().statusLabel) == "Server OK"; }, 10s));
    EXPECT_EQ(buttonStates(), "0000");  // no e-mail yet
    typeText(controls().emailEdit, "user@example");
    EXPECT_FALSE(enabled(controls().downloadButton));
    typeText(controls().emailEdit, "user@example.com");
    EXPECT_TRUE(enabled(controls().downloadButton));
    typeText(controls().emailEdit, "");
    EXPECT_FALSE(enabled(controls().downloadButton));
    typeText(controls().emailEdit, ".@");
    EXPECT_TRUE(enabled(controls().downloadButton));

    // Install before any download: one box, nothing else changes.
    PostMessageA(w, WM_COMMAND, MAKEWPARAM(kInstallId, BN_CLICKED), 0);
    ASSERT_TRUE(boxes.waitFor("Tavro Installer", 5s));
    EXPECT_EQ(boxes.seen().back().text, "Please download first.");
    EXPECT_EQ(buttonStates(), "1000");

    // The check box flips on each click although it is not automatic.
    EnableWindow(controls().usbCheckBox, TRUE);
    press(controls().usbCheckBox);
    EXPECT_EQ(SendMessageA(controls().usbCheckBox, BM_GETCHECK, 0, 0), BST_CHECKED);
    press(controls().usbCheckBox);
    EXPECT_EQ(SendMessageA(controls().usbCheckBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // Download pressed: the labels reset; while it runs, no text enables Download again.
    SetWindowTextA(controls().pauseButton, "Resume");
    press(controls().downloadButton);
    EXPECT_EQ(buttonStates(), "0100");
    EXPECT_EQ(textOf(controls().pauseButton), "Pause");
    EXPECT_EQ(textOf(controls().downloadPercentLabel), "0.00 %");
    EXPECT_EQ(textOf(controls().downloadedLabel), "0 MB");
    EXPECT_EQ(textOf(controls().speedLabel), "0 MB/s");
    EXPECT_EQ(progressBarValue(controls().downloadBar), 0);
    EXPECT_EQ(textOf(controls().statusLabel), "Server OK");  // changes with the first progress
    typeText(controls().emailEdit, "someone@example.org");
    EXPECT_FALSE(enabled(controls().downloadButton));

    // Pause and Resume flip the engine's flag and the button's text.
    press(controls().pauseButton);
    EXPECT_EQ(textOf(controls().pauseButton), "Resume");
    EXPECT_TRUE(installerCore.paused.load());
    press(controls().pauseButton);
    EXPECT_EQ(textOf(controls().pauseButton), "Pause");
    EXPECT_FALSE(installerCore.paused.load());

    // The query fails: its box first, and only after it is closed the buttons come back.
    ASSERT_TRUE(boxes.waitFor("Download failed", 10s));
    EXPECT_EQ(boxes.seen().back().text, "LatestVersion failed:  status=500");
    ASSERT_TRUE(pumpUntil([] { return buttonStates() == "1001"; }, 5s)) << buttonStates();

    // Progress as the throttled adapter posts it.
    postDownloadProgress(w, 42.5678, 12.4, 3.254);
    pumpFor(50ms);
    EXPECT_EQ(textOf(controls().downloadPercentLabel), "42.57 %");
    EXPECT_EQ(textOf(controls().downloadedLabel), "12 MB");
    EXPECT_EQ(textOf(controls().speedLabel), "3.25 MB/s");
    EXPECT_EQ(textOf(controls().statusLabel), "Downloading...");
    EXPECT_EQ(progressBarValue(controls().downloadBar), 43);
    postDownloadProgress(w, 99.5, 40.0, 8.0);
    postDownloadProgress(w, 250.0, 40.0, 8.0);  // a bar never goes past full
    pumpFor(50ms);
    EXPECT_EQ(progressBarValue(controls().downloadBar), 100);

    // A finished download; afterwards typing follows the validation again.
    appState.taskRunning = true;
    postSignal(w, MSG_DOWNLOAD_DONE);
    pumpFor(50ms);
    EXPECT_EQ(buttonStates(), "1011");
    EXPECT_EQ(textOf(controls().statusLabel), "Finished!");
    EXPECT_EQ(textOf(controls().downloadPercentLabel), "100%");
    typeText(controls().emailEdit, "nope");
    EXPECT_FALSE(enabled(controls().downloadButton));
    typeText(controls().emailEdit, "user@example.com");
    EXPECT_TRUE(enabled(controls().downloadButton));

    // Install with a package that is not there: the failure box comes, then Install is offered
    // again since a package was downloaded. (The install can end before the pulse's first step,
    // so the bar is not checked here; the pulse has its own test.)
    appState.packageReady = true;
    appState.packageFile = L"C:/Quendrel/Tavro/tmp/missing-package.zip";
    press(controls().installButton);
    EXPECT_EQ(buttonStates(), "0000");
    EXPECT_EQ(textOf(controls().installPercentLabel), "0%");
    ASSERT_TRUE(boxes.waitFor("Install failed", 30s));
    ASSERT_TRUE(pumpUntil([] { return buttonStates() == "1011"; }, 5s)) << buttonStates();
    EXPECT_EQ(appState.exitCode, 1603);  // until an install succeeds

    // Install progress: the highest value stays, truncation happened in the adapter.
    appState.installProgressMax = 0;
    PostMessageA(w, MSG_INSTALL_PROGRESS, percent(50), 0);
    PostMessageA(w, MSG_INSTALL_PROGRESS, percent(30), 0);
    pumpFor(50ms);
    EXPECT_EQ(progressBarValue(controls().installBar), 50);
    EXPECT_EQ(textOf(controls().installPercentLabel), "50%");
    PostMessageA(w, MSG_INSTALL_PROGRESS, percent(99), 0);
    pumpFor(50ms);
    EXPECT_EQ(textOf(controls().installPercentLabel), "99%");

    appState.taskRunning = true;
    PostMessageA(w, MSG_INSTALL_DONE, 0, 0);
    ASSERT_TRUE(boxes.waitFor("Tavro Installer", 5s));
    pumpFor(50ms);
    EXPECT_EQ(boxes.seen().back().text, "Install completed.");
    EXPECT_EQ(textOf(controls().statusLabel), "Installed!");
    EXPECT_EQ(textOf(controls().installPercentLabel), "100%");
    EXPECT_EQ(progressBarValue(controls().installBar), 100);
    EXPECT_EQ(buttonStates(), "1011");
    EXPECT_EQ(appState.exitCode, 0);
}

// A download that fails after an earlier one succeeded leaves the earlier package installable:
// the release kept with it is still the one that produced it, digest and build number included.
TEST(MainWindow, AFailedDownloadKeepsTheEarlierPackageWithTheReleaseThatProducedIt) {
    ApiServer api;
    ScratchFolder scratch;
    const std::string content(3000, 'z');
    writeFile(scratch.path() / L"first.zip", content);
    std::string error;
    const std::string digest = sha256OfFile(scratch.path() / L"first.zip", error);
    ASSERT_FALSE(digest.empty()) << error;
    const auto latest = [&](const std::string& file, const std::string& version,
                            const std::string& sha256) {
        api->on(
            "/api/Software/LatestVersion",
            Reply::text(200, "{\"FileName\":\"" + api->url(file) + "\",\"Version\":\"" + version +
                                 "\",\"BuildNumber\":\"7\",\"Sha256\":\"" + sha256 + "\"}"));
    };
    api->on("/first.zip", Reply::text(200, content));
    api->on("/second.zip", Reply::text(404, "gone"));
    latest("/first.zip", "1.0.0", digest);
    std::filesystem::remove(downloadFolder() / L"Tavro-V1.0.0-7.zip");

    MessageBoxCloser boxes;
    TestWindow window(false);
    ASSERT_TRUE(pumpUntil([] { return textOf(controls().statusLabel) == "Server OK"; }, 10s));
    typeText(controls().emailEdit, "user@example.com");
    press(controls().downloadButton);
    ASSERT_TRUE(pumpUntil([] { return textOf(controls().statusLabel) == "Finished!"; }, 20s));

    latest("/second.zip", "2.0.0", std::string(64, 'a'));
    press(controls().downloadButton);
    ASSERT_TRUE(boxes.waitFor("Download failed", 20s));
    ASSERT_TRUE(pumpUntil([] { return enabled(controls().installButton); }, 5s));
    EXPECT_EQ(appState.release.version, "1.0.0");
    EXPECT_EQ(appState.release.sha256, digest);
    EXPECT_EQ(appState.packageFile, downloadFolder() / L"Tavro-V1.0.0-7.zip");
    const FileHandle held =
        holdPackageForInstall(appState.packageFile, appState.release.sha256, error);
    EXPECT_TRUE(held) << error;
}

// With no real report the pulse creeps up and stops at 92; a real report below what is shown
// leaves the bar where it is; the pulse ends with the install.
TEST(MainWindow, InstallPulseCreepsToNinetyTwoAndTheBarNeverMovesBack) {
    ApiServer api;
    TestWindow window(false);
    appState.installProgressMax = 30;
    appState.installRunning = true;
    startInstallPulseWorker();
    // 30 -> 32 -> 34 -> 36: two points while below 35, then one.
    ASSERT_TRUE(pumpUntil([] { return appState.installProgressMax.load() >= 36; }, 3s));
    ASSERT_TRUE(pumpUntil([] { return appState.installProgressMax.load() == 37; }, 3s));
    appState.installProgressMax = 85;
    ASSERT_TRUE(pumpUntil([] { return progressBarValue(controls().installBar) == 92; }, 5s));
    pumpFor(500ms);
    EXPECT_EQ(progressBarValue(controls().installBar), 92);
    EXPECT_EQ(textOf(controls().installPercentLabel), "92%");

    PostMessageA(window.handle(), MSG_INSTALL_PROGRESS, percent(40), 0);
    pumpFor(100ms);
    EXPECT_EQ(progressBarValue(controls().installBar), 92);
    PostMessageA(window.handle(), MSG_INSTALL_PROGRESS, percent(96), 0);
    pumpFor(100ms);
    EXPECT_EQ(progressBarValue(controls().installBar), 96);

    appState.installRunning = false;
    pumpFor(300ms);  // the pulse sees the end at its next turn
    appState.installProgressMax = 0;
    pumpFor(400ms);
    EXPECT_EQ(appState.installProgressMax.load(), 0);  // nothing raised it again
}

TEST(MainWindow, UpdaterShowsProgressAndLogThenClosesAboutNineHundredMsAfterSuccess) {
    TestWindow window(true);
    const HWND w = window.handle();
    // The update itself is not run here: take the start message off the queue.
    MSG start;
    ASSERT_TRUE(PeekMessageA(&start, w, MSG_UPDATE_START, MSG_UPDATE_START, PM_REMOVE));
    EXPECT_EQ(textOf(controls().updaterStatusLabel), "Preparing...");

    postLine(w, MSG_LOG_LINE, "Copying 3 files...");
    PostMessageA(w, MSG_UPDATE_PROGRESS, percent(57), 0);
    pumpFor(50ms);
    EXPECT_EQ(textOf(controls().logEdit), "Copying 3 files...\r\n");
    EXPECT_EQ(textOf(controls().updaterPercentLabel), "57%");
    EXPECT_EQ(progressBarValue(controls().updaterBar), 57);
    PostMessageA(w, MSG_UPDATE_PROGRESS, percent(std::numeric_limits<std::int32_t>::min()), 0);
    pumpFor(50ms);
    EXPECT_EQ(textOf(controls().updaterPercentLabel), "0%");
    PostMessageA(w, MSG_UPDATE_PROGRESS, percent(100), 0);
    postLine(w, MSG_LOG_LINE, "Update complete.");

    PostMessageA(w, MSG_UPDATE_DONE, 0, 0);
    ASSERT_TRUE(
        pumpUntil([] { return textOf(controls().updaterStatusLabel) == "Update complete."; }, 1s));
    const auto shown = std::chrono::steady_clock::now();
    EXPECT_EQ(textOf(controls().logEdit),
              "Copying 3 files...\r\nUpdate complete.\r\nUpdate complete.\r\n");
    EXPECT_EQ(textOf(controls().updaterPercentLabel), "100%");
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(w); }, 3s));
    const auto closedAfter = std::chrono::steady_clock::now() - shown;
    EXPECT_GE(closedAfter, 850ms);
    EXPECT_LE(closedAfter, 1500ms);
}

TEST(MainWindow, FailedUpdateStaysOpenWithTheErrorLastInTheLog) {
    MessageBoxCloser boxes;
    TestWindow window(true);
    const HWND w = window.handle();
    MSG start;
    ASSERT_TRUE(PeekMessageA(&start, w, MSG_UPDATE_START, MSG_UPDATE_START, PM_REMOVE));
    postLine(w, MSG_LOG_LINE, "Starting updater mode...");
    // An engine text naming a path (UTF-8 from the standard library) reads right in the ANSI
    // code page of the window.
    postLine(w, MSG_UPDATE_FAILED,
             "Update source folder not found: C:/Quendrel/Tavro\\\xC3\x9C"
             "bung");
    ASSERT_TRUE(boxes.waitFor("Tavro Updater failed", 5s));
    pumpFor(1200ms);
    ASSERT_TRUE(IsWindow(w));
    EXPECT_EQ(textOf(controls().updaterStatusLabel), "Update failed.");
    // What U+00DC is in the window's code page.
    char umlaut[4] = {};
    WideCharToMultiByte(CP_ACP, 0, L"\u00DC", 1, umlaut, sizeof(umlaut), nullptr, nullptr);
    const std::string error =
        std::string("Update source folder not found: C:/Quendrel/Tavro\\") + umlaut + "bung";
    EXPECT_EQ(textOf(controls().logEdit), "Starting updater mode...\r\nERROR: " + error + "\r\n");
    EXPECT_EQ(boxes.seen().back().text, error);
    EXPECT_EQ(appState.exitCode, 1603);
}

// Messages for the other mode's controls change nothing visible, and payloads are freed by the
// window thread; a payload whose post fails is freed by the poster.
// The uninstall window: the updater's controls under its own title and caption, the log of the
// run, the box with what was kept, then the window closes itself with the exit code.
TEST(MainWindow, UninstallWindowShowsItsLogThenItsBoxAndCloses) {
    std::filesystem::remove_all(installRoot());  // nothing installed, nothing left over
    MessageBoxCloser boxes;
    appState.uninstallMode = true;
    TestWindow window(false);
    const HWND w = window.handle();
    ASSERT_NE(w, nullptr);
    char title[64] = {};
    GetWindowTextA(w, title, sizeof(title));
    EXPECT_STREQ(title, "Tavro Uninstall");
    for (const ControlPlacement& placement : uninstallLayout()) {
        expectPlacedAsLaidOut(w, placement);
    }
    ASSERT_TRUE(boxes.waitFor("Tavro Uninstall", 30s));
    EXPECT_EQ(boxes.seen().back().text, "Tavro was removed.");
    ASSERT_TRUE(pumpUntil([w] { return !IsWindow(w); }, 5s));
    EXPECT_EQ(appState.exitCode, 0);
    appState.uninstallMode = false;
}

TEST(MainWindow, PayloadsAreFreedOnceWhetherTheyArriveOrTheirPostFails) {
    struct Counted {
        explicit Counted(int& count) : count_(count) {}
        ~Counted() { ++count_; }
        int& count_;
    };
    int destroyed = 0;
    TestWindow window(true);
    const HWND w = window.handle();
    DestroyWindow(w);
    EXPECT_FALSE(postPayload(w, MSG_LOG_LINE, std::make_unique<Counted>(destroyed)));
    EXPECT_EQ(destroyed, 1);
    {
        auto payload = std::make_unique<Counted>(destroyed);
        const LPARAM lParam = reinterpret_cast<LPARAM>(payload.release());
        takePayload<Counted>(lParam);  // the handler's first step owns it again
    }
    EXPECT_EQ(destroyed, 2);
}

TEST(MainWindow, InstallerMessagesDoNothingVisibleInTheUpdaterWindow) {
    TestWindow window(true);
    const HWND w = window.handle();
    MSG start;
    ASSERT_TRUE(PeekMessageA(&start, w, MSG_UPDATE_START, MSG_UPDATE_START, PM_REMOVE));
    postDownloadProgress(w, 50.0, 1.0, 1.0);
    PostMessageA(w, MSG_INSTALL_PROGRESS, percent(50), 0);
    PostMessageA(w, MSG_SERVER_OK, 0, 0);
    PostMessageA(w, WM_COMMAND, MAKEWPARAM(kDownloadId, BN_CLICKED), 0);
    pumpFor(200ms);
    EXPECT_EQ(textOf(controls().updaterStatusLabel), "Preparing...");
    EXPECT_EQ(textOf(controls().updaterPercentLabel), "0%");
    EXPECT_EQ(textOf(controls().logEdit), "");
    EXPECT_FALSE(appState.taskRunning);
}

}  // namespace
}  // namespace tavro
