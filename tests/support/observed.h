#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/callbacks.h"

namespace tavro::test {

// Every record and log line an operation publishes, from whichever threads it publishes on.
template <typename State>
class Observed {
  public:
    std::function<void(const State&)> progress() {
        return [this](const State& state) {
            std::lock_guard lock(mutex_);
            records_.push_back(state);
        };
    }
    LogCallback log() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<State> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<State> records_;
    std::vector<std::string> lines_;
};

}  // namespace tavro::test
