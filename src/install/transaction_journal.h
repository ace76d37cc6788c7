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

struct TransactionJournal {
    std::wstring stage;  // the staging folder's name, one element inside the root
    std::vector<JournalFile> files;
};

// "Tavro transaction 1", "stage <name>", then "<0|1> <sha256> <size> <path>" per file, LF ended.
std::string formatJournal(const TransactionJournal& journal);

// The journal of text, or nothing when any line is not what formatJournal writes or names a
// place outside the root (a path recordPathProblem refuses, a stage name that is not
// isStageName's).
std::optional<TransactionJournal> parseJournal(std::string_view text);

// Whether name is a staging folder's: "TavroInstall.txn." and 16 lower-case hex digits.
bool isStageName(std::wstring_view name);

// Whether the record holds every file of the journal as the new version (the commit point passed).
bool recordHoldsJournal(const std::vector<RecordEntry>& record, const TransactionJournal& journal);

}  // namespace tavro
