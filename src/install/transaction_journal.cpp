#include "install/transaction_journal.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace tavro {

namespace {

constexpr std::string_view kFirstLine = "Tavro transaction 2";
constexpr std::string_view kEarlierFirstLine = "Tavro transaction 1";  // no follow-up, no folders
constexpr std::string_view kStagePrefix = "stage ";
constexpr std::string_view kAfterPrefix = "after ";
constexpr std::string_view kMadePrefix = "made ";
constexpr std::wstring_view kStageNamePrefix = L"TavroInstall.txn.";

bool isLowerHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

bool isDigest(std::string_view text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return isLowerHex(c); });
}

// One "<0|1> <sha256> <size> <path>" line.
std::optional<JournalFile> parseFileLine(std::string_view line) {
    if (line.size() < 2 || (line[0] != '0' && line[0] != '1') || line[1] != ' ') {
        return std::nullopt;
    }
    JournalFile file;
    file.existed = line[0] == '1';
    line.remove_prefix(2);
    const std::size_t digestEnd = line.find(' ');
    if (digestEnd == std::string_view::npos || !isDigest(line.substr(0, digestEnd))) {
        return std::nullopt;
    }
    file.entry.sha256 = std::string(line.substr(0, digestEnd));
    line.remove_prefix(digestEnd + 1);
    const std::size_t sizeEnd = line.find(' ');
    if (sizeEnd == std::string_view::npos || sizeEnd == 0) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(line.data(), line.data() + sizeEnd, file.entry.size);
    if (error != std::errc() || end != line.data() + sizeEnd) {
        return std::nullopt;
    }
    line.remove_prefix(sizeEnd + 1);
    if (!recordPathProblem(line).empty()) {
        return std::nullopt;
    }
    file.entry.path = std::string(line);
    return file;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isVersionCharacter(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '_' ||
           c == '+' || c == '-';
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "files", "install <build> <version>", "update" or "update <version>".
std::optional<JournalFollowUp> parseFollowUp(std::string_view text) {
    JournalFollowUp after;
    if (text == "files") {
        return after;
    }
    if (startsWith(text, "install ")) {
        text.remove_prefix(8);
        const std::size_t space = text.find(' ');
        if (space == std::string_view::npos) {
            return std::nullopt;
        }
        after = {JournalRun::install, std::string(text.substr(0, space)),
                 std::string(text.substr(space + 1))};
    } else if (text == "update") {
        after.run = JournalRun::update;
    } else if (startsWith(text, "update ")) {
        after = {JournalRun::update, {}, std::string(text.substr(7))};
        if (after.version.empty()) {
            return std::nullopt;  // "update" alone says that
        }
    } else {
        return std::nullopt;
    }
    if (!isWellFormed(after)) {
        return std::nullopt;
    }
    return after;
}

std::string followUpText(const JournalFollowUp& after) {
    switch (after.run) {
        case JournalRun::install:
            return "install " + after.buildNumber + " " + after.version;
        case JournalRun::update:
            return after.version.empty() ? "update" : "update " + after.version;
        case JournalRun::files:
            break;
    }
    return "files";
}

}  // namespace

bool isStageName(std::wstring_view name) {
    if (name.size() != kStageNamePrefix.size() + 16 ||
        name.substr(0, kStageNamePrefix.size()) != kStageNamePrefix) {
        return false;
    }
    const std::wstring_view digits = name.substr(kStageNamePrefix.size());
    return std::all_of(digits.begin(), digits.end(), isLowerHex);
}

bool isJournalBuildNumber(std::string_view text) {
    return !text.empty() && text.size() <= 20 && std::all_of(text.begin(), text.end(), isDigit);
}

bool isJournalVersion(std::string_view text) {
    return !text.empty() && text.size() <= 64 &&
           std::all_of(text.begin(), text.end(), isVersionCharacter);
}

bool isWellFormed(const JournalFollowUp& after) {
    switch (after.run) {
        case JournalRun::install:
            return isJournalBuildNumber(after.buildNumber) && isJournalVersion(after.version);
        case JournalRun::update:
            return after.buildNumber.empty() &&
                   (after.version.empty() || isJournalVersion(after.version));
        case JournalRun::files:
            return after.buildNumber.empty() && after.version.empty();
    }
    return false;
}

std::string formatJournal(const TransactionJournal& journal) {
    std::string text(kFirstLine);
    text += "\n";
    text += kStagePrefix;
    for (const wchar_t c : journal.stage) {
        text += static_cast<char>(c);  // isStageName: ASCII only
    }
    text += "\n";
    text += std::string(kAfterPrefix) + followUpText(journal.after) + "\n";
    for (const std::string& folder : journal.madeFolders) {
        text += std::string(kMadePrefix) + folder + "\n";
    }
    for (const JournalFile& file : journal.files) {
        text += file.existed ? "1 " : "0 ";
        text += file.entry.sha256 + " " + std::to_string(file.entry.size) + " " + file.entry.path +
                "\n";
    }
    return text;
}

std::optional<TransactionJournal> parseJournal(std::string_view text) {
    TransactionJournal journal;
    bool earlierForm = false;
    bool followUpRead = false;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;  // a line cut off: not written whole
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        ++lineNumber;
        if (lineNumber == 1) {
            earlierForm = line == kEarlierFirstLine;
            if (line != kFirstLine && !earlierForm) {
                return std::nullopt;
            }
        } else if (lineNumber == 2) {
            if (!startsWith(line, kStagePrefix)) {
                return std::nullopt;
            }
            for (const char c : line.substr(kStagePrefix.size())) {
                journal.stage += static_cast<wchar_t>(static_cast<unsigned char>(c));
            }
            if (!isStageName(journal.stage)) {
                return std::nullopt;
            }
        } else if (lineNumber == 3 && !earlierForm) {
            std::optional<JournalFollowUp> after =
                startsWith(line, kAfterPrefix) ? parseFollowUp(line.substr(kAfterPrefix.size()))
                                               : std::nullopt;
            if (!after) {
                return std::nullopt;
            }
            journal.after = std::move(*after);
            followUpRead = true;
        } else if (!earlierForm && journal.files.empty() && startsWith(line, kMadePrefix)) {
            const std::string_view folder = line.substr(kMadePrefix.size());
            if (!recordPathProblem(folder).empty()) {
                return std::nullopt;
            }
            journal.madeFolders.emplace_back(folder);
        } else {
            std::optional<JournalFile> file = parseFileLine(line);
            if (!file) {
                return std::nullopt;
            }
            journal.files.push_back(std::move(*file));
        }
    }
    if (lineNumber < 2 || (!earlierForm && !followUpRead)) {
        return std::nullopt;
    }
    return journal;
}

bool recordHoldsJournal(const std::vector<RecordEntry>& record, const TransactionJournal& journal) {
    std::unordered_map<std::string, const RecordEntry*> byPath;
    for (const RecordEntry& entry : record) {
        byPath[recordKey(entry.path)] = &entry;
    }
    return std::all_of(journal.files.begin(), journal.files.end(), [&](const JournalFile& file) {
        const auto found = byPath.find(recordKey(file.entry.path));
        return found != byPath.end() && found->second->size == file.entry.size &&
               found->second->sha256 == file.entry.sha256;
    });
}

}  // namespace tavro
