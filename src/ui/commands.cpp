#include "ui/commands.h"

#include <string>

#include "core/app_state.h"
#include "core/installer_core.h"
#include "ui/controls.h"
#include "ui/email_rule.h"
#include "ui/progress_bar.h"
#include "ui/window_layout.h"
#include "ui/window_state.h"
#include "ui/workers.h"

namespace tavro {

namespace {

WindowControls& controls() {
    return windowState.controls;
}

void onDownload() {
    enableControl(controls().downloadButton, false);
    enableControl(controls().installButton, false);
    enableControl(controls().usbCheckBox, false);
    setTextIfChanged(controls().pauseButton, "Pause");
    enableControl(controls().pauseButton, true);
    setProgressBar(controls().downloadBar, 0);
    setTextIfChanged(controls().downloadPercentLabel, "0.00 %");
    setTextIfChanged(controls().downloadedLabel, "0 MB");
    setTextIfChanged(controls().speedLabel, "0 MB/s");
    appState.taskRunning = true;
    startDownloadWorker(windowText(controls().emailEdit));
}

void onPause() {
    const bool wasPaused = installerCore.paused.exchange(!installerCore.paused.load());
    setTextIfChanged(controls().pauseButton, wasPaused ? "Pause" : "Resume");
}

void onInstall() {
    if (!appState.packageReady.load()) {
        showMessage("Please download first.", "Tavro Installer");
        return;
    }
    enableControl(controls().installButton, false);
    enableControl(controls().downloadButton, false);
    enableControl(controls().usbCheckBox, false);
    setProgressBar(controls().installBar, 0);
    setTextIfChanged(controls().installPercentLabel, "0%");
    appState.installRunning.exchange(true);
    appState.installProgressMax.exchange(0);
    appState.taskRunning = true;
    startInstallPulseWorker();
    startInstallWorker();
}

// The check box is not automatic: each click flips it here.
void onUsbCheckBox() {
    const HWND box = controls().usbCheckBox;
    if (box == nullptr) {
        return;
    }
    const bool checked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    SendMessageA(box, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
}

}  // namespace

void validateEmail() {
    const HWND email = controls().emailEdit;
    if (email == nullptr) {
        return;
    }
    const bool allowed =
        downloadAllowed(windowText(email), !appState.serverUrl().empty(), appState.taskRunning);
    enableControl(controls().downloadButton, allowed);
}

void onCommand(WPARAM wParam) {
    if (controls().emailEdit == nullptr) {
        return;  // the updater window has no commands
    }
    switch (LOWORD(wParam)) {
        case kEmailId:
            if (HIWORD(wParam) == EN_CHANGE) {
                validateEmail();
            }
            break;
        case kDownloadId:
            onDownload();
            break;
        case kPauseId:
            onPause();
            break;
        case kInstallId:
            onInstall();
            break;
        case kUsbId:
            onUsbCheckBox();
            break;
        default:
            break;
    }
}

}  // namespace tavro
