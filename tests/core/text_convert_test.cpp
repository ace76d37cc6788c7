#include "core/text_convert.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <system_error>

namespace tavro {
namespace {

TEST(TextConvert, ToWideDecodesUtf8AndStopsAtNul) {
    EXPECT_EQ(toWide(""), L"");
    EXPECT_EQ(toWide("Tavro"), L"Tavro");
    EXPECT_EQ(toWide("\xC3\xA9\xE2\x82\xAC"), L"\u00E9\u20AC");
    EXPECT_EQ(toWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(toUtf8(L"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
}

TEST(TextConvert, DecimalTextIsUnsigned) {
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(12029), "12029");
    EXPECT_EQ(decimalText(4294967295u), "4294967295");
}

TEST(TextConvert, AnsiConversionRoundTripsWhatTheCodePageHolds) {
    ASSERT_EQ(GetACP(), 1252u) << "the tests expect the Western code page";
    const std::filesystem::path path(L"C:/Quendrel/Tavro\\caf\u00E9 d'\u00C9t\u00E9.txt");
    const std::string ansi = pathToAnsi(path);
    EXPECT_EQ(ansi, "C:/Quendrel/Tavro\\caf\xE9 d'\xC9t\xE9.txt");
    EXPECT_EQ(ansiToPath(ansi), path);
}

TEST(TextConvert, AnsiConversionRefusesCharactersOutsideTheCodePage) {
    // No best fit: U+0416 has no Western form, U+2032 (prime) would best-fit to an apostrophe.
    for (const wchar_t* text : {L"C:\\\u0416.zip", L"it\u2032s"}) {
        try {
            toAnsi(text);
            ADD_FAILURE() << "no error for a character outside the code page";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), 1113);
        }
    }
}

TEST(TextConvert, PathTextIsAnsiWhereTheCodePageHoldsThePathAndUtf8Elsewhere) {
    EXPECT_EQ(pathText(L"C:/Quendrel/caf\u00E9.txt"), "C:/Quendrel/caf\xE9.txt");
    EXPECT_EQ(pathText(L"C:\\\u0416.zip"), "C:\\\xD0\x96.zip");
}

}  // namespace
}  // namespace tavro
