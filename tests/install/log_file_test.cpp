#include "install/log_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "core/log_line.h"
#include "support/test_files.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using test::readFile;

std::vector<std::string> linesOf(const fs::path& file) {
    std::vector<std::string> lines;
    const std::string text = readFile(file);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "a line without its end";
    return lines;
}

TEST(LogFile, EveryRunAppendsStampedLinesFromAnyThread) {
    test::ScratchFolder scratch;
    const fs::path path = scratch.path() / L"Logs" / L"TavroInstaller.log";
    LogFile(path).write("first run");
    {
        LogFile second(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&second, t] {
                for (int i = 0; i < 50; ++i) {
                    second.write("thread " + std::to_string(t) + " line " + std::to_string(i));
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(second.failure(), "");
        EXPECT_EQ(second.boxNote(), "\n\nDetails: C:/Quendrel/Tavro/Logs/TavroInstaller.log");
    }
    const std::vector<std::string> lines = linesOf(path);
    ASSERT_EQ(lines.size(), 201u);
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[thread \d+\] .+)");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_TRUE(lines[0].ends_with("] first run"));
}

TEST(LogFile, AtOneMebibyteTheLogMovesToItsOlderNameAndANewOneStarts) {
    test::ScratchFolder scratch;
    const fs::path path = scratch.path() / L"TavroInstaller.log";
    const fs::path older = scratch.path() / L"TavroInstaller.1.log";
    test::writeFile(older, "the oldest log");
    const std::string nearlyFull(kLogRotationBytes - 100, 'x');
    test::writeFile(path, nearlyFull);
    LogFile log(path);
    log.write("a");  // about 45 bytes with its stamp: still fits
    EXPECT_EQ(readFile(older), "the oldest log");
    log.write("the line that no longer fits");
    EXPECT_EQ(log.failure(), "");
    EXPECT_TRUE(readFile(older).starts_with(nearlyFull));
    EXPECT_LE(fs::file_size(older), kLogRotationBytes);
    const std::vector<std::string> lines = linesOf(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("] the line that no longer fits"));

    // A log planted by another user, sparse and of a few GiB apparent size: only the rotation
    // limit of it is copied, so an elevated run does not fill the volume.
    fs::resize_file(path, 3ull << 30);
    log.write("after the planted log");
    EXPECT_EQ(log.failure(), "");
    EXPECT_EQ(fs::file_size(older), kLogRotationBytes);
    ASSERT_EQ(linesOf(path).size(), 1u);
}

TEST(LogFile, ALogThatCannotBeWrittenKeepsTheReasonAndNeverThrows) {
    test::ScratchFolder scratch;
    test::writeFile(scratch.path() / L"Logs", "a file where the folder should be");
    LogFile log(scratch.path() / L"Logs" / L"TavroInstaller.log");
    log.write("lost");
    log.write("lost too");
    EXPECT_NE(log.failure(), "");
    EXPECT_TRUE(log.boxNote().starts_with("\n\nThe log could not be written: ")) << log.boxNote();
}

}  // namespace
}  // namespace tavro
