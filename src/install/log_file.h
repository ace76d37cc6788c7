#pragma once

#include <filesystem>
#include <mutex>
#include <string>

namespace tavro {

class HeldFolder;

// "C:/Quendrel/Tavro/Logs/TavroInstaller.log" as a box names it.
inline constexpr char kLogFileText[] = "C:/Quendrel/Tavro/Logs/TavroInstaller.log";

// The install root joined with "Logs" and "TavroInstaller.log".
std::filesystem::path logFilePath();

// The log a user can send: every run appends one line per event, with the local time to the
// millisecond and the thread. Its folder lies below the install root, which normal users may
// write, so every line is written through a held, checked handle to the folder, as the
// install's own writes are. At
// kLogRotationBytes the file is renamed to "<name>.1.log" (replacing the older one) and a new
// one starts. A line that cannot be written is dropped and the reason kept: the log never stops
// what it records. Safe to use from any thread.
class LogFile {
  public:
    explicit LogFile(std::filesystem::path path);
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void write(const std::string& text) noexcept;

    // Empty while every line was written; otherwise why the first one that failed was not.
    std::string failure() const;

    // What a failure box adds: where the log is, or that it could not be written.
    std::string boxNote() const;

  private:
    void append(const std::string& line);
    void rotate(const HeldFolder& folder, void* log);

    const std::filesystem::path path_;
    const std::filesystem::path rotated_;
    mutable std::mutex lock_;
    std::string failure_;
};

}  // namespace tavro
