#include "ui/progress_adapters.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
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

// The last whole percent one adapter posted, shared by its copies: the window shows whole
// percents, so only a change is worth a message (at most 101 for a task, however many files).
class ShownPercent {
  public:
    // Whether percent differs from the last one seen; it becomes the last one either way.
    bool changesTo(std::int32_t percent) { return last_.exchange(percent) != percent; }

  private:
    std::atomic<std::int32_t> last_{std::numeric_limits<std::int32_t>::min()};
};

// An adapter that posts message with the whole percent toPercent makes of a state, when it
// changed.
template <typename ToPercent>
InstallCallback changedPercentAdapter(UINT message, ToPercent toPercent) {
    return
        [message, toPercent, shown = std::make_shared<ShownPercent>()](const InstallState& state) {
            const std::int32_t percent = toPercent(state.percent);
            if (shown->changesTo(percent)) {
                postSignal(appState.mainWindow, message, percentParam(percent));
            }
        };
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
    return changedPercentAdapter(MSG_INSTALL_PROGRESS, installPercentParam);
}

InstallCallback updateProgressAdapter() {
    return changedPercentAdapter(MSG_UPDATE_PROGRESS, updatePercentParam);
}

LogCallback logLineAdapter() {
    return [](const std::string& line) {
        // A line of the visible log, never dropped while the window lives.
        deliverPayload(appState.mainWindow, MSG_LOG_LINE, std::make_unique<std::string>(line));
    };
}

}  // namespace tavro
