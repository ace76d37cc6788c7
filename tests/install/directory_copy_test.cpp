#include "install/directory_copy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/file_sha256.h"
#include "install/install_test_support.h"
#include "support/observed.h"

namespace tavro {
namespace {

using test::readFile;
using test::ScratchFolder;
using test::writeFile;

using Recorded = test::Observed<InstallState>;

TEST(DirectoryCopy, CopiesEveryFileAndFolderWithOneProgressRecordPerFile) {
    ScratchFolder scratch;
    const std::filesystem::path source = scratch.path() / L"src";
    const std::filesystem::path destination = scratch.path() / L"dst";
    writeFile(source / L"b.txt", "b");
    writeFile(source / L"A dir" / L"x y.bin", std::string("\0x\0", 3));
    writeFile(source / L"A dir" / L"deeper" / L"z.txt", "z");
    writeFile(source / L"R\u00e9sum\u00e9 \u2013 it's" / L"\u00e9.txt", "accent");
    std::filesystem::create_directories(source / L"empty" / L"also empty");
    writeFile(destination / L"b.txt", "older and longer");
    writeFile(destination / L"unrelated" / L"keep.txt", "keep");

    std::int32_t total = 0;
    countFiles(source, total);
    ASSERT_EQ(total, 4);

    Recorded recorded;
    std::int32_t copied = 0;
    std::string error = "untouched";
    ASSERT_TRUE(
        copyDirectoryTree(source, destination, recorded.progress(), nullptr, total, copied, error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(copied, 4);
    EXPECT_EQ(readFile(destination / L"b.txt"), "b");
    EXPECT_EQ(readFile(destination / L"A dir" / L"x y.bin"), std::string("\0x\0", 3));
    EXPECT_EQ(readFile(destination / L"A dir" / L"deeper" / L"z.txt"), "z");
    EXPECT_EQ(readFile(destination / L"R\u00e9sum\u00e9 \u2013 it's" / L"\u00e9.txt"), "accent");
    EXPECT_TRUE(std::filesystem::is_directory(destination / L"empty" / L"also empty"));
    EXPECT_EQ(readFile(destination / L"unrelated" / L"keep.txt"), "keep");

    ASSERT_EQ(recorded.records().size(), 4u);
    for (std::int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(recorded.records()[i].copiedFiles, i + 1);
        EXPECT_EQ(recorded.records()[i].totalFiles, 4);
        EXPECT_EQ(recorded.records()[i].percent, (i + 1) * 100.0 / 4);
    }
}

TEST(DirectoryCopy, CounterContinuesFromTheCallersValue) {
    ScratchFolder scratch;
    writeFile(scratch.path() / L"src" / L"one.txt", "1");
    writeFile(scratch.path() / L"src" / L"two.txt", "2");
    Recorded recorded;
    std::int32_t copied = 3;
    std::string error;
    ASSERT_TRUE(copyDirectoryTree(scratch.path() / L"src", scratch.path() / L"dst",
                                  recorded.progress(), nullptr, 5, copied, error));
    EXPECT_EQ(copied, 5);
    ASSERT_EQ(recorded.records().size(), 2u);
    EXPECT_EQ(recorded.records()[0].copiedFiles, 4);
    EXPECT_EQ(recorded.records()[0].percent, 80.0);
    EXPECT_EQ(recorded.records()[1].percent, 100.0);
}

TEST(DirectoryCopy, FoldersOnlyAndMissingFolders) {
    ScratchFolder scratch;
    const std::filesystem::path source = scratch.path() / L"src";
    std::filesystem::create_directories(source / L"a" / L"b");
    std::filesystem::create_directories(source / L"c");

    std::int32_t total = 7;
    countFiles(source, total);
    EXPECT_EQ(total, 7);
    countFiles(scratch.path() / L"no such folder", total);
    EXPECT_EQ(total, 7);

    Recorded recorded;
    std::int32_t copied = 0;
    std::string error;
    ASSERT_TRUE(copyDirectoryTree(source, scratch.path() / L"dst", recorded.progress(), nullptr, 0,
                                  copied, error));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / L"dst" / L"a" / L"b"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / L"dst" / L"c"));
    EXPECT_TRUE(recorded.records().empty());
    EXPECT_EQ(copied, 0);

    // A source that does not exist is an error of the directory walk, reported as text.
    error.clear();
    EXPECT_FALSE(copyDirectoryTree(scratch.path() / L"no such folder", scratch.path() / L"dst2",
                                   recorded.progress(), nullptr, 0, copied, error));
    EXPECT_FALSE(error.empty());
}

TEST(DirectoryCopy, TotalBelowOneReportsExactlyOneHundred) {
    ScratchFolder scratch;
    writeFile(scratch.path() / L"src" / L"a.txt", "a");
    writeFile(scratch.path() / L"src" / L"b.txt", "b");
    Recorded recorded;
    std::int32_t copied = 0;
    std::string error;
    ASSERT_TRUE(copyDirectoryTree(scratch.path() / L"src", scratch.path() / L"dst",
                                  recorded.progress(), nullptr, 0, copied, error));
    ASSERT_EQ(recorded.records().size(), 2u);
    for (const InstallState& state : recorded.records()) {
        EXPECT_EQ(state.totalFiles, 0);
        EXPECT_EQ(state.percent, 100.0);
    }
}

TEST(DirectoryCopy, TargetHeldOpenStopsTheCopyWithThePlatformReason) {
    // (A read-only target would do on Windows; Wine's CopyFileW replaces read-only files.)
    ScratchFolder scratch;
    const std::filesystem::path source = scratch.path() / L"src";
    const std::filesystem::path destination = scratch.path() / L"dst";
    writeFile(source / L"1 first.txt", "first");
    writeFile(source / L"2 locked.txt", "new");
    writeFile(source / L"3 last.txt", "last");
    const std::filesystem::path locked = destination / L"2 locked.txt";
    writeFile(locked, "old");
    FileHandle holder(CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    Recorded recorded;
    std::int32_t copied = 0;
    std::string error;
    EXPECT_FALSE(
        copyDirectoryTree(source, destination, recorded.progress(), nullptr, 3, copied, error));
    holder.reset();
    EXPECT_EQ(error, "Copy failed: " + pathToAnsi(source / L"2 locked.txt") + " -> " +
                         pathToAnsi(locked) + " : " + test::systemMessage(ERROR_SHARING_VIOLATION));
    // What was copied before stays; nothing after it is tried; no record for the failed file.
    EXPECT_EQ(readFile(destination / L"1 first.txt"), "first");
    EXPECT_EQ(readFile(locked), "old");
    EXPECT_FALSE(std::filesystem::exists(destination / L"3 last.txt"));
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(recorded.records().size(), 1u);
}

// The record entries the copy makes as it writes (one hash object serves every file): each
// names the file written, its size and the digest of its bytes, for a first copy and for a copy
// over it that shortens, lengthens and keeps files (the second copy opens the files it finds).
TEST(DirectoryCopy, RecordsEveryFileAsWrittenAlsoOverAnEarlierCopy) {
    ScratchFolder scratch;
    const std::filesystem::path source = scratch.path() / L"src";
    const std::filesystem::path destination = scratch.path() / L"dst";
    const std::vector<std::string> sizes = {"", "x", std::string(1024 * 1024 + 3, 'm'),
                                            std::string(4096, 'k'), "last"};
    const auto fill = [&](const std::string& salt) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            writeFile(source / (i % 2 ? L"odd" : L"even") / (L"f" + std::to_wstring(i)),
                      i == 4 ? sizes[i] : sizes[i] + salt);
        }
    };
    for (const std::string& salt : {std::string("one"), std::string("")}) {
        SCOPED_TRACE(salt.empty() ? "second copy, over the first" : "first copy");
        fill(salt);
        std::vector<RecordEntry> written;
        std::int32_t copied = 0;
        std::string error;
        ASSERT_TRUE(copyDirectoryTree(source, destination, nullptr, nullptr, 5, copied, error,
                                      PathCheck(), &written))
            << error;
        ASSERT_EQ(written.size(), sizes.size());
        for (const RecordEntry& entry : written) {
            const std::filesystem::path file = destination / toWide(entry.path);
            SCOPED_TRACE(entry.path);
            EXPECT_EQ(readFile(file), readFile(source / toWide(entry.path)));
            EXPECT_EQ(entry.size, std::filesystem::file_size(file));
            EXPECT_EQ(entry.sha256, sha256OfFile(file, error));
        }
    }
}

}  // namespace
}  // namespace tavro
