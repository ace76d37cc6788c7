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
//   race_driver update           one transaction putting C:/Quendrel/Tavro/Update/Unpacked
//                                over the install root (for the transaction kill test)
//   race_driver install PACKAGE  one install of PACKAGE (the same)
//   race_driver recover          what every start does first: an interrupted transaction
//                                finished or undone, leftover expansion folders removed
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
#include "install/file_transaction.h"
#include "install/install_record.h"
#include "install/log_file.h"
#include "install/protected_folder.h"
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

int updateStep() {
    announceStart();
    Tally tally;
    std::string error;
    std::int32_t copied = 0;
    tally.count(installFilesAsOne(installRoot() / L"Update" / L"Unpacked", nullptr, nullptr, 0,
                                  copied, error),
                error);
    return tally.print();
}

int installStep(const char* package) {
    announceStart();
    Tally tally;
    std::string error;
    tally.count(installerCore.installPackage(package, "812", false, nullptr, nullptr, error),
                error);
    return tally.print();
}

int recoverStep() {
    announceStart();
    Tally tally;
    tally.count(recoverInterruptedTransaction(
                    [](const std::string& line) { std::printf("log: %s\n", line.c_str()); }),
                "the transaction is still open");
    removeLeftoverProtectedFolders();
    return tally.print();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string step = argc > 1 ? argv[1] : "";
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
        result = updateStep();
    } else if (step == "install" && argc > 2) {
        result = installStep(argv[2]);
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
