#include "api/server_routes.h"

#include <exception>
#include <string>

#include "api/api_servers.h"
#include "core/background_thread.h"
#include "core/diagnostics.h"
#include "net/tls_warmup.h"
#include "net/user_proxy.h"

namespace tavro {

namespace {

void sayNotAhead(const char* what) noexcept {
    try {
        diagnostic(std::string("Network: preparing ahead failed (") + what +
                   "); the probes prepare for themselves");
    } catch (...) {
        // no memory to say so: the probes still prepare for themselves
    }
}

// Not waited for, like the probes: whatever is not ready when the check starts, the probes do or
// wait for under the proxy decisions' own lock.
template <typename Work>
void aheadOnItsOwnThread(Work work) {
    startBackgroundThread([work]() noexcept {
        try {
            work();
        } catch (const std::exception& e) {
            sayNotAhead(e.what());
        } catch (...) {
            sayNotAhead("unknown error");
        }
    });
}

}  // namespace

void decideServerRoutesAhead() {
    aheadOnItsOwnThread([] {
        for (const std::string_view server : apiServers) {
            userProxyFor(std::string(server) + "/api/Tavro/IsUp");
        }
    });
    aheadOnItsOwnThread(loadTlsProvider);
}

}  // namespace tavro
