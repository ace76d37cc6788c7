// Runs one elevated step over and over for a while, for tests/race/race_harness.py, which swaps
// the folders the step works in for links to an outside folder while it runs. Prints one line:
//   attempts N succeeded N refused N failed N
// then the text of the first failures that were not a link refusal.
//   race_driver copy SECONDS     the install's copy of C:/RaceSource into the install root
//   race_driver commit SECONDS   the same as one transaction (staged, committed by renames)
//   race_driver log SECONDS      lines appended to the install's log
//   race_driver uninstall        one uninstall of what the record lists
//   race_driver record SECONDS   the install record rewritten over and over, alternating
//                                between two sets of entries (for the kill test)
//   race_driver update [VERSION [committed]]
//                                one transaction putting C:/Quendrel/Tavro/Update/Unpacked
//                                over the install root, as the updater does (its follow-up
//                                refreshes Apps & features, to VERSION if given); for the kill
//                                test. With "committed" the process ends itself at the line the
//                                transaction logs once the record holds the new files: a kill
//                                right after the commit point.
//   race_driver install PACKAGE VERSION BUILD [committed]
//                                one install of PACKAGE as release VERSION, BUILD, then its
//                                registration in Apps & features, as the installer does (the same)
//   race_driver register VERSION an Apps & features entry of VERSION (the one an update refreshes)
//   race_driver registry         prints "build <BuildNumber> version <DisplayVersion>"
//   race_driver recover          what every start does first: an interrupted transaction
//                                finished or undone, leftover expansion folders removed; then
//                                prints what registry prints
//   race_driver download SECONDS downloads of a 3 MiB package in four parts from a local server,
//                                each of its own version (Tavro-V1.<n>-812.zip)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/installer_core.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/directory_copy.h"
#include "core/own_program.h"
#include "core/product_registry.h"
#include "core/text_convert.h"
#include "install/file_transaction.h"
#include "install/install_record.h"
#include "install/log_file.h"
#include "install/protected_folder.h"
#include "install/uninstall_entry.h"
#include "support/test_http_server.h"

namespace {

using namespace tavro;
using Clock = std::chrono::steady_clock;

struct Tally {
    int attempts = 0;
    int succeeded = 0;
    int refused = 0;
    std::vector<std::string> failures;

    void count(bool ok, const std::string& error) {
        ++attempts;
        if (ok) {
            ++succeeded;
        } else if (isRefusal(error)) {
            ++refused;
        } else {
            failures.push_back(error);
        }
    }

    static bool isRefusal(const std::string& error) {
        return error.find("efusing to write through a link: ") != std::string::npos;
    }

    int print() const {
        std::printf("attempts %d succeeded %d refused %d failed %zu\n", attempts, succeeded,
                    refused, failures.size());
        for (std::size_t i = 0; i < failures.size() && i < 5; ++i) {
            std::printf("failure: %s\n", failures[i].c_str());
        }
        return 0;
    }
};

template <typename Step>
void repeat(double seconds, Step step) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        step();
    }
}

int copyStep(double seconds) {
    Tally tally;
    repeat(seconds, [&] {
        std::int32_t copied = 0;
        std::string error;
        const bool ok = copyDirectoryTree(L"C:/RaceSource", installRoot(), {}, {}, 0, copied, error,
                                          refuseLinks);
        tally.count(ok, error);
    });
    return tally.print();
}

// Folders made below a folder that is swapped for a link meanwhile (as the install makes the root,
// the data folders and the download folder): made through held handles, or refused.
int foldersStep(double seconds) {
    Tally tally;
    repeat(seconds, [&] {
        std::string error;
        bool ok = true;
        try {
            createDirectoriesRefusingLinks(installRoot() / L"sub" / L"made" / L"deeper");
        } catch (const std::exception& e) {
            ok = false;
            error = e.what();
        }
        removeTreeWithoutFollowing(installRoot() / L"sub" / L"made");
        tally.count(ok, error);
    });
    return tally.print();
}

// The same tree put in place as a transaction: staged, journaled, committed by renames.
int commitStep(double seconds) {
    Tally tally;
    repeat(seconds, [&] {
        std::int32_t copied = 0;
        std::string error;
        tally.count(installFilesAsOne(L"C:/RaceSource", {}, {}, 0, copied, error), error);
    });
    return tally.print();
}

int logStep(double seconds) {
    Tally tally;
    std::optional<LogFile> log;
    log.emplace(logFilePath());
    repeat(seconds, [&] {
        log->write("a line that must land in the install's own log, nowhere else");
        const std::string failure = log->failure();
        tally.count(failure.empty(), failure);
        if (!failure.empty()) {
            log.emplace(logFilePath());  // a log keeps only its first failure: start afresh
        }
    });
    return tally.print();
}

int downloadStep(double seconds) {
    test::TestHttpServer server;
    test::Reply reply = test::Reply::text(200, std::string(3 * 1048576, 'p'));
    reply.honourRanges = true;
    reply.headers.emplace_back("Accept-Ranges", "bytes");
    server.on("/pkg.zip", reply);
    Tally tally;
    int version = 0;
    repeat(seconds, [&] {
        ReleaseInfo release;
        release.packageUrl = server.url("/pkg.zip");
        release.version = "1." + std::to_string(version++);
        release.buildNumber = "812";
        try {
            installerCore.downloadPackage(release, {}, {});
            tally.count(true, {});
        } catch (const std::exception& e) {
            tally.count(false, e.what());
        }
    });
    return tally.print();
}

// Two record sets, told apart by their first entry's size.
std::vector<RecordEntry> recordSet(int which) {
    std::vector<RecordEntry> entries;
    for (int i = 0; i < 200; ++i) {
        entries.push_back({"sub/file" + std::to_string(i) + ".dll",
                           static_cast<std::uint64_t>(which * 1000 + i),
                           std::string(64, which == 0 ? 'a' : 'b')});
    }
    return entries;
}

int recordStep(double seconds) {
    Tally tally;
    int which = 0;
    repeat(seconds, [&] {
        std::string error;
        // Each set replaces the other's entries: the same paths, other sizes and digests.
        const bool ok = recordInstalledFiles(recordSet(which), nullptr, error);
        tally.count(ok, error);
        which = 1 - which;
        std::printf("written %d\n", 1 - which);
        std::fflush(stdout);
    });
    return tally.print();
}

int uninstallStep() {
    Tally tally;
    std::vector<std::string> kept;
    std::string error;
    const bool ok = installerCore.runUninstall({}, {}, kept, error);
    tally.count(ok, error);
    for (const std::string& line : kept) {
        std::printf("kept: %s\n", line.c_str());
    }
    return tally.print();
}

// Prints "started" once the step runs, so that the kill test kills it within the step.
void announceStart() {
    std::printf("started\n");
    std::fflush(stdout);
}

// The run's log: with committed, the process ends itself (as a kill would) at the line logged
// once the record holds the new files.
LogCallback runLog(bool committed) {
    return [committed](const std::string& line) {
        if (committed && line == "The install record holds the new files.") {
            TerminateProcess(GetCurrentProcess(), 9);
        }
    };
}

int updateStep(const std::string& version, bool committed) {
    announceStart();
    Tally tally;
    std::string error;
    std::int32_t copied = 0;
    tally.count(installFilesAsOne(installRoot() / L"Update" / L"Unpacked",
                                  JournalFollowUp{JournalRun::update, {}, version}, nullptr,
                                  runLog(committed), 0, copied, error),
                error);
    return tally.print();
}

int installStep(const char* package, const std::string& version, const std::string& build,
                bool committed) {
    announceStart();
    Tally tally;
    std::string error;
    ReleaseInfo release;
    release.version = version;
    release.buildNumber = build;
    const bool installed =
        installerCore.installPackage(package, release, false, nullptr, runLog(committed), error) &&
        registerInstallation(version, error);
    tally.count(installed, error);
    return tally.print();
}

int registerStep(const std::string& version) {
    std::string error;
    if (!writeUninstallEntry(version, 1, error)) {
        std::printf("failed: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

std::string stringValue(const wchar_t* key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS) {
        return "-";
    }
    return toUtf8(value);
}

int registryStep() {
    std::printf("build %s version %s\n", stringValue(kProductKey, kBuildNumberValue).c_str(),
                stringValue(kUninstallKey, L"DisplayVersion").c_str());
    return 0;
}

int recoverStep() {
    announceStart();
    Tally tally;
    tally.count(recoverInterruptedTransaction(
                    [](const std::string& line) { std::printf("log: %s\n", line.c_str()); }),
                "the transaction is still open");
    removeLeftoverProtectedFolders();
    tally.print();
    return registryStep();
}

}  // namespace

int main(int argc, char** argv) {
    ownProgramFile();  // held from the start, as the installer holds it: the kept copy reads it
    const std::string step = argc > 1 ? argv[1] : "";
    const auto argument = [&](int n) { return std::string(argc > n ? argv[n] : ""); };
    const double seconds = argc > 2 ? std::atof(argv[2]) : 0.0;
    int result = 2;
    if (step == "copy") {
        result = copyStep(seconds);
    } else if (step == "commit") {
        result = commitStep(seconds);
    } else if (step == "folders") {
        result = foldersStep(seconds);
    } else if (step == "log") {
        result = logStep(seconds);
    } else if (step == "record") {
        result = recordStep(seconds);
    } else if (step == "download") {
        result = downloadStep(seconds);
    } else if (step == "update") {
        result = updateStep(argument(2), argument(3) == "committed");
    } else if (step == "install" && argc > 4) {
        result = installStep(argv[2], argv[3], argv[4], argument(5) == "committed");
    } else if (step == "register" && argc > 2) {
        result = registerStep(argv[2]);
    } else if (step == "registry") {
        result = registryStep();
    } else if (step == "recover") {
        result = recoverStep();
    } else if (step == "uninstall") {
        result = uninstallStep();
    } else {
        std::fprintf(stderr, "usage: race_driver copy|log SECONDS, or race_driver uninstall\n");
    }
    std::fflush(stdout);
    return result;
}
