#include "ui/main_window.h"

#include <commctrl.h>

#include <span>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/resource_ids.h"
#include "ui/commands.h"
#include "ui/controls.h"
#include "ui/dialog_keys.h"
#include "ui/dpi_scale.h"
#include "ui/task_messages.h"
#include "ui/ui_messages.h"
#include "ui/window_layout.h"
#include "ui/window_state.h"
#include "ui/workers.h"

namespace tavro {

WindowState windowState;

namespace {

constexpr COLORREF kBackgroundColour = RGB(80, 80, 80);
constexpr COLORREF kLabelTextColour = RGB(224, 224, 224);
constexpr COLORREF kEditTextColour = RGB(0, 0, 0);
constexpr COLORREF kEditBackgroundColour = RGB(255, 255, 255);
constexpr int kSmallFontHeight = -14;  // at 96 DPI
constexpr int kLargeFontHeight = -18;

// A caption bar with the system menu and a minimize box: no sizing border, no maximize box.
constexpr DWORD kMainWindowStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct WindowFrame {
    const char* title;
    int width;  // outer size at 96 DPI
    int height;
};
constexpr WindowFrame kInstallerFrame{"Tavro Installer", 704, 329};
constexpr WindowFrame kUpdaterFrame{"Tavro Updater", 720, 395};
constexpr WindowFrame kUninstallFrame{"Tavro Uninstall", 720, 395};

// What the controls were built from, to lay them out again when the window's DPI changes.
struct BuiltLayout {
    std::span<const ControlPlacement> table;
    std::vector<HWND> controls;
};
BuiltLayout builtLayout;

const WindowFrame& frameOfMode() {
    return appState.updaterMode     ? kUpdaterFrame
           : appState.uninstallMode ? kUninstallFrame
                                    : kInstallerFrame;
}

SIZE outerSize(UINT dpi) {
    const WindowFrame& frame = frameOfMode();
    return outerSizeForDpi(SIZE{frame.width, frame.height}, kMainWindowStyle, 0, dpi);
}

FontHandle createUiFont(int height, UINT dpi) {
    return FontHandle(CreateFontA(scaleForDpi(height, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                                  "Microsoft Sans Serif"));
}

void createFonts(WindowResources& resources, UINT dpi) {
    resources.smallFont = createUiFont(kSmallFontHeight, dpi);
    resources.largeFont = createUiFont(kLargeFontHeight, dpi);
}

void createResources(WindowResources& resources, UINT dpi) {
    resources.backgroundBrush.reset(CreateSolidBrush(kBackgroundColour));
    resources.whiteBrush.reset(CreateSolidBrush(kEditBackgroundColour));
    createFonts(resources, dpi);
}

void buildControls(HWND window, std::span<const ControlPlacement> table, UINT dpi) {
    builtLayout.table = table;
    builtLayout.controls =
        createControls(window, table, windowState.resources, windowState.controls, dpi);
}

// Fonts for the new DPI first, then every control moved and given them; the old fonts are
// deleted only once no control uses them.
void applyDpi(UINT dpi) {
    WindowResources& resources = windowState.resources;
    const FontHandle oldSmall = std::move(resources.smallFont);
    const FontHandle oldLarge = std::move(resources.largeFont);
    createFonts(resources, dpi);
    layOutControls(builtLayout.table, builtLayout.controls, resources, dpi);
}

// A passive run: the address in the field (the e-mail rule runs on the change, as for typing)
// and the check box as the command line asked; the buttons are then pressed as the run goes.
void fillInForPassiveRun() {
    if (!appState.passiveMode) {
        return;
    }
    SetWindowTextA(windowState.controls.emailEdit, appState.passiveEmail.c_str());
    if (appState.passiveUsbDriver) {
        SendMessageA(windowState.controls.usbCheckBox, BM_SETCHECK, BST_CHECKED, 0);
    }
}

LRESULT onCreate(HWND window) {
    appState.mainWindow = window;
    INITCOMMONCONTROLSEX commonControls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&commonControls);
    // The window was sized for the system DPI; its monitor may have another.
    const UINT dpi = windowDpi(window);
    createResources(windowState.resources, dpi);
    if (dpi != systemDpi()) {
        const SIZE size = outerSize(dpi);
        SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (appState.updaterMode) {
        buildControls(window, updaterLayout(), dpi);
        postSignal(window, MSG_UPDATE_START);
    } else if (appState.uninstallMode) {
        buildControls(window, uninstallLayout(), dpi);
        postSignal(window, MSG_UNINSTALL_START);
    } else {
        buildControls(window, installerLayout(), dpi);
        // The focus goes there once the window is active (WM_ACTIVATE gives it back).
        windowState.lastFocus = windowState.controls.emailEdit;
        setTextIfChanged(windowState.controls.statusLabel, "Checking...");
        fillInForPassiveRun();
        startServerCheckWorker();
    }
    return 0;
}

// The window moved to a monitor of another DPI (or the user changed the scale): the system
// suggests the rectangle that keeps it in place at the new size.
LRESULT onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    applyDpi(HIWORD(wParam));
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam); suggested != nullptr) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
}

void onDestroy() {
    builtLayout = BuiltLayout{};
    windowState.lastFocus = nullptr;
    windowState.controls = WindowControls{};
    windowState.resources = WindowResources{};  // frees the fonts and brushes
    PostQuitMessage(0);
}

LRESULT onEraseBackground(HWND window, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, windowState.resources.backgroundBrush.get());
    return 1;
}

LRESULT onEditColours(HDC dc) {
    SetTextColor(dc, kEditTextColour);
    SetBkColor(dc, kEditBackgroundColour);
    return reinterpret_cast<LRESULT>(windowState.resources.whiteBrush.get());
}

// Labels, the read-only log and the check box.
LRESULT onStaticColours(HDC dc) {
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, kBackgroundColour);
    SetTextColor(dc, kLabelTextColour);
    return reinterpret_cast<LRESULT>(windowState.resources.backgroundBrush.get());
}

LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return onCreate(window);
        case WM_DESTROY:
            onDestroy();
            return 0;
        case WM_ERASEBKGND:
            return onEraseBackground(window, reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLOREDIT:
            return onEditColours(reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return onStaticColours(reinterpret_cast<HDC>(wParam));
        case WM_COMMAND:
            onCommand(wParam);
            return 0;
        case WM_TIMER:
            onTimer(window, wParam);
            return 0;
        case WM_DPICHANGED:
            return onDpiChanged(window, wParam, lParam);
        case WM_ACTIVATE:
            if (keepFocusOverActivation(window, wParam, windowState.lastFocus)) {
                return 0;
            }
            return DefWindowProcA(window, message, wParam, lParam);
        default:
            if (isTaskMessage(message)) {
                onTaskMessage(window, message, wParam, lParam);
                return 0;
            }
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// A handler threw (a worker thread that could not start, memory exhausted). The exception must
// not unwind into the system's code that called us; keep it for startup to report, and end the
// window so the message loop ends: a failed creation by refusing it, otherwise by destroying it.
LRESULT keepFailure(HWND window, UINT message) noexcept {
    if (!windowState.failure) {
        windowState.failure = std::current_exception();
    }
    if (message == WM_CREATE) {
        return -1;
    }
    DestroyWindow(window);
    return 0;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return dispatch(window, message, wParam, lParam);
    } catch (...) {
        return keepFailure(window, message);
    }
}

}  // namespace

bool registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(TAVRO_ICON_ID));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

HWND createMainWindow(HINSTANCE instance) {
    const SIZE size = outerSize(systemDpi());
    return CreateWindowExA(0, kMainWindowClass, frameOfMode().title, kMainWindowStyle,
                           CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr,
                           instance, nullptr);
}

std::exception_ptr takeWindowFailure() {
    return std::exchange(windowState.failure, nullptr);
}

}  // namespace tavro
