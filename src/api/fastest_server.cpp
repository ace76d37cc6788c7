#include <atomic>
#include <exception>
#include <future>
#include <memory>

#include "api/api_servers.h"
#include "core/background_thread.h"
#include "core/installer_core.h"
#include "net/http_client.h"
#include "net/reply_limit.h"

namespace tavro {

namespace {

constexpr std::chrono::seconds kSelectionWait{30};
constexpr std::uint32_t kProbeTimeoutSeconds = 12;
constexpr char kProbePath[] = "/api/Tavro/IsUp";
constexpr char kNoServerError[] = "No available server responded with true.";

// One per call, shared by the call and its six probes; freed by whichever lets go last.
struct SharedState {
    std::promise<ServerResult> promise;
    std::atomic<bool> done{false};  // claimed once; the claimer alone sets the promise
};

bool claim(SharedState& state) {
    bool expected = false;
    return state.done.compare_exchange_strong(expected, true);
}

bool probePassed(const HttpResponse& response) {
    return response.statusCode >= 200 && response.statusCode <= 299 && response.error.empty() &&
           response.body.size() >= 4 && response.body.find("true") != std::string::npos;
}

void runProbe(const std::string& baseUrl, const std::shared_ptr<SharedState>& state,
              const LogCallback& log) {
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response =
        httpGet(baseUrl + kProbePath, kProbeTimeoutSeconds, kApiReplyLimitBytes);
    if (!probePassed(response)) {
        if (log) {
            log("Server failed: " + baseUrl + " " + response.error);
        }
        return;
    }
    if (!claim(*state)) {
        return;  // another probe or the timeout got there first
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto ms = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000;
    state->promise.set_value(ServerResult{true, baseUrl, std::to_string(ms) + " ms", {}});
}

// A probe that raised is that server's failure; a sink that raises as well has no one left to
// tell.
void logProbeException(const LogCallback& log, const std::string& baseUrl, const char* what) {
    try {
        if (log) {
            log("Server failed: " + baseUrl + " " + what);
        }
    } catch (...) {
    }
}

ServerResult noServerResult() {
    return ServerResult{false, {}, {}, kNoServerError};
}

}  // namespace

ServerResult InstallerCore::checkFastestServer(LogCallback log) {
    const std::vector<std::string> servers(apiServers.begin(), apiServers.end());
    return checkFastestServer(std::move(log), servers, kSelectionWait);
}

ServerResult InstallerCore::checkFastestServer(LogCallback log,
                                               std::span<const std::string> servers,
                                               std::chrono::milliseconds wait) {
    auto state = std::make_shared<SharedState>();
    std::future<ServerResult> result = state->promise.get_future();
    for (const std::string& server : servers) {
        // Not waited for, on purpose: a late probe finds `done` set and ends on its own; the shared
        // state outlives this call for as long as any probe holds it.
        startBackgroundThread([baseUrl = server, state, log]() noexcept {
            try {
                runProbe(baseUrl, state, log);
            } catch (const std::exception& e) {
                logProbeException(log, baseUrl, e.what());
            } catch (...) {
                logProbeException(log, baseUrl, "unknown error");
            }
        });
    }
    if (result.wait_for(wait) == std::future_status::ready) {
        return result.get();
    }
    if (claim(*state)) {
        state->promise.set_value(noServerResult());
    }
    return noServerResult();
}

}  // namespace tavro
