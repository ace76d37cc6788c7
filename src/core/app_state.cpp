#include "core/app_state.h"

namespace tavro {

AppState appState;

std::string AppState::serverUrl() const {
    std::lock_guard lock(serverUrlMutex_);
    return serverUrl_;
}

void AppState::setServerUrl(std::string url) {
    std::lock_guard lock(serverUrlMutex_);
    serverUrl_ = std::move(url);
}

}  // namespace tavro
