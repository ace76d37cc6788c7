#include "install/powershell_literal.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(PowerShellLiteral, EnclosesTextAndLeavesOrdinaryCharactersAlone) {
    EXPECT_EQ(powerShellLiteral(L""), L"''");
    EXPECT_EQ(powerShellLiteral(L"C:/Quendrel/Tavro\\tmp\\a b.zip"),
              L"'C:/Quendrel/Tavro\\tmp\\a b.zip'");
    // Double quotes, dollar signs and backticks mean nothing inside a single-quoted literal.
    EXPECT_EQ(powerShellLiteral(L"$x `y \"z\""), L"'$x `y \"z\"'");
}

TEST(PowerShellLiteral, DoublesEveryKindOfSingleQuote) {
    EXPECT_EQ(powerShellLiteral(L"it's"), L"'it''s'");
    EXPECT_EQ(powerShellLiteral(L"''"), L"''''''");
    // PowerShell ends a literal at any of these as well; each is doubled as itself.
    EXPECT_EQ(powerShellLiteral(L"a\u2018b\u2019c\u201Ad\u201Be"),
              L"'a\u2018\u2018b\u2019\u2019c\u201A\u201Ad\u201B\u201Be'");
    EXPECT_EQ(powerShellLiteral(L"\u2019; Remove-Item x; \u2019"),
              L"'\u2019\u2019; Remove-Item x; \u2019\u2019'");
    // Look-alikes that are not quotes stay single.
    EXPECT_EQ(powerShellLiteral(L"\u02BC\u2032`"), L"'\u02BC\u2032`'");
}

}  // namespace
}  // namespace tavro
