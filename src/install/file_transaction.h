#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/callbacks.h"
#include "install/busy_retry.h"
#include "install/transaction_journal.h"

namespace tavro {

// Puts every file under source at the same place below the install root as one transaction:
// afterwards either every one of them is the new file and the install record lists them, or
// (after a failure, also after a kill followed by the next run's recoverInterruptedTransaction)
// every file is as it was, the record unchanged, and the folders the commit made are gone again
// where they are empty.
//
// The new files are first copied into a staging folder inside the root (the same volume), through
// held handles, after a check that the drive has room for them. A journal naming them is then
// written and flushed, and each is committed by renames through held handles: the file it
// replaces renamed aside into the staging folder's backups, the new one renamed into place, never
// a rename onto an existing name (a program in use may be renamed, never overwritten). The install
// record is the commit point: a failure before it is undone (the backups renamed back), after it
// finished. The backups are removed at the end; one still in use stays for a later run.
//
// A file another program holds is tried again (BusyRetry, each retry logged); when it stays held,
// the failure names it and, where the platform says, the program holding it. copied and the
// InstallState records published follow the staging copy. false with error, which says whether
// the earlier files were kept.
bool installFilesAsOne(const std::filesystem::path& source, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, BusyRetry retry = BusyRetry());
// The same for a run that writes more once the record holds the new files (after): the journal
// carries it, it is written (writeFollowUp) before the journal goes, and a kill after the record
// has the next start write it. A follow-up whose values are not of the journal's forms is logged
// and left out (the files alone).
bool installFilesAsOne(const std::filesystem::path& source, const JournalFollowUp& after,
                       InstallCallback progress, LogCallback log, std::int32_t total,
                       std::int32_t& copied, std::string& error, BusyRetry retry = BusyRetry());

// Finishes or undoes the transaction a killed run left behind, from its journal: finished when
// the install record already holds the new files, undone otherwise; then removes the journal and
// every staging folder left in the root (what is still in use stays for a later run). Safe to run
// again at any moment, also when it was itself interrupted. Never throws; false (with what it
// could not do logged) when a transaction is still open.
bool recoverInterruptedTransaction(const LogCallback& log);

}  // namespace tavro
