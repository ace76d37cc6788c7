// The window from the keyboard alone: where the focus starts, the Tab order, Enter and Space, the
// updater's log (focus, scrolling, select all, copy) and what the bars tell a screen reader.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "core/app_state.h"
#include "core/installer_core.h"
#include "ui/controls.h"
#include "ui/progress_bar.h"
#include "ui/ui_messages.h"
#include "ui/window_state.h"
#include "ui/window_test_support.h"

namespace tavro {
namespace {

using namespace test;

WindowControls& controls() {
    return windowState.controls;
}

void shiftTab() {
    const HeldKeys shift{VK_SHIFT};
    pressKey(VK_TAB);
}

void space() {
    pressKey(VK_SPACE);
}

TEST(Keyboard, FocusStartsInTheEmailAndTabWalksTheEnabledControlsInOrder) {
    LocalApiServer api;
    TestWindow window(false);
    pumpFor(100ms);
    const WindowControls& c = controls();
    EXPECT_EQ(GetFocus(), c.emailEdit);

    // Only the e-mail box is enabled at first: Tab stays there.
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), c.emailEdit);

    for (HWND control : {c.downloadButton, c.pauseButton, c.installButton, c.usbCheckBox}) {
        EnableWindow(control, TRUE);
    }
    for (HWND expected :
         {c.downloadButton, c.pauseButton, c.installButton, c.usbCheckBox, c.emailEdit}) {
        pressKey(VK_TAB);
        EXPECT_EQ(GetFocus(), expected);
    }
    for (HWND expected :
         {c.usbCheckBox, c.installButton, c.pauseButton, c.downloadButton, c.emailEdit}) {
        shiftTab();
        EXPECT_EQ(GetFocus(), expected);
    }

    // Disabled controls are skipped both ways.
    EnableWindow(c.pauseButton, FALSE);
    EnableWindow(c.installButton, FALSE);
    pressKey(VK_TAB);
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), c.usbCheckBox);
    shiftTab();
    EXPECT_EQ(GetFocus(), c.downloadButton);

    // A focused button that is disabled loses the focus; Tab then starts at the first control.
    EnableWindow(c.downloadButton, FALSE);
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), c.emailEdit);
}

TEST(Keyboard, EnterPressesDownloadFromTheEmailWhileEnabledAndSpacePressesTheFocusedButton) {
    LocalApiServer api;
    Reply slowFailure = Reply::text(500, "busy");  // the box comes after the keys
    slowFailure.delay = 1500ms;
    api->on("/api/Software/LatestVersion", slowFailure);
    MessageBoxCloser boxes;
    TestWindow window(false);
    const WindowControls& c = controls();
    ASSERT_TRUE(pumpUntil([&] { return textOf(c.statusLabel) == "Server OK"; }, 10s));
    SetFocus(c.emailEdit);

    typeText(c.emailEdit, "user@example");  // Download stays disabled: Enter does nothing
    pressKey(VK_RETURN);
    EXPECT_FALSE(appState.taskRunning);
    EXPECT_EQ(textOf(c.emailEdit), "user@example");

    // The check box and the buttons answer Space; the box is not automatic but flips.
    EnableWindow(c.usbCheckBox, TRUE);
    SetFocus(c.usbCheckBox);
    space();
    EXPECT_EQ(SendMessageA(c.usbCheckBox, BM_GETCHECK, 0, 0), BST_CHECKED);
    space();
    EXPECT_EQ(SendMessageA(c.usbCheckBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    pressKey(VK_RETURN);  // Enter is no key of the check box
    EXPECT_EQ(SendMessageA(c.usbCheckBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    typeText(c.emailEdit, "user@example.com");
    ASSERT_TRUE(enabled(c.downloadButton));
    SetFocus(c.emailEdit);
    pressKey(VK_RETURN);
    EXPECT_TRUE(appState.taskRunning);
    EXPECT_FALSE(enabled(c.downloadButton));
    EXPECT_TRUE(enabled(c.pauseButton));
    EXPECT_EQ(GetFocus(), c.emailEdit);  // the focus stays where the user typed

    pressKey(VK_TAB);  // Download is disabled now: Pause is next
    EXPECT_EQ(GetFocus(), c.pauseButton);
    space();
    EXPECT_EQ(textOf(c.pauseButton), "Resume");
    EXPECT_TRUE(installerCore.paused.load());
    pressKey(VK_RETURN);  // Enter presses a focused push button too
    EXPECT_EQ(textOf(c.pauseButton), "Pause");
    EXPECT_FALSE(installerCore.paused.load());
    ASSERT_TRUE(boxes.waitFor("Download failed", 10s));
}

TEST(Keyboard, TheUpdaterLogTakesTheFocusScrollsSelectsAllAndCopies) {
    TestWindow window(true);
    const HWND w = window.handle();
    MSG start;
    ASSERT_TRUE(PeekMessageA(&start, w, MSG_UPDATE_START, MSG_UPDATE_START, PM_REMOVE));
    const HWND log = controls().logEdit;
    std::string expected;
    for (int line = 1; line <= 60; ++line) {
        appendLogLine(log, "Copied file " + std::to_string(line));
        expected += "Copied file " + std::to_string(line) + "\r\n";
    }
    const LRESULT bottom = SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(bottom, 0);

    pressKey(VK_TAB);
    ASSERT_EQ(GetFocus(), log);
    {
        const HeldKeys control{VK_CONTROL};
        pressKey(VK_HOME);
    }
    EXPECT_EQ(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    pressKey(VK_NEXT);
    EXPECT_GT(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0), 0);

    {
        const HeldKeys control{VK_CONTROL};
        pressKey('A');
        DWORD from = 1, to = 0;
        SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        EXPECT_EQ(from, 0u);
        EXPECT_EQ(to, expected.size());
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        CloseClipboard();
        pressKey('C');
    }
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HANDLE data = GetClipboardData(CF_TEXT);
    const std::string copied = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : "";
    if (data != nullptr) {
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(textOf(log), expected);  // read-only: the keys changed nothing
}

// A screen reader asks the bar for its accessible object; Windows' progress-bar proxy reads the
// value back with the common progress bar's messages.
TEST(Keyboard, ABarTellsAScreenReaderItsValue) {
    LocalApiServer api;
    TestWindow window(false);
    const HWND bar = controls().downloadBar;
    setProgressBar(bar, 42);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 42);
    PBRANGE range{};
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range)), 100);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);

    // The request is answered at once on the window thread. (Wine has no progress-bar proxy: it
    // answers with the default object there, so the value is read on Windows only.)
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutA(bar, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT),
                                  SMTO_ABORTIFHUNG, 3000, &answer),
              0);
    EXPECT_EQ(progressBarValue(bar), 42);
}

}  // namespace
}  // namespace tavro
