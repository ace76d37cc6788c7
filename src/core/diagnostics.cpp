#include "core/diagnostics.h"

#include <mutex>
#include <utility>

namespace tavro {

namespace {

std::mutex sinkLock;
LogCallback& sinkSlot() {
    static LogCallback sink;
    return sink;
}

}  // namespace

void setDiagnosticSink(LogCallback sink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    sinkSlot() = std::move(sink);
}

void diagnostic(const std::string& line) {
    std::lock_guard<std::mutex> guard(sinkLock);
    if (sinkSlot()) {
        sinkSlot()(line);
    }
}

}  // namespace tavro
