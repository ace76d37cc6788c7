#include "download/package_name.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(PackageName, OrdinaryReleasesKeepTheirNames) {
    EXPECT_EQ(packageFileName({"https://x/p.zip", "2.4.1", "812"}), "Tavro-V2.4.1-812.zip");
    EXPECT_EQ(packageFileName({"", "unknown", "0"}), "Tavro-Vunknown-0.zip");
    EXPECT_EQ(packageFileName({"", "3.0.0-beta_2+build.7", "12"}),
              "Tavro-V3.0.0-beta_2+build.7-12.zip");
}

TEST(PackageName, HostileTextCannotLeaveTheFolderOrChangeMeaning) {
    EXPECT_EQ(packageFileName({"", "../../x", "1"}), "Tavro-V.._.._x-1.zip");
    EXPECT_EQ(packageFileName({"", "a:b", "..\\..\\evil"}), "Tavro-Va_b-.._.._evil.zip");
    // Separators, stream and device syntax, wildcards, and what cmd.exe or PowerShell would act
    // on: quotes, %, ^, &, |, <, >, $, backtick, ;, (, ), spaces, control bytes.
    const std::string hostile = std::string("/\\:*?\"<>|%^&$`;'() \t\r\n") + '\0' + "\x7f";
    EXPECT_EQ(safeFileNamePart(hostile), std::string(hostile.size(), '_'));
    // Every byte of a multi-byte character is replaced: the name stays plain ASCII.
    EXPECT_EQ(safeFileNamePart("2.4\xC3\xA9"), "2.4__");
    EXPECT_EQ(safeFileNamePart(""), "");
}

}  // namespace
}  // namespace tavro
