#include "ui/progress_bar.h"

#include <algorithm>
#include <cstdint>

#include <commctrl.h>

#include "core/gdi_handles.h"
#include "ui/dpi_scale.h"
#include "ui/progress_bar_access.h"

namespace tavro {

namespace {

constexpr COLORREF kBackgroundColour = RGB(238, 238, 238);
constexpr COLORREF kFillColour = RGB(0, 126, 220);
constexpr COLORREF kGridColour = RGB(240, 240, 240);
constexpr int kGridSpacing = 18;  // 96-DPI lengths
constexpr int kLineWidth = 1;
constexpr char kDpiProperty[] = "TavroProgressDpi";

UINT barDpi(HWND bar) {
    const auto dpi = reinterpret_cast<UINT_PTR>(GetPropA(bar, kDpiProperty));
    return dpi != 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

// A hairline stays at least one pixel wide at any DPI.
int scaledLine(UINT dpi) {
    const int width = scaleForDpi(kLineWidth, dpi);
    return width > 0 ? width : 1;
}

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

// Vertical lines every grid step; each line is a filled column, exactly one pixel at 96 DPI.
void drawGrid(HDC dc, const RECT& area, UINT dpi) {
    const BrushHandle brush(CreateSolidBrush(kGridColour));
    if (!brush) {
        return;
    }
    const int step = scaleForDpi(kGridSpacing, dpi);
    const int width = scaledLine(dpi);
    for (int x = area.left + step; x < area.right; x += step) {
        const RECT line{x, area.top, std::min(x + width, static_cast<int>(area.right)),
                        area.bottom};
        FillRect(dc, &line, brush.get());
    }
}

void drawFrame(HDC dc, RECT area, UINT dpi) {
    const auto white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    for (int ring = 0; ring < scaledLine(dpi); ++ring) {
        FrameRect(dc, &area, white);
        InflateRect(&area, -1, -1);
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
    const UINT dpi = barDpi(bar);
    drawGrid(scope.dc(), area, dpi);
    drawFrame(scope.dc(), area, dpi);
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
            if (progressBarValue(bar) == static_cast<int>(static_cast<std::int32_t>(wParam))) {
                UpdateWindow(bar);  // what it shows already: painted only if a paint was due
                return 0;
            }
            storeValue(bar, wParam);
            InvalidateRect(bar, nullptr, FALSE);
            UpdateWindow(bar);
            return 0;
        case WM_PAINT:
            paint(bar);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // painting covers every pixel
        case MSG_PROGRESS_DPI:
            SetPropA(bar, kDpiProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wParam)));
            InvalidateRect(bar, nullptr, FALSE);
            return 0;
        case WM_NCDESTROY:
            RemovePropA(bar, kDpiProperty);
            return DefWindowProcA(bar, message, wParam, lParam);
        case PBM_GETPOS:
            return progressBarValue(bar);
        case PBM_GETRANGE:
            return progressRangeAnswer(wParam, lParam);
        case WM_GETOBJECT:
            return accessibleProgressObject(bar, wParam, lParam, message);
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

void setProgressBarDpi(HWND bar, UINT dpi) {
    if (bar != nullptr) {
        SendMessageA(bar, MSG_PROGRESS_DPI, dpi, 0);
    }
}

void setProgressBar(HWND bar, int value) {
    if (bar != nullptr) {
        SendMessageA(bar, MSG_PROGRESS_SET, static_cast<WPARAM>(value), 0);
    }
}

}  // namespace tavro
