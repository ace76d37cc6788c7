#include "ui/progress_adapters.h"

#include <cstdint>
#include <string>
#include <utility>

#include "core/app_state.h"
#include "ui/progress_values.h"
#include "ui/ui_messages.h"

namespace tavro {

namespace {

// A whole percent as wParam; the handler reads back its low 32 bits as a signed value.
WPARAM percentParam(std::int32_t percent) {
    return static_cast<WPARAM>(static_cast<std::uint32_t>(percent));
}

}  // namespace

DownloadCallback downloadProgressAdapter(std::shared_ptr<DownloadThrottle> throttle) {
    return [throttle = std::move(throttle)](const DownloadState& state) {
        if (!throttle->admit(state.percent, DownloadThrottle::Clock::now())) {
            return;
        }
        postPayload(appState.mainWindow, MSG_DOWNLOAD_PROGRESS,
                    std::make_unique<DownloadProgress>(
                        DownloadProgress{state.percent, state.downloadedMB, state.speedMBps}));
    };
}

InstallCallback installProgressAdapter() {
    return [](const InstallState& state) {
        postSignal(appState.mainWindow, MSG_INSTALL_PROGRESS,
                   percentParam(installPercentParam(state.percent)));
    };
}

InstallCallback updateProgressAdapter() {
    return [](const InstallState& state) {
        postSignal(appState.mainWindow, MSG_UPDATE_PROGRESS,
                   percentParam(updatePercentParam(state.percent)));
    };
}

LogCallback logLineAdapter() {
    return [](const std::string& line) {
        postPayload(appState.mainWindow, MSG_LOG_LINE, std::make_unique<std::string>(line));
    };
}

}  // namespace tavro
