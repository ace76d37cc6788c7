// What another user can plant where every user may write never runs, and nothing the elevated
// install makes final is lost or taken for something else.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/installer_core.h"
#include "core/machine_record.h"
#include "core/own_program.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "download/package_hold.h"
#include "fs/install_paths.h"
#include "install/archive_expansion.h"
#include "install/hidden_command.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "install/protected_folder.h"
#include "install/zip_writer.h"
#include "support/observed.h"
#include "support/test_http_server.h"
#include "update/product_processes.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::readFile;
using test::writeFile;

class ElevationBoundary : public test::InstallationTest {
  protected:
    // A package with the product and the USB driver tool (the recording stand-in).
    fs::path savePackage() {
        test::ZipWriter zip;
        zip.addFile("Tavro.exe", test::standinBytes(L"Tavro.exe"));
        zip.addFile("USB Driver/zadig-2.3.exe", test::standinBytes(L"zadig-2.3.exe"));
        zip.addFile("docs/read me.txt", "Read me.");
        const fs::path package = scratch_.path() / L"Tavro-V2.4.1-812.zip";
        zip.save(package);
        return package;
    }

    test::ScratchFolder scratch_;
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The USB driver tool planted in the install root before the install, and swapped in there
// again once the copy has put the package's there, never runs: the one that runs is the
// package's own, from the install's administrators-only folder.
TEST_F(ElevationBoundary, PlantedUsbDriverToolNeverRuns) {
    const fs::path planted = installRoot() / L"USB Driver" / L"zadig-2.3.exe";
    writeFile(planted, test::standinBytes(L"zadig-2.3.exe"));
    const fs::path package = savePackage();
    std::string error;
    bool swapped = false;
    const InstallCallback swapAfterTheCopy = [&](const InstallState& state) {
        if (state.totalFiles == 3 && state.copiedFiles == 3 && !swapped) {
            swapped = true;
            writeFile(planted, test::standinBytes(L"zadig-2.3.exe"));
        }
    };
    std::thread installer(
        [&] { installerCore.installPackage(package, "812", true, swapAfterTheCopy, {}, error); });
    const bool started = records->waitForStarts(L"zadig-2.3.exe", 1, 30s);
    records->requestExit(L"zadig-2.3.exe");
    installer.join();
    ASSERT_TRUE(started);
    EXPECT_TRUE(swapped);
    const auto starts = records->starts(L"zadig-2.3.exe");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(startsWith(starts[0].commandLine, "\"C:\\ProgramData\\TavroInstall."))
        << starts[0].commandLine;
}

// cmd.exe, powershell.exe and taskkill.exe planted beside the program and in its current
// folder never run: the system's own are started by their full paths.
TEST_F(ElevationBoundary, PlantedSystemProgramsNeverRun) {
    const fs::path besideProgram = fs::path(ownProgramPath()).parent_path();
    const fs::path current = scratch_.path() / L"current";
    fs::create_directories(current);
    std::vector<fs::path> plantedFiles;
    for (const wchar_t* name : {L"cmd.exe", L"powershell.exe", L"taskkill.exe"}) {
        for (const fs::path& folder : {besideProgram, current}) {
            writeFile(folder / name, test::standinBytes(L"Tavro.exe"));  // records its starts
            plantedFiles.push_back(folder / name);
        }
    }
    const fs::path before = fs::current_path();
    fs::current_path(current);

    test::ZipWriter zip;
    zip.addFile("a.txt", "a");
    const fs::path archive = scratch_.path() / L"p.zip";
    zip.save(archive);
    std::string error;
    const bool expanded = expandArchive(archive, scratch_.path() / L"out", error);
    const bool closed = closeRunningApps({}, error);

    fs::current_path(before);
    for (const fs::path& file : plantedFiles) {
        fs::remove(file);
    }
    EXPECT_TRUE(expanded) << error;
    EXPECT_TRUE(closed) << error;
    EXPECT_EQ(readFile(scratch_.path() / L"out" / L"a.txt"), "a");
    EXPECT_EQ(records->powerShellCommandLines().size(), 1u);  // the system's PowerShell ran
    for (const wchar_t* name : {L"cmd.exe", L"powershell.exe", L"taskkill.exe"}) {
        EXPECT_TRUE(records->starts(name).empty()) << toUtf8(name);
    }
}

// The ACEs of an SDDL DACL text, "(A;OICI;FA;;;SY)" each.
std::vector<std::wstring> acesOf(const std::wstring& dacl) {
    std::vector<std::wstring> aces;
    for (std::size_t open = dacl.find(L'('); open != std::wstring::npos;
         open = dacl.find(L'(', open + 1)) {
        aces.push_back(dacl.substr(open, dacl.find(L')', open) - open + 1));
    }
    return aces;
}

// The SDDL form of the process user's SID.
std::wstring processUserSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    const KernelHandle owned(token);
    std::vector<unsigned char> buffer(256);
    DWORD size = 0;
    wchar_t* text = nullptr;
    std::wstring sid;
    if (GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                            &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    return sid;
}

// The folder is made with a DACL for the system and the administrators alone, nothing
// inherited. Windows keeps and enforces it as given. Wine enforces none and keeps a DACL only as
// far as the file's mode bits can say it: read back, it must still grant nobody but the system,
// the administrators and the (administrator) user the program runs as, and nothing to everyone.
TEST_F(ElevationBoundary, ProtectedFolderAdmitsOnlyTheSystemAndTheAdministrators) {
    EXPECT_EQ(protectedDescriptorText(), kProtectedFolderSddl);
    fs::path made;
    {
        const ProtectedFolder folder;
        made = folder.path();
        EXPECT_TRUE(startsWith(pathToAnsi(made), "C:\\ProgramData\\TavroInstall.")) << made;
        const std::wstring dacl = folderDaclText(made);
        if (dacl != kProtectedFolderSddl) {
            const std::wstring user = L";;;" + processUserSid() + L")";
            ASSERT_FALSE(acesOf(dacl).empty()) << toUtf8(dacl);
            for (const std::wstring& ace : acesOf(dacl)) {
                const bool allowed =
                    ace.ends_with(L";;;SY)") || ace.ends_with(L";;;BA)") || ace.ends_with(user);
                EXPECT_TRUE(allowed) << toUtf8(ace) << " in " << toUtf8(dacl);
            }
        }
        writeFile(made / L"sub" / L"x.txt", "x");
    }
    EXPECT_FALSE(fs::exists(made));  // removed with what it held
}

// A record that cannot be read as one (here a file of zeros) is neither merged as empty nor
// lost: it is kept aside, and the good entries of a partly damaged one are carried over.
TEST_F(ElevationBoundary, DamagedRecordIsKeptAsideNotMergedAsEmpty) {
    const fs::path damaged = installRoot() / L"TavroInstall.record.damaged";
    const std::string zeros(4096, '\0');
    writeFile(installRecordPath(), zeros);
    test::Observed observed;
    std::string error;
    const std::vector<RecordEntry> installed{{"Tavro.exe", 3, std::string(64, 'a')}};
    ASSERT_TRUE(recordInstalledFiles(installed, observed.log(), error)) << error;
    EXPECT_EQ(readFile(damaged), zeros);
    ParsedRecord record;
    ASSERT_TRUE(readInstallRecord(record, error)) << error;
    ASSERT_EQ(record.entries.size(), 1u);
    EXPECT_TRUE(record.badLines.empty());
    ASSERT_EQ(observed.lines().size(), 1u);
    EXPECT_TRUE(startsWith(observed.lines()[0],
                           "The install record had 1 lines that are not "
                           "entries; kept as "))
        << observed.lines()[0];

    const std::string older = std::string("Tavro install record 1\n") + std::string(64, 'b') +
                              " 7 Ostrilan/Ostrilan.exe\nnot an entry\n";
    writeFile(installRecordPath(), older);
    ASSERT_TRUE(recordInstalledFiles(installed, {}, error)) << error;
    EXPECT_EQ(readFile(damaged), older);
    ASSERT_TRUE(readInstallRecord(record, error)) << error;
    ASSERT_EQ(record.entries.size(), 2u);
    EXPECT_EQ(record.entries[0].path, "Ostrilan/Ostrilan.exe");
}

// Without a digest from the release, what vouches for a downloaded package is the digest the
// install recorded of the bytes it read: a package the install found it cannot expand is deleted
// and fetched again instead of failing the same way for ever; one it installed is reused.
TEST_F(ElevationBoundary, PackageIsReusedByTheInstallsRecordAndOneThatCannotBeExpandedIsNot) {
    test::ZipWriter zip;
    zip.addFile("Tavro.exe", test::standinBytes(L"Tavro.exe"));
    const fs::path good = scratch_.path() / L"good.zip";
    zip.save(good);
    const std::string body = readFile(good);
    // Bytes that do not expand (a faulty package on the host).
    std::string served(body.size(), '\0');
    test::TestHttpServer server;
    server.on("/pkg.zip",
              [&served](const test::RecordedRequest&) { return test::Reply::text(200, served); });
    const ReleaseInfo release{server.url("/pkg.zip"), "2.4.1", "812"};
    const fs::path package = downloadFolder() / L"Tavro-V2.4.1-812.zip";
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDownloadDigestsKey, L"Tavro-V2.4.1-812.zip");

    const auto getRequests = [&server] {
        std::size_t count = 0;
        for (const auto& request : server.requests()) {
            count += request.method == "GET" ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(installerCore.downloadPackage(release, {}, {}), package);
    std::string error;
    FileHandle held = holdPackageForInstall(package, "", error);
    ASSERT_TRUE(held) << error;
    EXPECT_FALSE(installerCore.installPackage(package, "812", false, {}, {}, error));
    ASSERT_TRUE(isExpansionFailure(error)) << error;
    EXPECT_TRUE(discardHeldPackage(held, package));
    EXPECT_FALSE(fs::exists(package));

    served = body;  // the host mended
    EXPECT_EQ(installerCore.downloadPackage(release, {}, {}), package);
    EXPECT_EQ(getRequests(), 2u);
    EXPECT_EQ(readFile(package), body);
    held = holdPackageForInstall(package, "", error);
    ASSERT_TRUE(held) << error;
    ASSERT_TRUE(installerCore.installPackage(package, "812", false, {}, {}, error)) << error;
    held = FileHandle();
    EXPECT_EQ(installerCore.downloadPackage(release, {}, {}), package);
    EXPECT_EQ(getRequests(), 2u);  // reused: its bytes are the ones the install read
    writeFile(package, std::string(body.size(), 'x'));  // the same size, other bytes
    EXPECT_EQ(installerCore.downloadPackage(release, {}, {}), package);
    EXPECT_EQ(getRequests(), 3u);
    EXPECT_EQ(readFile(package), body);
}

}  // namespace
}  // namespace tavro
