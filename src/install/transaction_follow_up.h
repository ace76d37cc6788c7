#pragma once

#include "core/callbacks.h"
#include "install/transaction_journal.h"

namespace tavro {

// What a run writes once its transaction passed the commit point (the install record), before the
// journal goes: so that a kill at any instant after the record leaves either this written or the
// journal that makes the next start write it.
//   install: the registry values (build number, install root) and, when the kept installer is
//            there, the Apps & features entry of the version;
//   update:  the Apps & features entry's size and version refreshed.
// A failure is logged and fails nothing (nothing is thrown): the files are in place.
void writeFollowUp(const JournalFollowUp& after, const LogCallback& log);

// The roll-forward's follow-up, in a later run of any mode, elevated or not: the shortcuts, then
// what writeFollowUp writes, and for an install the Apps & features entry registered as the
// install does it (the kept installer refreshed), or, where this run cannot write Program Files,
// written to the kept installer that is there (none there: logged, left to the next install).
// The values come from a journal every user can write; it carries only values of the forms
// isWellFormed accepts, and the rollback floor is never raised from it.
void finishFollowUp(const JournalFollowUp& after, const LogCallback& log);

}  // namespace tavro
