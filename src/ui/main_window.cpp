#include "ui/main_window.h"

#include <commctrl.h>

#include <utility>

#include "core/app_state.h"
#include "core/resource_ids.h"
#include "ui/commands.h"
#include "ui/controls.h"
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
constexpr int kSmallFontHeight = -14;
constexpr int kLargeFontHeight = -18;

// A caption bar with the system menu and a minimize box: no sizing border, no maximize box.
constexpr DWORD kMainWindowStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct WindowFrame {
    const char* title;
    int width;  // outer size
    int height;
};
constexpr WindowFrame kInstallerFrame{"Tavro Installer", 704, 329};
constexpr WindowFrame kUpdaterFrame{"Tavro Updater", 720, 395};
constexpr WindowFrame kUninstallFrame{"Tavro Uninstall", 720, 395};

FontHandle createUiFont(int height) {
    return FontHandle(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, "Microsoft Sans Serif"));
}

void createResources(WindowResources& resources) {
    resources.backgroundBrush.reset(CreateSolidBrush(kBackgroundColour));
    resources.whiteBrush.reset(CreateSolidBrush(kEditBackgroundColour));
    resources.smallFont = createUiFont(kSmallFontHeight);
    resources.largeFont = createUiFont(kLargeFontHeight);
}

LRESULT onCreate(HWND window) {
    appState.mainWindow = window;
    INITCOMMONCONTROLSEX commonControls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&commonControls);
    createResources(windowState.resources);
    if (appState.updaterMode) {
        createControls(window, updaterLayout(), windowState.resources, windowState.controls);
        postSignal(window, MSG_UPDATE_START);
    } else if (appState.uninstallMode) {
        createControls(window, uninstallLayout(), windowState.resources, windowState.controls);
        postSignal(window, MSG_UNINSTALL_START);
    } else {
        createControls(window, installerLayout(), windowState.resources, windowState.controls);
        setTextIfChanged(windowState.controls.statusLabel, "Checking...");
        startServerCheckWorker();
    }
    return 0;
}

void onDestroy() {
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
    const WindowFrame& frame = appState.updaterMode     ? kUpdaterFrame
                               : appState.uninstallMode ? kUninstallFrame
                                                        : kInstallerFrame;
    return CreateWindowExA(0, kMainWindowClass, frame.title, kMainWindowStyle, CW_USEDEFAULT,
                           CW_USEDEFAULT, frame.width, frame.height, nullptr, nullptr, instance,
                           nullptr);
}

std::exception_ptr takeWindowFailure() {
    return std::exchange(windowState.failure, nullptr);
}

}  // namespace tavro
