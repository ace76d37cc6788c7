#pragma once

#include <chrono>
#include <optional>

namespace tavro {

// How long a step waits for a file another program holds (a scanner looks at a new file for a
// moment, a viewer or a second session of the product may hold it longer): tries again after
// 50 ms, doubling the wait up to 1 s, for about 15 s per file and about 60 s per run in all.
class BusyRetry {
  public:
    BusyRetry() = default;
    BusyRetry(std::chrono::milliseconds perFile, std::chrono::milliseconds perRun);

    // A new file: its own budget starts (the run's goes on).
    void startFile();
    // The wait before the next try, counted against both budgets; nothing when either is spent.
    std::optional<std::chrono::milliseconds> nextWait();

  private:
    std::chrono::milliseconds perFile_{15000};
    std::chrono::milliseconds perRun_{60000};
    std::chrono::milliseconds spentOnFile_{0};
    std::chrono::milliseconds spentInRun_{0};
    std::chrono::milliseconds wait_{50};
};

}  // namespace tavro
