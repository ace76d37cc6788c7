// The window at other DPIs: at the DPI it opens with (the prefix's LogPixels; ctest runs these
// tests at 96, 120, 144 and 192, TAVRO_EXPECTED_DPI naming the one set) and after the system
// tells it that it moved to a monitor of another DPI. Positions, sizes and font heights are the
// 96-DPI tables scaled as Windows rounds, and every text fits its control.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "core/app_state.h"
#include "ui/window_layout.h"
#include "ui/window_state.h"
#include "ui/window_test_support.h"

namespace tavro {
namespace {

using namespace test;

// The outer sizes at 96 DPI; the frame around the client area is the system's.
constexpr SIZE kInstallerOuter{704, 329};
constexpr SIZE kUpdaterOuter{720, 395};
constexpr DWORD kStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct Mode {
    const char* name;
    bool updater, uninstall;
    std::span<const ControlPlacement> layout;
    SIZE outer;
};
const Mode kModes[] = {{"installer", false, false, installerLayout(), kInstallerOuter},
                       {"updater", true, false, updaterLayout(), kUpdaterOuter},
                       {"uninstall", false, true, uninstallLayout(), kUpdaterOuter}};

// The window of a mode; the updater and the uninstall are never started here (their start
// messages stay unhandled in the queue and go with the window). The installer's server check
// runs on a thread of its own as the window opens: it is let finish, so that no check is still
// talking to the local server while the window and the server go.
class ModeWindow {
  public:
    explicit ModeWindow(const Mode& mode) {
        appState.uninstallMode = mode.uninstall;
        window_.emplace(mode.updater);
        if (!mode.updater && !mode.uninstall) {
            EXPECT_TRUE(pumpUntil(
                [] { return textOf(windowState.controls.statusLabel) == "Server OK"; }, 30s));
        }
    }
    ~ModeWindow() {
        window_.reset();
        appState.uninstallMode = false;
    }
    HWND handle() const { return window_->handle(); }

  private:
    std::optional<TestWindow> window_;
};

int scaled(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi), 96);
}

SIZE frameAt(UINT dpi) {
    RECT rect{};
    AdjustWindowRectExForDpi(&rect, kStyle, FALSE, 0, dpi);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

UINT openingDpi() {
    const HDC screen = GetDC(nullptr);
    const UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi;
}

// The children in creation order, which is the layout's order.
std::vector<HWND> children(HWND window) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        found.push_back(child);
    }
    return found;
}

int fontHeight(HWND control) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    return font.lfHeight;
}

SIZE textExtent(HDC dc, HFONT font, const std::string& text) {
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    return extent;
}

// The text drawn in the control's own font fits inside it (a button keeps room for its edges).
// Wine's stand-in for the face is wider than the face itself, so two labels are clipped
// already at 96 DPI; at other DPIs such a text grows no more than its font's height does (give
// or take 3 %: glyph advances are rounded per size).
void expectTextFits(HWND control, const std::string& text, UINT dpi, bool button) {
    if (text.empty()) {
        return;
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA description{};
    GetObjectA(font, sizeof(description), &description);
    const int height = description.lfHeight;
    description.lfHeight = MulDiv(height, 96, static_cast<int>(dpi));
    const HFONT font96 = CreateFontIndirectA(&description);
    const HDC dc = GetDC(control);
    const SIZE extent = textExtent(dc, font, text);
    const SIZE extent96 = textExtent(dc, font96, text);
    ReleaseDC(control, dc);
    DeleteObject(font96);
    RECT client{};
    GetClientRect(control, &client);
    const int margin = button ? 2 * GetSystemMetrics(SM_CXEDGE) + 4 : 0;
    const int width96 = MulDiv(client.right, 96, static_cast<int>(dpi));
    if (extent96.cx + margin <= width96) {
        EXPECT_LE(extent.cx + margin, client.right) << '"' << text << '"';
    } else {
        EXPECT_LE(extent.cx, MulDiv(extent96.cx, height * 103, description.lfHeight * 100) + 2)
            << '"' << text << '"';
    }
    EXPECT_LE(extent.cy, client.bottom) << '"' << text << '"';
}

// Every control where the table puts it at dpi, in the fonts of that DPI, its text fitting;
// the labels whose text changes also fit the longest text they show.
void expectLaidOutFor(HWND window, std::span<const ControlPlacement> layout, UINT dpi) {
    const std::vector<HWND> placed = children(window);
    ASSERT_EQ(placed.size(), layout.size());
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const ControlPlacement& entry = layout[i];
        SCOPED_TRACE(std::string(entry.className) + " \"" + entry.text + "\" at " +
                     std::to_string(dpi));
        const RECT rect = clientRectInParent(placed[i]);
        EXPECT_EQ(rect.left, scaled(entry.x, dpi));
        EXPECT_EQ(rect.top, scaled(entry.y, dpi));
        EXPECT_EQ(rect.right - rect.left, scaled(entry.width, dpi));
        EXPECT_EQ(rect.bottom - rect.top, scaled(entry.height, dpi));
        if (entry.font != ControlFont::none) {  // a live font (the one before is deleted)
            EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(
                          SendMessageA(placed[i], WM_GETFONT, 0, 0))),
                      static_cast<DWORD>(OBJ_FONT));
            EXPECT_EQ(fontHeight(placed[i]),
                      scaled(entry.font == ControlFont::large ? -18 : -14, dpi));
        }
        expectTextFits(placed[i], entry.text, dpi, std::string(entry.className) == "BUTTON");
    }
    const WindowControls& c = windowState.controls;
    const std::pair<HWND, const char*> longest[] = {
        {c.statusLabel, "Downloading..."},     {c.downloadedLabel, "99999 MB"},
        {c.speedLabel, "999.99 MB/s"},         {c.downloadPercentLabel, "100.00 %"},
        {c.installPercentLabel, "100%"},       {c.pauseButton, "Resume"},
        {c.updaterStatusLabel, "Update complete."}, {c.updaterPercentLabel, "100%"}};
    for (const auto& [control, text] : longest) {
        if (control != nullptr) {
            expectTextFits(control, text, dpi, control == c.pauseButton);
        }
    }
}

void expectClientSizeFor(HWND window, SIZE outer96, UINT dpi) {
    const SIZE frame96 = frameAt(96);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, scaled(outer96.cx - frame96.cx, dpi));
    EXPECT_EQ(client.bottom, scaled(outer96.cy - frame96.cy, dpi));
}

TEST(DpiLayout, BothWindowsOpenLaidOutForTheDisplaysDpi) {
    LocalApiServer api;
    const UINT dpi = openingDpi();
    if (const char* expected = std::getenv("TAVRO_EXPECTED_DPI"); expected != nullptr) {
        ASSERT_EQ(dpi, static_cast<UINT>(std::atoi(expected))) << "the prefix's LogPixels";
    }
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        ModeWindow window(mode);
        ASSERT_NE(window.handle(), nullptr);
        expectClientSizeFor(window.handle(), mode.outer, dpi);
        RECT outer{};
        GetWindowRect(window.handle(), &outer);
        const SIZE frame = frameAt(dpi);
        const SIZE frame96 = frameAt(96);
        EXPECT_EQ(outer.right - outer.left, scaled(mode.outer.cx - frame96.cx, dpi) + frame.cx);
        EXPECT_EQ(outer.bottom - outer.top, scaled(mode.outer.cy - frame96.cy, dpi) + frame.cy);
        expectLaidOutFor(window.handle(), mode.layout, dpi);
    }
}

TEST(DpiLayout, AMoveToAnotherDpiTakesTheSuggestedRectangleFontsAndLayout) {
    LocalApiServer api;
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        ModeWindow window(mode);
        const HWND w = window.handle();
        for (const UINT dpi : {120u, 144u, 192u, openingDpi()}) {
            RECT suggested{40, 30, 40 + scaled(mode.outer.cx, dpi),
                           30 + scaled(mode.outer.cy, dpi)};
            SendMessageA(w, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
            RECT outer{};
            GetWindowRect(w, &outer);
            EXPECT_EQ(outer.left, suggested.left);
            EXPECT_EQ(outer.top, suggested.top);
            EXPECT_EQ(outer.right, suggested.right);
            EXPECT_EQ(outer.bottom, suggested.bottom);
            expectLaidOutFor(w, mode.layout, dpi);
        }
    }
}

}  // namespace
}  // namespace tavro
