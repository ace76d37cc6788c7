// The bar's pixels as they reach the screen.
#include "ui/progress_bar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "ui/window_test_support.h"

namespace tavro {
namespace {

using namespace test;

constexpr COLORREF kBackground = RGB(238, 238, 238);
constexpr COLORREF kFill = RGB(0, 126, 220);
constexpr COLORREF kGrid = RGB(240, 240, 240);
constexpr COLORREF kFrame = RGB(255, 255, 255);

// A bar of the given client size on a plain top-level window, and a copy of its pixels.
class PaintedBar {
  public:
    PaintedBar(int width, int height) : width_(width), height_(height) {
        const HINSTANCE instance = GetModuleHandleA(nullptr);
        registerProgressBarClass(instance);
        host_ = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, width + 40,
                                height + 40, nullptr, nullptr, instance, nullptr);
        bar_ = CreateWindowExA(0, kProgressBarClass, "", WS_CHILD | WS_VISIBLE, 20, 20, width,
                               height, host_, nullptr, instance, nullptr);
        pumpFor(std::chrono::milliseconds(100));
    }
    ~PaintedBar() { DestroyWindow(host_); }

    HWND bar() const { return bar_; }

    // Sets the value (the bar repaints before this returns) and reads its pixels back.
    void show(int value) {
        setProgressBar(bar_, value);
        const HDC screen = GetDC(bar_);
        const HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        const HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        pixels_.assign(pixels, pixels + width_ * height_);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(bar_, screen);
    }

    COLORREF at(int x, int y) const {
        const std::uint32_t bgra = pixels_[y * width_ + x];
        return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
    }

    // The x positions of grid lines on a row inside the frame, read off the pixels.
    std::vector<int> gridColumns(COLORREF between) const {
        std::vector<int> columns;
        for (int x = 1; x < width_ - 1; ++x) {
            const COLORREF colour = at(x, height_ / 2);
            if (colour == kGrid) {
                columns.push_back(x);
            } else {
                EXPECT_EQ(colour, between) << "x=" << x;
            }
        }
        return columns;
    }

  private:
    int width_, height_;
    HWND host_ = nullptr;
    HWND bar_ = nullptr;
    std::vector<std::uint32_t> pixels_;
};

std::vector<int> expectedGrid(int width) {
    std::vector<int> columns;
    for (int x = 18; x < width; x += 18) {
        columns.push_back(x);
    }
    return columns;
}

TEST(ProgressBar, PaintsNoFillFullFillGridAndFrameInItsColours) {
    PaintedBar bar(607, 28);
    ASSERT_NE(bar.bar(), nullptr);

    bar.show(0);
    const std::vector<int> grid = bar.gridColumns(kBackground);
    EXPECT_EQ(grid, expectedGrid(607));
    EXPECT_EQ(grid.size(), 33u);
    EXPECT_EQ(grid.back(), 594);
    for (int x = 0; x < 607; ++x) {
        EXPECT_EQ(bar.at(x, 0), kFrame) << x;
        EXPECT_EQ(bar.at(x, 27), kFrame) << x;
    }
    for (int y = 0; y < 28; ++y) {
        EXPECT_EQ(bar.at(0, y), kFrame) << y;
        EXPECT_EQ(bar.at(606, y), kFrame) << y;
    }

    bar.show(100);
    EXPECT_EQ(bar.gridColumns(kFill), expectedGrid(607));  // lines over the fill too
    EXPECT_EQ(bar.at(0, 14), kFrame);

    bar.show(50);  // 607 * 50 / 100 = 303: columns 0..302 filled
    EXPECT_EQ(bar.at(302, 14), kFill);
    EXPECT_EQ(bar.at(303, 14), kBackground);
    EXPECT_EQ(progressBarValue(bar.bar()), 50);

    bar.show(-5);  // the bar does not clamp; a negative value draws no fill
    EXPECT_EQ(bar.at(5, 14), kBackground);
    EXPECT_EQ(progressBarValue(bar.bar()), -5);
    bar.show(250);  // past full: cut off by the client area
    EXPECT_EQ(bar.at(605, 14), kFill);
    EXPECT_EQ(bar.at(606, 14), kFrame);
}

TEST(ProgressBar, OnePercentOfFiftyPixelsIsNoFill) {
    PaintedBar bar(50, 20);
    bar.show(1);
    EXPECT_EQ(bar.gridColumns(kBackground), (std::vector<int>{18, 36}));
    bar.show(2);  // 50 * 2 / 100 = 1 pixel, hidden under the frame's left column
    EXPECT_EQ(bar.at(0, 10), kFrame);
    EXPECT_EQ(bar.at(1, 10), kBackground);
    bar.show(4);
    EXPECT_EQ(bar.at(1, 10), kFill);
    EXPECT_EQ(bar.at(2, 10), kBackground);
}

// At 144 DPI the download bar is 911 x 42: grid lines two pixels wide every 27 pixels, a frame
// two pixels wide, and the fill as wide a share of the bar as at 96 DPI.
TEST(ProgressBar, GridLinesAndFrameScaleWithTheDpiAndTheFillStaysProportional) {
    PaintedBar bar(911, 42);
    setProgressBarDpi(bar.bar(), 144);
    bar.show(0);
    std::vector<int> expected;
    for (int x = 27; x < 911; x += 27) {
        expected.push_back(x);
        if (x + 1 < 909) {
            expected.push_back(x + 1);
        }
    }
    std::vector<int> grid;
    for (int x = 2; x < 909; ++x) {  // inside the frame
        if (bar.at(x, 21) == kGrid) {
            grid.push_back(x);
        } else {
            EXPECT_EQ(bar.at(x, 21), kBackground) << "x=" << x;
        }
    }
    EXPECT_EQ(grid, expected);  // x = 891, 892 is the last line
    for (int ring = 0; ring < 2; ++ring) {
        EXPECT_EQ(bar.at(ring, 21), kFrame);
        EXPECT_EQ(bar.at(910 - ring, 21), kFrame);
        EXPECT_EQ(bar.at(455, ring), kFrame);
        EXPECT_EQ(bar.at(455, 41 - ring), kFrame);
    }
    EXPECT_NE(bar.at(2, 21), kFrame);

    bar.show(50);  // 911 * 50 / 100 = 455
    EXPECT_EQ(bar.at(454, 21), kFill);
    EXPECT_EQ(bar.at(455, 21), kBackground);

    setProgressBarDpi(bar.bar(), 96);  // back at 96 DPI it paints as before
    bar.show(0);
    EXPECT_EQ(bar.gridColumns(kBackground), expectedGrid(911));
}

// The paints a bar receives, counted by a window procedure placed in front of the bar's own.
std::atomic<int> paints{0};
WNDPROC barProcedure = nullptr;
LRESULT CALLBACK countPaints(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        ++paints;
    }
    return CallWindowProcA(barProcedure, bar, message, wParam, lParam);
}

// A fast copy sets the same value over and over: only a change repaints the bar.
TEST(ProgressBar, RepaintsOnlyWhenItsValueChanges) {
    PaintedBar bar(300, 20);
    barProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar.bar(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countPaints)));
    paints = 0;
    setProgressBar(bar.bar(), 40);
    EXPECT_EQ(paints.load(), 1);
    for (int i = 0; i < 50; ++i) {
        setProgressBar(bar.bar(), 40);
    }
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(paints.load(), 1);
    setProgressBar(bar.bar(), 41);
    EXPECT_EQ(paints.load(), 2);
    EXPECT_EQ(progressBarValue(bar.bar()), 41);
}

}  // namespace
}  // namespace tavro
