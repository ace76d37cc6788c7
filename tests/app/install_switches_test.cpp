#include "app/install_switches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLineSplit, ReadsQuotesAndBackslashesAsTheWindowsRuntimeDoes) {
    EXPECT_EQ(
        splitCommandLine(R"("C:\Program Files\T\TavroInstaller.exe" --quiet  /email a@b.c)"),
        (Arguments{R"(C:\Program Files\T\TavroInstaller.exe)", "--quiet", "/email", "a@b.c"}));
    // In the program path a backslash before a quote is a backslash.
    EXPECT_EQ(splitCommandLine(R"("C:\dir\"x.exe a)"), (Arguments{R"(C:\dir\x.exe)", "a"}));
    EXPECT_EQ(splitCommandLine(R"(p "a b" a\\\"b a\\"b c" a\\b "")"),
              (Arguments{"p", "a b", R"(a\"b)", R"(a\b c)", R"(a\\b)", ""}));
    EXPECT_EQ(splitCommandLine("p\t--quiet\t"), (Arguments{"p", "--quiet"}));
    EXPECT_EQ(splitCommandLine(""), (Arguments{""}));
}

TEST(CommandLineSplit, AQuotedArgumentReadsBackAsItWas) {
    for (const std::string argument :
         {"plain@x.y", "with space@x.y", R"(q"uote)", R"(trailing\)", R"(a\\"b)", R"(\\)", ""}) {
        const Arguments read = splitCommandLine("p " + quoteArgument(argument) + " next");
        EXPECT_EQ(read, (Arguments{"p", argument, "next"})) << argument;
    }
}

TEST(InstallSwitches, ALineWithoutDeploymentSwitchesIsTheWindowAsAlways) {
    for (const char* line : {"TavroInstaller.exe", "TavroInstaller.exe -quiet --unknown",
                             R"("C:\quiet\TavroInstaller.exe" /QUIET --quietly)"}) {
        const InstallSwitches switches = installSwitchesOf(line);
        EXPECT_EQ(switches.unattended, Unattended::no) << line;
        EXPECT_EQ(switches.refusal, "") << line;
    }
}

TEST(InstallSwitches, QuietAndPassiveTakeTheAddressAndTheDriverInEitherSpelling) {
    InstallSwitches quiet = installSwitchesOf("T.exe --quiet --email demo@example.com");
    EXPECT_EQ(quiet.unattended, Unattended::quiet);
    EXPECT_EQ(quiet.email, "demo@example.com");
    EXPECT_FALSE(quiet.usbDriver);
    EXPECT_EQ(quiet.refusal, "");

    InstallSwitches passive =
        installSwitchesOf(R"(T.exe /usb-driver /email "first last@example.com" /passive)");
    EXPECT_EQ(passive.unattended, Unattended::passive);
    EXPECT_EQ(passive.email, "first last@example.com");
    EXPECT_TRUE(passive.usbDriver);
    EXPECT_EQ(passive.refusal, "");

    // The elevated copy gets the same run back.
    const InstallSwitches again = installSwitchesOf("T.exe " + elevatedParametersOf(passive));
    EXPECT_EQ(again.unattended, Unattended::passive);
    EXPECT_EQ(again.email, passive.email);
    EXPECT_TRUE(again.usbDriver);
    EXPECT_EQ(elevatedParametersOf(quiet), "--quiet --email demo@example.com");
}

TEST(InstallSwitches, RefusesWhatIsUnknownIncompleteOrNotAnAddress) {
    const struct {
        const char* line;
        const char* refusal;
    } cases[] = {
        {"T.exe --quiet --email a@b.c /norestart", "unknown switch \"/norestart\""},
        {"T.exe --quiet --email a@b.c --Quiet", "unknown switch \"--Quiet\""},
        {"T.exe --quiet --email", "\"--email\" needs an address after it"},
        {"T.exe --quiet", "no address: --email ADDRESS is needed"},
        {"T.exe --email a@b.c --usb-driver", "--email and --usb-driver need --quiet or --passive"},
        {"T.exe --quiet --passive --email a@b.c",
         "\"--passive\" cannot be combined with the other of --quiet and --passive"},
        {"T.exe --quiet --email a@example",
         "the address after --email is not an e-mail address (the window's rule: an at sign and "
         "a full stop)"},
        {"T.exe --quiet --email \"\"",
         "the address after --email is not an e-mail address (the window's rule: an at sign and "
         "a full stop)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(installSwitchesOf(c.line).refusal, c.refusal) << c.line;
    }
    // The window's rule, not a stricter one: the two characters in either order suffice.
    EXPECT_EQ(installSwitchesOf("T.exe --quiet --email x.y@z").refusal, "");
}

}  // namespace
}  // namespace tavro
