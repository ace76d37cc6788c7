#include "app/startup.h"

#include <exception>
#include <string>

#include "app/elevation.h"
#include "app/run_mode.h"
#include "core/app_state.h"
#include "ui/dialog_keys.h"
#include "ui/display_text.h"
#include "ui/main_window.h"
#include "ui/progress_bar.h"

namespace tavro {

namespace {

constexpr char kCaption[] = "Tavro Installer";
constexpr char kCrashCaption[] = "Tavro Installer crashed";
constexpr char kElevationFailed[] =
    "Administrator permission is required for installer mode because it writes to "
    "C:/Quendrel/Tavro, creates shortcuts, and writes install metadata.";
constexpr char kClassFailed[] = "Could not register application window class.";
constexpr char kWindowFailed[] = "Could not create application window.";
constexpr char kUnknownFailure[] = "Unknown startup error.";

// A window whose creation failed has been destroyed, and its destroy handler posted the quit
// message; left in the queue it would close the error box at once.
void discardQuitMessage() {
    MSG message;
    PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

void rethrowWindowFailure() {
    if (const std::exception_ptr failure = takeWindowFailure()) {
        std::rethrow_exception(failure);
    }
}

void runMessageLoop() {
    MSG message;
    // GetMessageA answers -1 on an error; only 0 (the quit message) ends the loop normally.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (handleDialogKey(message)) {
            continue;  // Tab, Enter, Ctrl+A: the window's keys, not the control's
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int run(HINSTANCE instance, const std::string& commandLine, int showCommand,
        const StartupServices& services) {
    appState.updaterMode = isUpdaterCommandLine(commandLine);
    if (!appState.updaterMode && !services.isAdministrator()) {
        if (!services.startElevatedCopy()) {
            services.showError(kElevationFailed, kCaption);
            return 1;
        }
        return 0;
    }

    registerProgressBarClass(instance);  // a bar that cannot be created is simply not shown
    if (!registerMainWindowClass(instance)) {
        services.showError(kClassFailed, kCaption);
        return 1;
    }
    const HWND window = createMainWindow(instance);
    if (window == nullptr) {
        discardQuitMessage();
        rethrowWindowFailure();
        services.showError(kWindowFailed, kCaption);
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    runMessageLoop();
    rethrowWindowFailure();
    return 0;
}

void showSystemError(const char* text, const char* caption) {
    try {
        MessageBoxA(nullptr, displayText(text).c_str(), caption, MB_ICONERROR);
    } catch (...) {
        MessageBoxA(nullptr, text, caption, MB_ICONERROR);  // no memory to convert: as it is
    }
}

}  // namespace

StartupServices systemStartupServices() {
    return StartupServices{isProcessAdministrator, startElevatedCopy, showSystemError};
}

int runProgram(HINSTANCE instance, const char* commandLine, int showCommand,
               const StartupServices& services) noexcept {
    try {
        return run(instance, std::string(commandLine), showCommand, services);
    } catch (const std::exception& e) {
        services.showError(e.what(), kCrashCaption);
    } catch (...) {
        services.showError(kUnknownFailure, kCrashCaption);
    }
    return 1;
}

}  // namespace tavro
