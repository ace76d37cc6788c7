#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// The install record: one line per file that an install or an update put below the install
// root, with its size and SHA-256, so that an uninstall removes exactly those files and only
// while their content is unchanged. Every user can write the record, so it is trusted for
// nothing but naming files inside the root: recordPathProblem refuses every other name.

struct RecordEntry {
    std::string path;  // relative to the install root, UTF-8, '/' between elements
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// "Tavro install record 1", then "<sha256> <size> <path>" per entry, each line ending in LF.
std::string formatInstallRecord(const std::vector<RecordEntry>& entries);
std::string formatInstallRecord(const std::vector<const RecordEntry*>& entries);

struct ParsedRecord {
    std::vector<RecordEntry> entries;
    std::vector<std::string> badLines;  // lines that are not entries, as they were
};

// The entries of a record text. A wrong first line makes every line a bad one.
ParsedRecord parseInstallRecord(std::string_view text);

// Empty when path may name a file inside the install root: relative, elements separated by '/'
// or '\', none empty, "." or "..", no drive, no ':' (no stream), no control character, no
// element ending in a dot or blank (the platform would drop them). Otherwise the reason.
std::string recordPathProblem(std::string_view path);

// The form in which the record compares paths: ASCII letters without case, '\' as '/'.
std::string recordKey(std::string_view path);

// The entries of older replaced by those of newer with the same path (ASCII letters compared
// without case, '\' read as '/'), sorted by path; within each list, too, a later entry of a file
// replaces an earlier one. The addresses of the entries that stay: nothing is copied.
std::vector<const RecordEntry*> mergedEntries(const std::vector<RecordEntry>& older,
                                              const std::vector<const RecordEntry*>& newer);

// The addresses of entries, in order: a view of them for the functions taking one.
std::vector<const RecordEntry*> entriesOf(const std::vector<RecordEntry>& entries);

// The sum of the entries' sizes in KiB, rounded up (what Apps & features shows).
std::uint32_t recordKibibytes(const std::vector<RecordEntry>& entries);

}  // namespace tavro
