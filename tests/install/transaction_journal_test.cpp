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
