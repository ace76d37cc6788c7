#include "install/transaction_journal.h"

#include <gtest/gtest.h>

#include "install/busy_retry.h"

namespace tavro {
namespace {

using std::chrono::milliseconds;

const std::string kDigestA(64, 'a');
const std::string kDigestB(64, 'b');
const std::string kHead = "Tavro transaction 1\nstage TavroInstall.txn.0123456789abcdef\n";

// Every user can write the journal: what it names must stay inside the install root, and a
// journal that is not whole names nothing.
TEST(TransactionJournal, ReadsBackWhatItWroteAndRefusesAnyNameOutsideTheRoot) {
    const TransactionJournal journal{
        L"TavroInstall.txn.0123456789abcdef",
        {{{"Tavro.exe", 1200, kDigestA}, true}, {{"data/read me.txt", 0, kDigestB}, false}}};
    const std::string text = formatJournal(journal);
    const auto parsed = parseJournal(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->stage, journal.stage);
    ASSERT_EQ(parsed->files.size(), 2u);
    EXPECT_EQ(parsed->files[1].entry.path, "data/read me.txt");
    EXPECT_TRUE(parsed->files[0].existed);
    EXPECT_FALSE(parsed->files[1].existed);

    EXPECT_FALSE(parseJournal(text.substr(0, text.size() - 1)));  // cut off in its last line
    for (const char* path : {"../outside.txt", "C:/Windows/x.dll", "/abs.txt", "a/../../b.txt",
                             "a:stream.txt", "\\\\server\\share\\x"}) {
        EXPECT_FALSE(parseJournal(kHead + "1 " + kDigestA + " 3 " + std::string(path) + "\n"))
            << path;
    }
    for (const char* stage :
         {"..", "TavroInstall.txn.0123456789ABCDEF", "TavroInstall.txn.0123456789abcde",
          "TavroInstall.txn.0123456789abcdef\\..\\..", "C:\\Windows"}) {
        EXPECT_FALSE(parseJournal(std::string("Tavro transaction 1\nstage ") + stage + "\n"))
            << stage;
    }
    EXPECT_FALSE(parseJournal(kHead + "2 " + kDigestA + " 3 a.txt\n"));
    EXPECT_FALSE(parseJournal(kHead + "1 " + kDigestA.substr(1) + " 3 a.txt\n"));
    EXPECT_FALSE(parseJournal(kHead + "1 " + kDigestA + " -3 a.txt\n"));
}

// What a roll-forward writes into the registry comes from this user-writable file: only a build
// number of digits and a version of the package name's characters are taken, and a journal of an
// earlier version of the program still reads (the files alone, no folders).
TEST(TransactionJournal, CarriesTheFollowUpAndTheFoldersMadeOnlyInTheirStrictForms) {
    TransactionJournal journal;
    journal.stage = L"TavroInstall.txn.0123456789abcdef";
    journal.files.push_back({{"new/deeper/a.txt", 3, kDigestA}, false});
    journal.after.run = JournalRun::install;
    journal.after.buildNumber = "812";
    journal.after.version = "2.4.1-beta+7";
    journal.madeFolders = {"new", "new/deeper"};
    auto parsed = parseJournal(formatJournal(journal));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->after.run, JournalRun::install);
    EXPECT_EQ(parsed->after.buildNumber, "812");
    EXPECT_EQ(parsed->after.version, "2.4.1-beta+7");
    EXPECT_EQ(parsed->madeFolders, journal.madeFolders);
    ASSERT_EQ(parsed->files.size(), 1u);
    journal.after.run = JournalRun::update;
    journal.after.buildNumber.clear();
    journal.after.version.clear();
    parsed = parseJournal(formatJournal(journal));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->after.run, JournalRun::update);
    EXPECT_TRUE(parsed->after.version.empty());

    const auto earlier = parseJournal(kHead + "1 " + kDigestA + " 3 a.txt\n");
    ASSERT_TRUE(earlier.has_value());
    EXPECT_EQ(earlier->after.run, JournalRun::files);
    EXPECT_TRUE(earlier->madeFolders.empty());
    EXPECT_FALSE(parseJournal(kHead + "made new\n"));  // the earlier form lists no folders

    const std::string head = "Tavro transaction 2\nstage TavroInstall.txn.0123456789abcdef\n";
    const std::string file = "0 " + kDigestA + " 3 a.txt\n";
    EXPECT_TRUE(parseJournal(head + "after files\nmade a b/c\n" + file));
    for (const char* after :
         {"", "after\n", "after wipe\n", "after install 812\n", "after install 81a 1.0\n",
          "after install  1.0\n", "after install 812 1.0 x\n", "after install 812 1.0;del\n",
          "after install 812 \"1.0\"\n", "after update 1 2\n", "after update \n",
          "after install 123456789012345678901 1.0\n"}) {
        EXPECT_FALSE(parseJournal(head + after + file)) << after;
    }
    EXPECT_FALSE(parseJournal(head + "after install 812 " + std::string(65, '1') + "\n"));
    for (const char* made : {"made ../up\n", "made C:/Windows\n", "made \n", "made a/../../b\n"}) {
        EXPECT_FALSE(parseJournal(head + "after files\n" + made + file)) << made;
    }
    EXPECT_FALSE(parseJournal(head + "after files\n" + file + "made late\n"));
}

// The commit point: the record holds every new file (paths compared as the record compares them).
TEST(TransactionJournal, TheRecordHoldingEveryNewFileMarksTheCommit) {
    const TransactionJournal journal{
        L"TavroInstall.txn.0123456789abcdef",
        {{{"Data/A.txt", 5, kDigestA}, true}, {{"b.txt", 6, kDigestB}, false}}};
    EXPECT_TRUE(recordHoldsJournal(
        {{"data\\a.txt", 5, kDigestA}, {"b.txt", 6, kDigestB}, {"other.txt", 1, kDigestA}},
        journal));
    EXPECT_FALSE(recordHoldsJournal({{"data/a.txt", 5, kDigestB}, {"b.txt", 6, kDigestB}},
                                    journal));  // still the earlier file
    EXPECT_FALSE(recordHoldsJournal({{"data/a.txt", 5, kDigestA}}, journal));
}

// 50 ms doubling to 1 s; about 15 s for one file, 60 s in a run, whatever the files.
TEST(BusyRetry, WaitsLongerEachTimeWithinTheFileAndRunBudgets) {
    BusyRetry retry;
    std::vector<long long> waits;
    milliseconds spent{0};
    while (const auto wait = retry.nextWait()) {
        waits.push_back(wait->count());
        spent += *wait;
    }
    EXPECT_EQ(std::vector<long long>(waits.begin(), waits.begin() + 6),
              (std::vector<long long>{50, 100, 200, 400, 800, 1000}));
    EXPECT_EQ(spent, milliseconds(15000));
    milliseconds run = spent;
    for (int file = 0; file < 10; ++file) {
        retry.startFile();
        while (const auto wait = retry.nextWait()) {
            run += *wait;
        }
    }
    EXPECT_EQ(run, milliseconds(60000));
}

}  // namespace
}  // namespace tavro
