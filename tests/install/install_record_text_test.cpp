#include "install/install_record_text.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB(64, 'b');

TEST(InstallRecordText, ReadsBackWhatItWroteAndSetsApartLinesThatAreNoEntries) {
    const std::vector<RecordEntry> entries = {{"Tavro.exe", 1200, kDigestA},
                                              {"Ostrilan/Ostrilan.exe", 0, kDigestB},
                                              {"docs/read me.txt", 7, kDigestA}};
    const std::string text = formatInstallRecord(entries);
    EXPECT_EQ(text.substr(0, text.find('\n')), "Tavro install record 1");
    EXPECT_NE(text.find(kDigestA + " 1200 Tavro.exe\n"), std::string::npos);
    const ParsedRecord parsed = parseInstallRecord(text);
    ASSERT_EQ(parsed.entries.size(), 3u);
    EXPECT_EQ(parsed.entries[2].path, "docs/read me.txt");  // blanks belong to the name
    EXPECT_EQ(parsed.entries[0].size, 1200u);
    EXPECT_TRUE(parsed.badLines.empty());

    const ParsedRecord edited =
        parseInstallRecord("Tavro install record 1\r\n" + kDigestA + " 12 a.txt\r\n" +
                           "ABC 12 b.txt\n" + kDigestB + " -3 c.txt\n" + kDigestB + " 4\n\n");
    ASSERT_EQ(edited.entries.size(), 1u);
    EXPECT_EQ(edited.entries[0].path, "a.txt");
    EXPECT_EQ(edited.badLines,
              (std::vector<std::string>{"ABC 12 b.txt", kDigestB + " -3 c.txt", kDigestB + " 4"}));

    const ParsedRecord foreign = parseInstallRecord("something else\n" + kDigestA + " 1 a.txt\n");
    EXPECT_TRUE(foreign.entries.empty());
    EXPECT_EQ(foreign.badLines.size(), 2u);
    EXPECT_TRUE(parseInstallRecord("").entries.empty());
}

TEST(InstallRecordText, NamesOutsideTheRootAreRefused) {
    for (const char* good : {"Tavro.exe", "Ostrilan/Ostrilan.exe", "a\\b\\c.txt", "..hidden",
                             "x/.y", "M\xc3\xbcller/a b.txt"}) {
        EXPECT_EQ(recordPathProblem(good), "") << good;
    }
    for (const char* bad : {"", "/etc/passwd", "\\Windows\\win.ini", "C:/Windows/win.ini",
                            "C:win.ini", "..", "../outside.txt", "a/../../b", "a/./b", "a//b", "a/",
                            "file.txt::$DATA", "dot./x", "blank /x", "tab\there"}) {
        EXPECT_NE(recordPathProblem(bad), "") << bad;
    }
}

TEST(InstallRecordText, ALaterInstallReplacesEntriesOfTheSameFileAndKeepsTheRest) {
    const std::vector<RecordEntry> older{{"Tavro.exe", 1, kDigestA}, {"old/gone.txt", 2, kDigestA}};
    const std::vector<RecordEntry> newer{
        {"tavro.EXE", 5, kDigestB}, {"new\\file.txt", 4, kDigestB}, {"TAVRO.exe", 3, kDigestB}};
    const std::vector<RecordEntry> merged =
        parseInstallRecord(formatInstallRecord(mergedEntries(older, entriesOf(newer)))).entries;
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].path, "new\\file.txt");
    EXPECT_EQ(merged[1].path, "old/gone.txt");
    EXPECT_EQ(merged[2].path, "TAVRO.exe");  // the last entry of the file wins
    EXPECT_EQ(merged[2].size, 3u);
    EXPECT_EQ(recordKibibytes(merged), 1u);  // 9 bytes, rounded up
    EXPECT_EQ(recordKibibytes({{"a", 2048, kDigestA}, {"b", 1024, kDigestA}}), 3u);
    EXPECT_EQ(recordKibibytes({}), 0u);
}

}  // namespace
}  // namespace tavro
