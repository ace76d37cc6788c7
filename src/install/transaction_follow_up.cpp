#include "install/transaction_follow_up.h"

#include <windows.h>

#include <exception>
#include <filesystem>
#include <string>

#include "fs/install_paths.h"
#include "install/install_record.h"
#include "install/registry_records.h"
#include "install/shortcuts.h"
#include "install/uninstall_entry.h"

namespace tavro {

namespace {

void say(const LogCallback& log, const std::string& line) {
    if (log) {
        log(line);
    }
}

// Whether the kept installer, which the entry's uninstall command starts, is there (Program
// Files: only administrators can put it there or take it away).
bool keptInstallerIsThere() {
    const std::filesystem::path kept = keptInstallerPath();
    std::error_code ignored;
    return !kept.empty() && std::filesystem::is_regular_file(kept, ignored);
}

bool writeRegistryValues(const JournalFollowUp& after, const LogCallback& log) {
    std::string error;
    if (!writeRegistryRecords(after.buildNumber, installRoot(), error)) {
        say(log, "Registry values not written: " + error);
        return false;
    }
    return true;
}

// Writes the Apps & features entry of the version with write (writeUninstallEntry or
// refreshUninstallEntry), sized by the install record; failure logged after failureText.
template <typename Write>
bool writeSizedEntry(const JournalFollowUp& after, const LogCallback& log, Write write,
                     const std::string& failureText) {
    std::string error;
    ParsedRecord record;
    if (!readInstallRecord(record, error) ||
        !write(after.version, recordKibibytes(record.entries), error)) {
        say(log, failureText + error);
        return false;
    }
    return true;
}

// The entry of the version, pointing at the kept installer; none without one (an entry whose
// uninstall command starts nothing helps nobody).
bool writeAppsEntry(const JournalFollowUp& after, const LogCallback& log) {
    if (!keptInstallerIsThere()) {
        say(log, "Apps & features entry left to the registration: no kept installer yet.");
        return false;
    }
    return writeSizedEntry(after, log, writeUninstallEntry, "Apps & features entry not written: ");
}

bool refreshAppsEntry(const JournalFollowUp& after, const LogCallback& log) {
    return writeSizedEntry(after, log, refreshUninstallEntry,
                           "Apps & features was not refreshed: ");
}

// As the install registers itself; where that fails (an unelevated run cannot write Program
// Files), the entry alone, to the kept installer that is there.
bool registerAppsEntry(const JournalFollowUp& after, const LogCallback& log) {
    std::string error;
    if (registerInstallation(after.version, error)) {
        return true;
    }
    say(log, "The installer copy was not kept (" + error + "); the next install keeps it.");
    return writeAppsEntry(after, log);
}

void writeFollowUpSteps(const JournalFollowUp& after, const LogCallback& log) {
    switch (after.run) {
        case JournalRun::install:
            writeRegistryValues(after, log);
            writeAppsEntry(after, log);
            break;
        case JournalRun::update:
            refreshAppsEntry(after, log);
            break;
        case JournalRun::files:
            break;
    }
}

void finishFollowUpSteps(const JournalFollowUp& after, const LogCallback& log) {
    std::string shortcutError;
    if (!createShortcuts(shortcutError)) {
        say(log, "Shortcuts not written: " + shortcutError);
    }
    switch (after.run) {
        case JournalRun::install:
            if (writeRegistryValues(after, log)) {
                say(log, "Registry values written: build " + after.buildNumber);
            }
            if (registerAppsEntry(after, log)) {
                say(log, "Apps & features entry written for version " + after.version);
            }
            break;
        case JournalRun::update:
            if (refreshAppsEntry(after, log)) {
                say(log,
                    "Apps & features refreshed" +
                        (after.version.empty() ? std::string() : " to version " + after.version));
            }
            break;
        case JournalRun::files:
            break;
    }
}

// Every step logs its own failure; anything thrown is logged too, never let out: a follow-up that
// kept failing must not keep the journal, and with it every later install, from ending.
template <typename Steps>
void withoutThrowing(const LogCallback& log, Steps steps) {
    try {
        steps();
    } catch (const std::exception& e) {
        say(log, std::string("Writing what follows the files failed: ") + e.what());
    }
}

}  // namespace

void writeFollowUp(const JournalFollowUp& after, const LogCallback& log) {
    withoutThrowing(log, [&] { writeFollowUpSteps(after, log); });
}

void finishFollowUp(const JournalFollowUp& after, const LogCallback& log) {
    withoutThrowing(log, [&] { finishFollowUpSteps(after, log); });
}

}  // namespace tavro
