#include "ui/dpi_scale.h"

namespace tavro {

namespace {

// Per-monitor calls exist only on Windows 10 1607 and later; resolved at run time, so the
// program still starts on older Windows, where the system DPI is the only DPI.
using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetDpiForSystemCall = UINT(WINAPI*)();
using AdjustWindowRectExForDpiCall = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Call>
Call user32Call(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT screenDpi() {
    const HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return kBaseDpi;
    }
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

// The frame's share of the outer size at dpi; false when Windows cannot tell it for that DPI.
bool frameSize(DWORD style, DWORD extendedStyle, UINT dpi, SIZE& frame) {
    static const auto adjust = user32Call<AdjustWindowRectExForDpiCall>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, 0, 0};
    if (adjust == nullptr || !adjust(&rect, style, FALSE, extendedStyle, dpi)) {
        return false;
    }
    frame = SIZE{rect.right - rect.left, rect.bottom - rect.top};
    return true;
}

}  // namespace

int scaleForDpi(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

UINT windowDpi(HWND window) {
    static const auto forWindow = user32Call<GetDpiForWindowCall>("GetDpiForWindow");
    if (forWindow != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0) {
            return dpi;
        }
    }
    return systemDpi();
}

UINT systemDpi() {
    static const auto forSystem = user32Call<GetDpiForSystemCall>("GetDpiForSystem");
    if (forSystem != nullptr) {
        if (const UINT dpi = forSystem(); dpi != 0) {
            return dpi;
        }
    }
    return screenDpi();
}

SIZE outerSizeForDpi(SIZE base, DWORD style, DWORD extendedStyle, UINT dpi) {
    if (dpi == kBaseDpi) {
        return base;
    }
    SIZE baseFrame{};
    SIZE frame{};
    if (!frameSize(style, extendedStyle, kBaseDpi, baseFrame) ||
        !frameSize(style, extendedStyle, dpi, frame)) {
        return SIZE{scaleForDpi(base.cx, dpi), scaleForDpi(base.cy, dpi)};
    }
    return SIZE{scaleForDpi(base.cx - baseFrame.cx, dpi) + frame.cx,
                scaleForDpi(base.cy - baseFrame.cy, dpi) + frame.cy};
}

}  // namespace tavro
