#include "fs/guarded_path.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

using Chain = std::vector<std::wstring>;

TEST(GuardedPath, ChainRunsFromTheTopDownToThePathAsWritten) {
    EXPECT_EQ(guardedChain(L"C:/Quendrel", L"C:/Quendrel/Tavro\\tmp\\a.zip"),
              (Chain{L"C:/Quendrel", L"C:/Quendrel/Tavro", L"C:/Quendrel/Tavro\\tmp",
                     L"C:/Quendrel/Tavro\\tmp\\a.zip"}));
    EXPECT_EQ(guardedChain(L"C:/Quendrel", L"C:/Quendrel"), Chain{L"C:/Quendrel"});
    // Letters in either case and doubled or trailing separators name the same folders.
    EXPECT_EQ(guardedChain(L"C:/Quendrel", L"c:\\QUENDREL\\\\Tavro\\"),
              (Chain{L"c:\\QUENDREL", L"c:\\QUENDREL\\\\Tavro"}));
}

TEST(GuardedPath, PathsOutsideTheTopAreNotGuarded) {
    EXPECT_TRUE(guardedChain(L"C:/Quendrel", L"C:/QuendrelX/Tavro").empty());
    EXPECT_TRUE(guardedChain(L"C:/Quendrel", L"D:/Quendrel/Tavro").empty());
    EXPECT_TRUE(guardedChain(L"C:/Quendrel", L"C:/").empty());
    EXPECT_TRUE(guardedChain(L"C:/Quendrel", L"C:/users/x/Temp/scratch").empty());
    EXPECT_TRUE(guardedChain(L"", L"C:/Quendrel").empty());
}

TEST(GuardedPath, ComparableFormKeepsClimbsSoTheyNeverMatchWhereTheyLead) {
    EXPECT_EQ(comparableForm(L"\\\\?\\C:\\Quendrel\\Tavro\\tmp"), L"C:\\Quendrel\\Tavro\\tmp");
    EXPECT_EQ(comparableForm(L"C:/Quendrel/Tavro\\tmp\\"), L"C:\\Quendrel\\Tavro\\tmp");
    EXPECT_EQ(comparableForm(L"C:/Quendrel/./Tavro//tmp"), L"C:\\Quendrel\\Tavro\\tmp");
    EXPECT_EQ(comparableForm(L"C:/Quendrel/Tavro/../../Windows"),
              L"C:\\Quendrel\\Tavro\\..\\..\\Windows");
}

TEST(GuardedPath, RefusalsNameThePath) {
    EXPECT_EQ(reparsePointText("C:/Quendrel/Tavro\\Ostrilan"),
              "C:/Quendrel/Tavro\\Ostrilan is a link or junction (reparse point)");
    EXPECT_EQ(leadsElsewhereText("C:/Quendrel/Tavro\\a", "C:\\Windows\\a"),
              "C:/Quendrel/Tavro\\a leads through a link to C:\\Windows\\a");
    EXPECT_EQ(hardLinkText("C:/Quendrel/Tavro\\a", 2),
              "C:/Quendrel/Tavro\\a is one of 2 hard links to one file");
    EXPECT_EQ(unresolvedText("C:/Quendrel/Tavro\\a", 5),
              "where C:/Quendrel/Tavro\\a leads cannot be read (error 5)");
}

}  // namespace
}  // namespace tavro
