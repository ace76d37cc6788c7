#include "ui/display_text.h"

#include <windows.h>

#include <cstdint>

namespace tavro {

namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

struct SequenceShape {
    std::size_t length;      // bytes, lead byte included
    std::uint32_t lowest;    // the smallest code point this length may carry (no overlong form)
    unsigned char leadBits;  // the bits of the lead byte that belong to the code point
};

// The shape of a sequence that starts with lead; length 0 when lead starts none.
SequenceShape shapeOf(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, 0x80, 0x1F};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {3, 0x800, 0x0F};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {4, 0x10000, 0x07};
    }
    return {0, 0, 0};
}

// The length of the well-formed UTF-8 sequence of two to four bytes at text[at], and its code
// point; 0 when there is none (overlong forms and surrogates are not well-formed).
std::size_t utf8Sequence(std::string_view text, std::size_t at, std::uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const SequenceShape shape = shapeOf(lead);
    if (shape.length == 0 || at + shape.length > text.size()) {
        return 0;
    }
    codePoint = lead & shape.leadBits;
    for (std::size_t i = 1; i < shape.length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!isContinuation(byte)) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < shape.lowest || codePoint > 0x10FFFF || surrogate) {
        return 0;
    }
    return shape.length;
}

void appendAnsi(std::string& out, std::uint32_t codePoint) {
    wchar_t units[2];
    int count = 1;
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        units[0] = static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(codePoint);
    }
    char ansi[8];
    const int written =
        WideCharToMultiByte(CP_ACP, 0, units, count, ansi, sizeof(ansi), nullptr, nullptr);
    if (written > 0) {
        out.append(ansi, static_cast<std::size_t>(written));
    } else {
        out.push_back('?');
    }
}

}  // namespace

std::string displayText(std::string_view text) {
    if (GetACP() == CP_UTF8) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = utf8Sequence(text, at, codePoint);
        if (length == 0) {
            out.push_back(text[at]);
            ++at;
        } else {
            appendAnsi(out, codePoint);
            at += length;
        }
    }
    return out;
}

}  // namespace tavro
