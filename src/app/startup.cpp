#include "app/startup.h"

#include <exception>
#include <string>
#include <vector>

#include "app/elevation.h"
#include "app/install_switches.h"
#include "app/quiet_install.h"
#include "app/run_log.h"
#include "app/run_mode.h"
#include "core/own_program.h"
#include "install/lock_down.h"
#include "app/single_instance.h"
#include "api/server_routes.h"
#include "core/program_log.h"
#include "core/app_state.h"
#include "core/installer_core.h"
#include "core/text_convert.h"
#include "install/file_transaction.h"
#include "install/protected_folder.h"
#include "workflow/install_exit_codes.h"
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
constexpr char kLockedDownText[] =
    "Updates are turned off on this computer by its administrator (the Tavro lock-down policy): "
    "the update was not started. New versions come from the administrator's installs.";
constexpr char kUninstallCaption[] = "Tavro Uninstall";
constexpr char kUninstallQuestion[] =
    "Remove Tavro and Ostrilan from this computer?\n\nRecordings, databases, settings and "
    "every other file you created under C:/Quendrel/Tavro are kept.";

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

// A startup failure: into the log, then its box, which ends with where the log is.
void reportError(const StartupServices& services, const char* text, const char* caption) noexcept {
    try {
        logEvent(std::string("Error shown (") + caption + "): " + text);
        services.showError(withLogNote(text).c_str(), caption);
    } catch (...) {
        services.showError(text, caption);  // no memory for the note: the text alone
    }
}

const char* modeName(RunMode mode) {
    switch (mode) {
        case RunMode::updater:
            return "updater";
        case RunMode::uninstall:
            return "uninstall";
        case RunMode::installer:
            break;
    }
    return "installer";
}

// The parameters an elevated copy needs to run the same mode: none for installer mode.
std::wstring elevatedParameters(RunMode mode, bool quiet) {
    if (mode != RunMode::uninstall) {
        return {};
    }
    return quiet ? L"--uninstall --quiet" : L"--uninstall";
}

// An uninstall for scripts: no window, no question, no box; the outcome in the exit code and
// the log.
int runQuietUninstall() {
    std::vector<std::string> kept;
    std::string error;
    if (!installerCore.runUninstall({}, programLog(), kept, error)) {
        logEvent("Uninstall failed: " + error);
        return 1;
    }
    return 0;
}

// An unattended or passive install started unelevated: its elevated copy does the work and its
// exit code is this run's.
int runElevatedAndWait(const StartupServices& services, const InstallSwitches& switches) {
    const std::wstring parameters = ansiToPath(elevatedParametersOf(switches)).native();
    if (!services.runElevatedCopy) {
        return services.startElevatedCopy(parameters) ? kExitInstalled : kExitInstallFailed;
    }
    const ElevatedRun elevated = services.runElevatedCopy(parameters);
    if (!elevated.started) {
        logEvent("The elevated copy did not start, error " + std::to_string(elevated.error));
        return elevated.error == ERROR_CANCELLED ? kExitCancelled : kExitInstallFailed;
    }
    logEvent("The elevated copy ended with exit code " + std::to_string(elevated.exitCode));
    return static_cast<int>(elevated.exitCode);
}

int startElevated(const StartupServices& services, RunMode mode, bool quiet,
                  const InstallSwitches& switches) {
    if (switches.unattended != Unattended::no) {
        return runElevatedAndWait(services, switches);
    }
    if (!services.startElevatedCopy(elevatedParameters(mode, quiet))) {
        reportError(services, kElevationFailed, kCaption);
        return 1;
    }
    logEvent("Started an elevated copy of the installer.");
    return 0;
}

// Another installer holds the lock: the updater has waited for it; a window brings that one's
// window forward; a run for a deployment tool says so at once.
int anotherInstallerRuns(InstanceState state, RunMode mode, bool windowRun,
                         const StartupServices& services) {
    if (mode == RunMode::updater) {
        logEvent("Another installer was still running after " +
                 std::to_string(services.updaterWait.count()) + " ms: the update was not started.");
        return kExitAnotherInstaller;
    }
    if (windowRun && state == InstanceState::busyHere && bringRunningWindowForward()) {
        logEvent("Another installer is running: its window was brought to the front.");
        return 0;
    }
    logEvent(state == InstanceState::busyHere
                 ? "Another installer is running: nothing was done."
                 : "Another installer is running in another session or account: nothing was done.");
    return kExitAnotherInstaller;
}

// Whatever mode this run is in, first an update or install a killed run left half done is
// finished or undone, and the expansion folders such runs left are removed.
void finishInterruptedWork() {
    recoverInterruptedTransaction(programLog());
    removeLeftoverProtectedFolders();
}

std::string runModeText(RunMode mode, bool quiet, bool passive) {
    return std::string(modeName(mode)) + (quiet ? " (quiet)" : passive ? " (passive)" : "");
}

int run(HINSTANCE instance, const std::string& commandLine, int showCommand,
        const StartupServices& given) {
    // Held from the first moment, so the copy kept for Apps & features is read from this
    // program's own file, which nobody can change or swap while this process runs.
    ownProgramFile();
    const RunMode mode = runModeOf(commandLine);
    const InstallSwitches switches =
        mode == RunMode::installer ? installSwitchesOf(commandLine) : InstallSwitches{};
    const bool passive = switches.unattended == Unattended::passive;
    const bool quiet = (mode == RunMode::uninstall && isQuietCommandLine(commandLine)) ||
                       switches.unattended == Unattended::quiet;
    StartupServices services = given;
    if (quiet || passive || !switches.refusal.empty()) {
        services.showError = [](const char*, const char*) {};  // the log has every error
    }
    appState.updaterMode = mode == RunMode::updater;
    appState.uninstallMode = mode == RunMode::uninstall;
    appState.passiveMode = passive;
    appState.passiveEmail = switches.email;
    appState.passiveUsbDriver = switches.usbDriver;
    logRunStart(runModeText(mode, quiet, passive));
    if (!switches.refusal.empty()) {
        logEvent("Command line refused: " + switches.refusal);
        return kExitBadCommandLine;
    }
    if (appState.updaterMode && lockDownPolicySet()) {
        // At once, before anything is closed or waited for: under the policy, updates come
        // from the administrator's own installs.
        logEvent(kLockedDownText);
        reportError(services, kLockedDownText, kCaption);
        return kExitLockedDown;
    }
    if (!appState.updaterMode && !services.isAdministrator()) {
        return startElevated(services, mode, quiet, switches);
    }
    const InstanceLock lock = InstanceLock::take(
        appState.updaterMode ? services.updaterWait : std::chrono::milliseconds(0));
    if (lock.state() != InstanceState::alone) {
        return anotherInstallerRuns(lock.state(), mode, !quiet && !passive, services);
    }
    finishInterruptedWork();
    if (!appState.updaterMode) {
        logEvent(enforceRedirectionTrust()
                     ? "Links made by non-administrators are not followed (redirection trust)."
                     : "Redirection trust is not offered here; the program checks links itself.");
    }
    if (mode == RunMode::installer) {
        decideServerRoutesAhead();  // while the window is made, or the quiet run starts
    }
    if (switches.unattended == Unattended::quiet) {
        return runQuietInstall(switches.email, switches.usbDriver);
    }
    if (appState.uninstallMode) {
        if (quiet) {
            return runQuietUninstall();
        }
        const bool yes =
            !services.confirm || services.confirm(kUninstallQuestion, kUninstallCaption);
        if (!yes) {
            logEvent("Uninstall cancelled.");
            return 0;
        }
    }
    if (passive) {
        appState.exitCode = kExitCancelled;  // until the run ends by itself
    }

    registerProgressBarClass(instance);  // a bar that cannot be created is simply not shown
    if (!registerMainWindowClass(instance)) {
        reportError(services, kClassFailed, kCaption);
        return 1;
    }
    const HWND window = createMainWindow(instance);
    if (window == nullptr) {
        discardQuitMessage();
        rethrowWindowFailure();
        reportError(services, kWindowFailed, kCaption);
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    runMessageLoop();
    rethrowWindowFailure();
    return appState.exitCode;
}

bool askSystem(const char* text, const char* caption) {
    return MessageBoxA(nullptr, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
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
    return StartupServices{isProcessAdministrator, startElevatedCopy, showSystemError, askSystem,
                           runElevatedCopy};
}

int runProgram(HINSTANCE instance, const char* commandLine, int showCommand,
               const StartupServices& services) noexcept {
    int exitCode = 1;
    try {
        openRunLog();
        exitCode = run(instance, std::string(commandLine), showCommand, services);
    } catch (const std::exception& e) {
        reportError(services, e.what(), kCrashCaption);
    } catch (...) {
        reportError(services, kUnknownFailure, kCrashCaption);
    }
    try {
        logEvent("End: exit code " + std::to_string(exitCode));
    } catch (...) {
        // No memory for the last line: the exit code still stands.
    }
    return exitCode;
}

}  // namespace tavro
