// libFuzzer target for the JSON text routines: any input must be handled without a memory or
// undefined-behaviour fault, escaping must never leave a raw quote, backslash pair or control
// byte unescaped, and escaped values must read back unchanged. The member lookup must find
// nothing where the name does not occur, and find an escaped value it is given as a member.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "api/json_text.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool hasOtherControlBytes(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return true;
        }
    }
    return false;
}

std::string lowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Scanning arbitrary replies, with keys taken from the input itself.
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    const std::string_view key = input.substr(0, split);
    (void)tavro::jsonFindValue(input, key);
    (void)tavro::jsonFindValue(input, "FileName");
    // A member is found only where its name occurs in the text, in any letter case (or spelled
    // with escapes).
    if (tavro::jsonMemberValue(input, "Sha256")) {
        check(lowerCopy(input).find("sha256") != std::string::npos ||
              input.find('\\') != std::string_view::npos);
    }
    (void)tavro::jsonMemberValue(input, key);
    for (std::size_t position = 0; position <= size; position += 1 + size / 8) {
        (void)tavro::jsonReadValue(input, position);
    }

    // Escaping: no raw control byte, and every quote is preceded by a backslash.
    const std::string escaped = tavro::jsonEscape(input);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        check(static_cast<unsigned char>(escaped[i]) >= 0x20);
        if (escaped[i] == '\\') {
            check(i + 1 < escaped.size());
            ++i;  // the escaped byte
        } else {
            check(escaped[i] != '"');
        }
    }

    // Round trip through a reply, for values the short escapes fully cover.
    if (!hasOtherControlBytes(input)) {
        const std::string reply = "{\"Version\":\"" + escaped + "\"}";
        check(tavro::jsonFindValue(reply, "version") == input);
        const std::string nested = "{\"a\":[{\"Version\":1}],\"version\":\"" + escaped + "\"}";
        check(tavro::jsonMemberValue(nested, "Version") == input);
    }
    return 0;
}
