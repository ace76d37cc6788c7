#include <windows.h>

#include <gtest/gtest.h>

#include <system_error>

#include "core/text_convert.h"
#include "install/archive_expansion.h"
#include "install/hidden_command.h"
#include "install/install_test_support.h"
#include "install/zip_writer.h"

namespace tavro {
namespace {

using test::readFile;
using test::ScratchFolder;
using test::StandinRecords;
using test::ZipWriter;

TEST(HiddenCommand, ReturnsTheExitCodeOfTheCommand) {
    EXPECT_EQ(runHiddenCommand("exit 0"), 0);
    EXPECT_EQ(runHiddenCommand("exit 7"), 7);
    EXPECT_EQ(runHiddenCommand("exit 1234"), 1234);
    // The interpreter itself sees the redirections, as the force-close commands rely on.
    EXPECT_EQ(runHiddenCommand("echo hidden >nul 2>nul"), 0);
}

TEST(HiddenCommand, MinusOneWhenTheInterpreterCannotBeStarted) {
    // Longer than any command line a process can be given: CreateProcessA refuses it.
    EXPECT_EQ(runHiddenCommand("rem " + std::string(40000, 'x')), -1);
}

TEST(PowerShellQuote, DoublesEverySingleQuoteItsCodePageCanHold) {
    ASSERT_EQ(GetACP(), 1252u) << "the test prefix runs with code page 1252";
    EXPECT_EQ(powerShellQuote(L"C:/Quendrel/Tavro\\tmp\\Tavro-V2.4.1-812.zip"),
              "'C:/Quendrel/Tavro\\tmp\\Tavro-V2.4.1-812.zip'");
    EXPECT_EQ(powerShellQuote(L"C:\\O'Brien's files\\a b.zip"), "'C:\\O''Brien''s files\\a b.zip'");
    // U+2018, U+2019 and U+201A are 0x91, 0x92 and 0x82 in code page 1252; PowerShell reads each
    // as a single quote, so each must be doubled too.
    EXPECT_EQ(powerShellQuote(L"C:\\\u2018x\u2019\\\u201Ay.zip"),
              "'C:\\\x91\x91x\x92\x92\\\x82\x82y.zip'");
    EXPECT_EQ(powerShellQuote(L"C:\\M\u00fcller \u2013 R\u00e9sum\u00e9"),
              "'C:\\M\xfcller \x96 R\xe9sum\xe9'");
}

TEST(PowerShellQuote, CharacterOutsideTheCodePageRaisesNoUnicodeTranslation) {
    for (const wchar_t* path : {L"C:\\\u201Bx.zip", L"C:\\\u03b1\u03b2.zip", L"C:\\\u4e2d.zip"}) {
        try {
            powerShellQuote(path);
            ADD_FAILURE() << "no exception";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), 1113);
        }
    }
}

ZipWriter smallArchive() {
    ZipWriter zip;
    zip.addFolder("top/");
    zip.addFile("top/inner/deflated.txt", std::string(5000, 'd'));
    zip.addFile("top/stored.bin", std::string("\0\1\2\3", 4), false);
    zip.addFolder("top/empty/");
    zip.addFile("root.txt", "root");
    return zip;
}

TEST(ExpandArchive, SendsTheExactCommandLineAndPathsWithQuotesSurvive) {
    ScratchFolder scratch;
    StandinRecords records;
    const std::filesystem::path base = scratch.path();
    // Blanks, an ASCII quote and the three typographic quotes that code page 1252 holds.
    const std::filesystem::path archive = base / L"Tavro\u2019s \u2018pkg\u2019 \u201Av.zip";
    const std::filesystem::path destination = base / L"out it's \u2018x\u2019\u201A";
    smallArchive().save(archive);

    std::string error = "untouched";
    ASSERT_TRUE(expandArchive(archive, destination, error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(readFile(destination / L"top" / L"inner" / L"deflated.txt"), std::string(5000, 'd'));
    EXPECT_EQ(readFile(destination / L"top" / L"stored.bin"), std::string("\0\1\2\3", 4));
    EXPECT_EQ(readFile(destination / L"root.txt"), "root");
    EXPECT_TRUE(std::filesystem::is_directory(destination / L"top" / L"empty"));

    // The command interpreter hands PowerShell, started by its full path, this line, byte for
    // byte.
    const std::string baseText = toUtf8(base.native());
    const std::string expected =
        "\"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle "
        "Hidden -Command \"$ProgressPreference='SilentlyContinue'; Expand-Archive -LiteralPath '" +
        baseText +
        "\\Tavro\u2019\u2019s \u2018\u2018pkg\u2019\u2019 \u201A\u201Av.zip' -DestinationPath '" +
        baseText + "\\out it''s \u2018\u2018x\u2019\u2019\u201A\u201A' -Force\"";
    const auto lines = records.powerShellCommandLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], expected);
}

TEST(ExpandArchive, ReplacesExistingFilesAndLeavesOthers) {
    ScratchFolder scratch;
    const std::filesystem::path archive = scratch.path() / L"p.zip";
    const std::filesystem::path destination = scratch.path() / L"a" / L"b" / L"dest";
    smallArchive().save(archive);
    test::writeFile(destination / L"root.txt", "old content that is longer");
    test::writeFile(destination / L"extra.txt", "extra");

    std::string error;
    ASSERT_TRUE(expandArchive(archive, destination, error)) << error;
    EXPECT_EQ(readFile(destination / L"root.txt"), "root");
    EXPECT_EQ(readFile(destination / L"extra.txt"), "extra");
}

TEST(ExpandArchive, MissingCorruptTruncatedAndDamagedArchivesFail) {
    ScratchFolder scratch;
    const std::string valid = smallArchive().bytes();
    std::string damaged = valid;
    damaged[damaged.find("\0\1\2\3", 0, 4)] = 'X';  // stored data no longer matches its CRC
    const struct {
        const wchar_t* name;
        std::string content;
        bool create;
    } cases[] = {
        {L"missing.zip", "", false},
        {L"garbage.zip", std::string(3000, 'g'), true},
        {L"truncated.zip", valid.substr(0, valid.size() / 2), true},
        {L"damaged.zip", damaged, true},
        {L"empty.zip", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const std::filesystem::path archive = scratch.path() / c.name;
        const std::filesystem::path destination =
            scratch.path() / (std::wstring(L"dest-") + c.name);
        if (c.create) {
            test::writeFile(archive, c.content);
        }
        std::string error;
        EXPECT_FALSE(expandArchive(archive, destination, error));
        EXPECT_EQ(error, "Expand-Archive failed for " + pathToAnsi(archive));
        // The destination is made before the expansion is tried.
        EXPECT_TRUE(std::filesystem::is_directory(destination));
    }
}

TEST(ExpandArchive, EntriesThatWouldLandOutsideTheDestinationAreRefused) {
    ScratchFolder scratch;
    for (const char* hostile : {"../escaped.txt", "inner/../../escaped.txt", "/escaped.txt",
                                "C:/escaped.txt", "..\\escaped.txt"}) {
        SCOPED_TRACE(hostile);
        ZipWriter zip;
        zip.addFile("fine.txt", "fine");
        zip.addFile(hostile, "escaped");
        const std::filesystem::path archive = scratch.path() / L"hostile.zip";
        const std::filesystem::path destination = scratch.path() / L"deep" / L"dest";
        zip.save(archive);
        std::string error;
        EXPECT_FALSE(expandArchive(archive, destination, error));
        EXPECT_EQ(error, "Expand-Archive failed for " + pathToAnsi(archive));
        EXPECT_FALSE(std::filesystem::exists(scratch.path() / L"deep" / L"escaped.txt"));
        EXPECT_FALSE(std::filesystem::exists(scratch.path() / L"escaped.txt"));
        EXPECT_FALSE(std::filesystem::exists(L"C:/escaped.txt"));
        // Refused as a whole: nothing at all was written.
        EXPECT_FALSE(std::filesystem::exists(destination / L"fine.txt"));
    }
}

TEST(ExpandArchive, InterpreterThatCannotStartCountsAsFailure) {
    ScratchFolder scratch;
    // A path this long makes the command line too long to start a process with.
    const std::filesystem::path archive = scratch.path() / (std::wstring(40000, L'a') + L".zip");
    std::string error;
    EXPECT_FALSE(expandArchive(archive, scratch.path() / L"dest", error));
    EXPECT_EQ(error, "Expand-Archive failed for " + pathToAnsi(archive));
}

}  // namespace
}  // namespace tavro
