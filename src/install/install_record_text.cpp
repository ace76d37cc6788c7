#include "install/install_record_text.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace tavro {

namespace {

constexpr std::string_view kHeader = "Tavro install record 1";

bool isHexDigest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// A path's character as two paths of one file share it: ASCII letters in lower case, '\' as '/'.
unsigned char keyChar(char c) {
    c = c == '\\' ? '/' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return static_cast<unsigned char>(c);
}

bool parseEntry(std::string_view line, RecordEntry& entry) {
    const std::size_t firstBlank = line.find(' ');
    if (firstBlank == std::string_view::npos) {
        return false;
    }
    const std::size_t secondBlank = line.find(' ', firstBlank + 1);
    if (secondBlank == std::string_view::npos) {
        return false;
    }
    const std::string_view digest = line.substr(0, firstBlank);
    const std::string_view size = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    const std::string_view path = line.substr(secondBlank + 1);
    std::uint64_t value = 0;
    const auto [end, result] = std::from_chars(size.data(), size.data() + size.size(), value);
    if (!isHexDigest(digest) || size.empty() || result != std::errc() ||
        end != size.data() + size.size() || path.empty()) {
        return false;
    }
    entry = RecordEntry{std::string(path), value, std::string(digest)};
    return true;
}

}  // namespace

std::string formatInstallRecord(const std::vector<const RecordEntry*>& entries) {
    // Measured first, so that a record of many files is written into one buffer of its size.
    const auto sizeText = [](const RecordEntry& entry) { return std::to_string(entry.size); };
    std::size_t length = std::string_view(kHeader).size() + 1;
    for (const RecordEntry* entry : entries) {
        length += entry->sha256.size() + sizeText(*entry).size() + entry->path.size() + 3;
    }
    std::string text;
    text.reserve(length);
    text += kHeader;
    text += '\n';
    for (const RecordEntry* entry : entries) {
        text.append(entry->sha256).append(1, ' ').append(sizeText(*entry)).append(1, ' ');
        text.append(entry->path).append(1, '\n');
    }
    return text;
}

std::string formatInstallRecord(const std::vector<RecordEntry>& entries) {
    return formatInstallRecord(entriesOf(entries));
}

ParsedRecord parseInstallRecord(std::string_view text) {
    ParsedRecord parsed;
    bool headerSeen = false;
    bool headerGood = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!headerSeen) {
            headerSeen = true;
            headerGood = line == kHeader;
            if (headerGood) {
                continue;
            }
        }
        if (line.empty()) {
            continue;
        }
        RecordEntry entry;
        if (headerGood && parseEntry(line, entry)) {
            parsed.entries.push_back(std::move(entry));
        } else {
            parsed.badLines.emplace_back(line);
        }
    }
    return parsed;
}

std::string recordPathProblem(std::string_view path) {
    if (path.empty()) {
        return "an empty name";
    }
    if (path.front() == '/' || path.front() == '\\') {
        return "an absolute path";
    }
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "a control character in the name";
        }
        if (c == ':') {
            return "a drive or stream in the name";
        }
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find_first_of("/\\", start);
        const std::string_view element = path.substr(start, end - start);
        if (element.empty()) {
            return "an empty element";
        }
        if (element == "." || element == "..") {
            return "a \"" + std::string(element) + "\" element";
        }
        if (element.back() == '.' || element.back() == ' ') {
            return "an element ending in a dot or blank";
        }
        if (end == std::string_view::npos) {
            return {};
        }
        start = end + 1;
    }
}

namespace {

// Whether path a sorts before path b by the characters two paths of one file share.
bool keyLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return keyChar(x) < keyChar(y); });
}

}  // namespace

std::string recordKey(std::string_view path) {
    std::string key(path.size(), '\0');
    std::transform(path.begin(), path.end(), key.begin(),
                   [](char c) { return static_cast<char>(keyChar(c)); });
    return key;
}

std::vector<const RecordEntry*> mergedEntries(const std::vector<RecordEntry>& older,
                                              const std::vector<const RecordEntry*>& newer) {
    // Every entry by its place (older first, then newer), sorted by key and, among equal keys, by
    // place: the last of each run of equal keys is the one that stays. Only places are sorted:
    // a record of many files is not held twice over.
    const auto entryAt = [&](std::size_t place) -> const RecordEntry& {
        return place < older.size() ? older[place] : *newer[place - older.size()];
    };
    std::vector<std::size_t> places(older.size() + newer.size());
    std::iota(places.begin(), places.end(), std::size_t{0});
    std::sort(places.begin(), places.end(), [&](std::size_t a, std::size_t b) {
        const std::string& pathA = entryAt(a).path;
        const std::string& pathB = entryAt(b).path;
        if (keyLess(pathA, pathB)) {
            return true;
        }
        return !keyLess(pathB, pathA) && a < b;
    });
    std::vector<const RecordEntry*> merged;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const RecordEntry& entry = entryAt(places[i]);
        if (i + 1 < places.size() && !keyLess(entry.path, entryAt(places[i + 1]).path)) {
            continue;  // a later entry of the same file follows
        }
        merged.push_back(&entry);
    }
    return merged;
}

std::vector<const RecordEntry*> entriesOf(const std::vector<RecordEntry>& entries) {
    std::vector<const RecordEntry*> pointers;
    pointers.reserve(entries.size());
    for (const RecordEntry& entry : entries) {
        pointers.push_back(&entry);
    }
    return pointers;
}

std::uint32_t recordKibibytes(const std::vector<RecordEntry>& entries) {
    std::uint64_t bytes = 0;
    for (const RecordEntry& entry : entries) {
        bytes += entry.size;
    }
    const std::uint64_t kib = (bytes + 1023) / 1024;
    return kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

}  // namespace tavro
