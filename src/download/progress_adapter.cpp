#include "download/progress_adapter.h"

#include "core/progress_math.h"

namespace tavro {

ProgressAdapter::ProgressAdapter(DownloadCallback progress, std::uint64_t total)
    : progress_(std::move(progress)), total_(total), start_(std::chrono::steady_clock::now()) {}

void ProgressAdapter::start() {
    start_ = std::chrono::steady_clock::now();
}

void ProgressAdapter::onBytes(std::uint64_t bytes, std::uint64_t contentLength) {
    if (contentLength != 0 && total_.load(std::memory_order_relaxed) == 0) {
        std::uint64_t unknown = 0;
        total_.compare_exchange_strong(unknown, contentLength);  // only the first one counts
    }
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t downloaded = downloaded_.fetch_add(bytes) + bytes;
    const std::uint64_t total = total_.load();
    if (!progress_) {
        return;
    }
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    progress_(makeDownloadState(downloaded, total, elapsed));
}

ByteProgressCallback ProgressAdapter::callback() {
    return
        [this](std::uint64_t bytes, std::uint64_t contentLength) { onBytes(bytes, contentLength); };
}

void ProgressAdapter::restart() {
    downloaded_.exchange(0);
    if (progress_) {
        DownloadState state;
        state.totalBytes = total_.load();
        progress_(state);
    }
}

}  // namespace tavro
