#include "api/json_text.h"

#include <cstdio>

namespace tavro {

namespace {

// The C library's tolower/isspace in the "C" locale, without depending on the current locale.
char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string lowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = asciiLower(c);
    }
    return lower;
}

// Reads a key-matching token starting at start (just after its opening quote). A backslash
// keeps the next byte as it is. Returns the index of the closing quote, or the reply's size
// when the token runs to the end.
std::size_t readToken(std::string_view reply, std::size_t start, std::string& token) {
    std::size_t i = start;
    while (i < reply.size()) {
        const char c = reply[i];
        if (c == '"') {
            return i;
        }
        if (c == '\\' && i + 1 < reply.size()) {
            token += reply[i + 1];
            i += 2;
        } else {
            token += c;
            ++i;
        }
    }
    return i;
}

char translateEscape(char c) {
    switch (c) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return c;  // quote, slash, backslash, and every other byte as itself
    }
}

std::string readStringValue(std::string_view reply, std::size_t start) {
    std::string value;
    std::size_t i = start;
    while (i < reply.size() && reply[i] != '"') {
        if (reply[i] == '\\') {
            if (i + 1 >= reply.size()) {
                value += '\\';
                break;
            }
            value += translateEscape(reply[i + 1]);
            i += 2;
        } else {
            value += reply[i++];
        }
    }
    return value;
}

std::string readBareValue(std::string_view reply, std::size_t start) {
    std::size_t end = start;
    while (end < reply.size() && reply[end] != ',' && reply[end] != '}' && !isCSpace(reply[end])) {
        ++end;
    }
    return std::string(reply.substr(start, end - start));
}

constexpr std::size_t kNone = std::string_view::npos;

std::size_t skipSpace(std::string_view reply, std::size_t i) {
    while (i < reply.size() && isCSpace(reply[i])) {
        ++i;
    }
    return i;
}

// The index after the string whose opening quote is at i, or kNone when it does not end.
std::size_t skipString(std::string_view reply, std::size_t i) {
    for (++i; i < reply.size(); ++i) {
        if (reply[i] == '\\') {
            ++i;
        } else if (reply[i] == '"') {
            return i + 1;
        }
    }
    return kNone;
}

// The index after the object or array that opens at i, or kNone when it does not close.
std::size_t skipNested(std::string_view reply, std::size_t i) {
    std::size_t depth = 0;
    while (i < reply.size()) {
        const char c = reply[i];
        if (c == '"') {
            i = skipString(reply, i);
            if (i == kNone) {
                return kNone;
            }
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return i + 1;
        }
        ++i;
    }
    return kNone;
}

// The index after the value that starts at i, or kNone when there is none.
std::size_t skipValue(std::string_view reply, std::size_t i) {
    if (i >= reply.size()) {
        return kNone;
    }
    if (reply[i] == '"') {
        return skipString(reply, i);
    }
    if (reply[i] == '{' || reply[i] == '[') {
        return skipNested(reply, i);
    }
    std::size_t end = i;
    while (end < reply.size() && reply[end] != ',' && reply[end] != '}' && reply[end] != ']' &&
           !isCSpace(reply[end])) {
        ++end;
    }
    return end == i ? kNone : end;
}

}  // namespace

std::optional<std::string> jsonMemberValue(std::string_view reply, std::string_view name) {
    const std::string lowerName = lowerCopy(name);
    std::size_t i = skipSpace(reply, 0);
    if (i >= reply.size() || reply[i] != '{') {
        return std::nullopt;
    }
    for (i = skipSpace(reply, i + 1); i < reply.size() && reply[i] == '"';) {
        const std::size_t nameEnd = skipString(reply, i);
        if (nameEnd == kNone) {
            return std::nullopt;
        }
        const std::string member = readStringValue(reply, i + 1);
        const std::size_t colon = skipSpace(reply, nameEnd);
        if (colon >= reply.size() || reply[colon] != ':') {
            return std::nullopt;
        }
        const std::size_t value = skipSpace(reply, colon + 1);
        if (lowerCopy(member) == lowerName) {
            if (value >= reply.size()) {
                return std::nullopt;
            }
            return reply[value] == '"' ? readStringValue(reply, value + 1)
                                       : readBareValue(reply, value);
        }
        const std::size_t after = skipValue(reply, value);
        if (after == kNone) {
            return std::nullopt;
        }
        i = skipSpace(reply, after);
        if (i >= reply.size() || reply[i] != ',') {
            return std::nullopt;  // the end of the object, or no JSON
        }
        i = skipSpace(reply, i + 1);
    }
    return std::nullopt;
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case 0x09:
                out += "\\t";
                break;
            case 0x0A:
                out += "\\n";
                break;
            case 0x0D:
                out += "\\r";
                break;
            case 0x22:
                out += "\\\"";
                break;
            case 0x5C:
                out += "\\\\";
                break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string jsonFindValue(std::string_view reply, std::string_view key) {
    const std::string lowerKey = lowerCopy(key);
    std::size_t position = 0;
    while (position < reply.size()) {
        if (reply[position] != '"') {
            ++position;
            continue;
        }
        std::string token;
        const std::size_t close = readToken(reply, position + 1, token);
        if (lowerCopy(token) == lowerKey) {
            return jsonReadValue(reply, close + 1);
        }
        // The byte right after the closing quote (a colon, comma or blank) is skipped unseen.
        position = close + 2;
    }
    return {};
}

std::string jsonReadValue(std::string_view reply, std::size_t position) {
    if (position >= reply.size()) {
        return {};
    }
    const std::size_t colon = reply.find(':', position);
    if (colon == std::string_view::npos) {
        return {};
    }
    std::size_t start = colon + 1;
    while (start < reply.size() && isCSpace(reply[start])) {
        ++start;
    }
    if (start >= reply.size()) {
        return {};
    }
    if (reply[start] == '"') {
        return readStringValue(reply, start + 1);
    }
    return readBareValue(reply, start);
}

}  // namespace tavro
