#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/install_record_text.h"

namespace tavro {

// The journal of a transaction over the install root: written and flushed before the first
// rename, removed once the transaction is finished one way or the other. The next run reads it
// to finish or undo what a kill or a power loss interrupted. Every user can write it, so, like
// the install record, it is trusted for names inside the install root only.

struct JournalFile {
    RecordEntry entry;     // the new file: its path below the root, size and SHA-256
    bool existed = false;  // whether the root held a file of that name before
};

// Which run wrote the journal, and so what it writes after the commit point, which a
// roll-forward writes the same way.
enum class JournalRun {
    files,    // the files alone (also every journal of an earlier version of this program)
    install,  // the registry values and the Apps & features entry of buildNumber and version
    update,   // the Apps & features entry refreshed to version (none: its size alone)
};

struct JournalFollowUp {
    JournalRun run = JournalRun::files;
    std::string buildNumber;  // install: isJournalBuildNumber
    std::string version;      // install: isJournalVersion; update: that or empty
};

struct TransactionJournal {
    std::wstring stage;  // the staging folder's name, one element inside the root
    std::vector<JournalFile> files;
    JournalFollowUp after = {};
    // The folders the commit makes (none of them there when the files were staged), each a path
    // below the root; an undo removes those that are empty again.
    std::vector<std::string> madeFolders = {};
};

// A build number the journal carries: 1 to 20 decimal digits.
bool isJournalBuildNumber(std::string_view text);
// A version the journal carries: 1 to 64 characters of A-Z, a-z, 0-9, '.', '_', '+' and '-' (the
// characters a version keeps in the package's file name).
bool isJournalVersion(std::string_view text);
// Whether after holds what its run needs, each value of the form above.
bool isWellFormed(const JournalFollowUp& after);

// "Tavro transaction 2", "stage <name>", "after files", "after install <build> <version>" or
// "after update[ <version>]", then "made <path>" per folder the commit makes and
// "<0|1> <sha256> <size> <path>" per file, every line LF ended.
std::string formatJournal(const TransactionJournal& journal);

// The journal of text, or nothing when any line is not what formatJournal writes (a follow-up
// that is not isWellFormed included) or names a place outside the root (a path recordPathProblem
// refuses, a stage name that is not isStageName's). The journals of earlier versions of this
// program ("Tavro transaction 1", the stage and the files) are read as following up the files
// alone and making no folders.
std::optional<TransactionJournal> parseJournal(std::string_view text);

// Whether name is a staging folder's: "TavroInstall.txn." and 16 lower-case hex digits.
bool isStageName(std::wstring_view name);

// Whether the record holds every file of the journal as the new version (the commit point passed).
bool recordHoldsJournal(const std::vector<RecordEntry>& record, const TransactionJournal& journal);

}  // namespace tavro
