#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/callbacks.h"

namespace tavro::test {

// Every record and log line an operation publishes, from whichever threads it publishes on.
template <typename State = std::monostate>
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
    // The lines once there are count of them, or when the deadline has passed.
    std::vector<std::string> awaitLines(std::size_t count, std::chrono::milliseconds deadline) {
        const auto start = std::chrono::steady_clock::now();
        while (lines().size() < count && std::chrono::steady_clock::now() - start < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return lines();
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
