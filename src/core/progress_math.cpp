#include "core/progress_math.h"

#include <algorithm>

namespace tavro {

DownloadState makeDownloadState(std::uint64_t downloaded, std::uint64_t total,
                                double elapsedSeconds) {
    const double d = static_cast<double>(downloaded);
    const double t = static_cast<double>(total);
    DownloadState state;
    state.downloadedBytes = downloaded;
    state.totalBytes = total;
    if (total != 0) {
        state.percent = d * 100.0 / t;
    } else {
        state.percent = std::min(d * 100.0 / (d + static_cast<double>(kUnknownTotalPadding)),
                                 kUnknownTotalPercentCap);
    }
    state.downloadedMB = d / 1024.0 / 1024.0;
    state.speedMBps = elapsedSeconds > 0.0 ? state.downloadedMB / elapsedSeconds : 0.0;
    return state;
}

DownloadState completedDownloadState(std::uint64_t size) {
    DownloadState state;
    state.downloadedBytes = size;
    state.totalBytes = size;
    state.percent = 100.0;
    state.downloadedMB = static_cast<double>(size) / kBytesPerMB;
    state.speedMBps = 0.0;
    return state;
}

InstallState makeInstallState(std::int32_t copied, std::int32_t total) {
    InstallState state;
    state.copiedFiles = copied;
    state.totalFiles = total;
    state.percent = total < 1 ? 100.0 : copied * 100.0 / total;
    return state;
}

}  // namespace tavro
