#include "core/log_line.h"

#include <cstdio>

namespace tavro {

std::string formatLogLine(const LocalTime& time, std::uint32_t threadId, std::string_view text) {
    char stamp[64];
    const int length =
        std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d [thread %lu] ",
                      time.year, time.month, time.day, time.hour, time.minute, time.second,
                      time.millisecond, static_cast<unsigned long>(threadId));
    std::string line(stamp, length > 0 ? static_cast<std::size_t>(length) : 0);
    line.reserve(line.size() + text.size());
    for (const char c : text) {
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    return line;
}

std::string maskEmail(std::string_view email) {
    const std::size_t at = email.find('@');
    if (at == std::string_view::npos) {
        return "***";
    }
    std::string masked = at > 0 ? std::string(1, email[0]) : std::string();
    masked += "***";
    masked += email.substr(at);
    return masked;
}

bool logNeedsRotation(std::uint64_t currentBytes, std::uint64_t lineBytes) {
    return currentBytes > 0 && currentBytes + lineBytes > kLogRotationBytes;
}

}  // namespace tavro
