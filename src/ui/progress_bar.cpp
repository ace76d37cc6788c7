#include "ui/progress_bar.h"

#include <algorithm>
#include <cstdint>

#include "core/gdi_handles.h"

namespace tavro {

namespace {

constexpr COLORREF kBackgroundColour = RGB(238, 238, 238);
constexpr COLORREF kFillColour = RGB(0, 126, 220);
constexpr COLORREF kGridColour = RGB(240, 240, 240);
constexpr int kGridSpacing = 18;

void fillWith(HDC dc, const RECT& area, COLORREF colour) {
    const BrushHandle brush(CreateSolidBrush(colour));
    if (brush) {
        FillRect(dc, &area, brush.get());
    }
}

// The right edge of the filled part. The product is formed in 64 bits, so a value far outside
// 0..100 cannot overflow; the edge is then kept within the bar, which the client area would cut
// it to anyway.
int fillEdge(const RECT& area, int value) {
    const std::int64_t width = area.right - area.left;
    const std::int64_t edge = area.left + width * value / 100;
    return static_cast<int>(std::clamp<std::int64_t>(edge, area.left, area.right));
}

void drawGrid(HDC dc, const RECT& area) {
    const PenHandle pen(CreatePen(PS_SOLID, 1, kGridColour));
    if (!pen) {
        return;
    }
    const SelectionScope selection(dc, pen.get());
    for (int x = area.left + kGridSpacing; x < area.right; x += kGridSpacing) {
        MoveToEx(dc, x, area.top, nullptr);
        LineTo(dc, x, area.bottom);
    }
}

void paint(HWND bar) {
    const PaintScope scope(bar);
    RECT area{};
    GetClientRect(bar, &area);
    fillWith(scope.dc(), area, kBackgroundColour);
    const int edge = fillEdge(area, progressBarValue(bar));
    if (edge > area.left) {
        fillWith(scope.dc(), RECT{area.left, area.top, edge, area.bottom}, kFillColour);
    }
    drawGrid(scope.dc(), area);
    FrameRect(scope.dc(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void storeValue(HWND bar, WPARAM value) {
    SetWindowLongPtrA(bar, GWLP_USERDATA, static_cast<LONG_PTR>(value));
}

LRESULT CALLBACK progressBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            storeValue(bar, 0);
            return 0;
        case MSG_PROGRESS_SET:
            storeValue(bar, wParam);
            InvalidateRect(bar, nullptr, FALSE);
            UpdateWindow(bar);
            return 0;
        case WM_PAINT:
            paint(bar);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // painting covers every pixel
        default:
            return DefWindowProcA(bar, message, wParam, lParam);
    }
}

}  // namespace

bool registerProgressBarClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = progressBarProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = kProgressBarClass;
    return RegisterClassA(&windowClass) != 0;
}

int progressBarValue(HWND bar) {
    return static_cast<int>(static_cast<std::int32_t>(GetWindowLongPtrA(bar, GWLP_USERDATA)));
}

void setProgressBar(HWND bar, int value) {
    if (bar != nullptr) {
        SendMessageA(bar, MSG_PROGRESS_SET, static_cast<WPARAM>(value), 0);
    }
}

}  // namespace tavro
