#include "ui/display_text.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace tavro {
namespace {

std::string ansi(const wchar_t* text) {
    char buffer[16] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
    return buffer;
}

// Server texts and the standard library's path texts carry UTF-8, the engine's own path texts
// are ANSI already; one message may hold both.
TEST(DisplayText, ConvertsUtf8SequencesAndKeepsAnsiBytes) {
    if (GetACP() == CP_UTF8) {
        GTEST_SKIP() << "the ANSI code page is UTF-8: nothing to convert";
    }
    EXPECT_EQ(displayText("plain ASCII stays"), "plain ASCII stays");
    EXPECT_EQ(displayText("\xC3\x9C" "bung"), ansi(L"\u00DC") + "bung");
    const std::string ansiPath = "C:\\" + ansi(L"\u00E9") + "t\xE9";  // lone high bytes
    EXPECT_EQ(displayText("cannot copy " + ansiPath + ": \xE2\x82\xAC"),
              "cannot copy " + ansiPath + ": " + ansi(L"\u20AC"));
    EXPECT_EQ(displayText("\xF0\x9F\x98\x80"), "??");  // a surrogate pair the code page lacks
    EXPECT_EQ(displayText("\xC0\xAF \xED\xA0\x80"), "\xC0\xAF \xED\xA0\x80");  // not well-formed
    EXPECT_EQ(displayText("cut \xE2\x82"), "cut \xE2\x82");
}

}  // namespace
}  // namespace tavro
