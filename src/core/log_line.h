#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

// The lines of the log file a user can send: formatting, the masking of personal data and when
// the file is rotated. The file itself is written elsewhere (install/log_file.h).

// A moment as the local clock shows it.
struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// "2026-12-09 01:16:23.123 [thread 1234] text", without a line end. Line breaks inside text
// become blanks, so one event stays one line.
std::string formatLogLine(const LocalTime& time, std::uint32_t threadId, std::string_view text);

// An e-mail address as the log may keep it: its first character, "***", and everything from the
// at sign on ("demo@example.com" reads "d***@example.com"). Without an at sign: "***".
std::string maskEmail(std::string_view email);

// The size at which the log is renamed to its ".1" name and a new one is started.
inline constexpr std::uint64_t kLogRotationBytes = 1048576;

// Whether a log of currentBytes must be rotated before a line of lineBytes is added: when the
// line would take it past kLogRotationBytes. An empty log is never rotated, however long the line.
bool logNeedsRotation(std::uint64_t currentBytes, std::uint64_t lineBytes);

}  // namespace tavro
