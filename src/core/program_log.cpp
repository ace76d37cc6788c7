#include "core/program_log.h"

#include <mutex>
#include <utility>

namespace tavro {

namespace {

struct ProgramLog {
    std::mutex lock;
    LogCallback write;
    std::function<std::string()> note;
};

ProgramLog& programLogSlot() {
    static ProgramLog log;
    return log;
}

}  // namespace

void installProgramLog(LogCallback write, std::function<std::string()> note) {
    ProgramLog& log = programLogSlot();
    std::lock_guard<std::mutex> guard(log.lock);
    log.write = std::move(write);
    log.note = std::move(note);
}

LogCallback programLog() {
    ProgramLog& log = programLogSlot();
    std::lock_guard<std::mutex> guard(log.lock);
    return log.write;
}

void logEvent(const std::string& line) {
    if (const LogCallback write = programLog()) {
        write(line);
    }
}

std::string withLogNote(const std::string& text) {
    std::function<std::string()> note;
    {
        ProgramLog& log = programLogSlot();
        std::lock_guard<std::mutex> guard(log.lock);
        note = log.note;
    }
    return note ? text + note() : text;
}

}  // namespace tavro
