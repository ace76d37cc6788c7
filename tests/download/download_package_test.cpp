#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

#include "core/installer_core.h"
#include "core/machine_record.h"
#include "download/package_download.h"
#include "download/package_fetch.h"
#include "download/package_hold.h"
#include "fs/file_sha256.h"
#include "fs/install_paths.h"
#include "support/test_files.h"
#include "support/test_http_server.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using test::pattern;
using test::readFile;
using test::RecordedRequest;
using test::Reply;
using test::TestHttpServer;
using test::writeFile;

constexpr const char* kPackageText = "C:/Quendrel/Tavro\\tmp\\Tavro-V2.4.1-812.zip";
// SHA-256 of pattern(2097152), worked out apart from the program.
constexpr const char* kTwoMebibyteDigest =
    "4936ee24a2bbf91c1a9bd9510d6358e9439f290a347255987a0d7494007b6c26";

// FNV-1a, so that a mismatch prints two numbers rather than megabytes.
std::uint64_t hashOf(const std::string& data) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : data) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// The package served with byte ranges, as a real server would.
Reply rangedPackage(const std::string& body) {
    Reply reply = Reply::text(200, body);
    reply.honourRanges = true;
    reply.headers.emplace_back("Accept-Ranges", "bytes");
    return reply;
}

std::vector<std::string> rangesOf(const std::vector<RecordedRequest>& requests) {
    std::vector<std::string> ranges;
    for (const RecordedRequest& request : requests) {
        if (request.method == "GET") {
            ranges.push_back(request.header("Range"));
        }
    }
    std::sort(ranges.begin(), ranges.end());
    return ranges;
}

class DownloadPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(downloadFolder());
        forgetRecordedDigest();
        release_ = {server_.url("/pkg.zip"), "2.4.1", "812"};
        package_ = downloadFolder() / "Tavro-V2.4.1-812.zip";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(downloadFolder(), ignored);
        forgetRecordedDigest();
    }

    static void forgetRecordedDigest() {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kDownloadDigestsKey, L"Tavro-V2.4.1-812.zip");
    }

    fs::path download() {
        return installerCore.downloadPackage(
            release_,
            [this](const DownloadState& state) {
                std::lock_guard lock(mutex_);
                records_.push_back(state);
                if (onRecord_) {
                    onRecord_(state, records_.size());
                }
            },
            [this](const std::string& line) { lines_.push_back(line); });
    }

    std::string downloadError() {
        try {
            download();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no exception";
    }

    // Everything left in the download folder.
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(downloadFolder())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<DownloadState> records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

    TestHttpServer server_;
    ReleaseInfo release_;
    fs::path package_;
    std::mutex mutex_;
    std::vector<DownloadState> records_;
    std::function<void(const DownloadState&, std::size_t)> onRecord_;
    std::vector<std::string> lines_;
};

TEST_F(DownloadPackage, FourPartsAskForExactRangesAndMergeIntoTheServedFile) {
    const std::string body = pattern(1048577);
    server_.on("/pkg.zip", rangedPackage(body));
    EXPECT_EQ(download(), package_);
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V2.4.1-812.zip"});
    EXPECT_EQ(rangesOf(server_.requests()),
              (std::vector<std::string>{"bytes=0-262143", "bytes=262144-524287",
                                        "bytes=524288-786431", "bytes=786432-1048576"}));
    EXPECT_EQ(server_.requests().front().method, "HEAD");
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 4"});
    const DownloadState last = records().back();
    EXPECT_EQ(last.downloadedBytes, 1048577u);
    EXPECT_EQ(last.totalBytes, 1048577u);
    EXPECT_EQ(last.percent, 100.0);
    EXPECT_EQ(last.speedMBps, 0.0);
}

TEST_F(DownloadPackage, OneStreamAtOneMebibyteOrWithoutAcceptRanges) {
    const std::string body = pattern(1048576);
    server_.on("/pkg.zip", rangedPackage(body));
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(rangesOf(server_.requests()), std::vector<std::string>{""});
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 1"});

    fs::remove(package_);
    lines_.clear();
    const std::string large = pattern(3 * 1048576);
    Reply noRanges = Reply::text(200, large);
    noRanges.honourRanges = true;  // would serve them, but does not say so
    server_.on("/pkg.zip", noRanges);
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(large));
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 1"});
}

TEST_F(DownloadPackage, SizeUnknownToTheProbeIsLearnedFromTheGet) {
    const std::string body = pattern(2 * 1048576);
    server_.on("/pkg.zip", [&body](const RecordedRequest& request) {
        Reply reply = Reply::text(200, body);
        reply.sendContentLength = request.method != "HEAD";
        return reply;
    });
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 1"});
    // The first record comes from the (0, length) call of the GET.
    const auto all = records();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.front().downloadedBytes, 0u);
    for (const DownloadState& state : all) {
        EXPECT_EQ(state.totalBytes, body.size());
    }
}

TEST_F(DownloadPackage, WithoutAnyLengthThePercentStaysUnderTheCap) {
    const std::string body = pattern(3 * 1048576);
    Reply unframed = Reply::text(200, body);
    unframed.sendContentLength = false;
    server_.on("/pkg.zip", unframed);
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    const auto all = records();
    ASSERT_GE(all.size(), 2u);
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        const double d = static_cast<double>(all[i].downloadedBytes);
        EXPECT_EQ(all[i].totalBytes, 0u);
        EXPECT_DOUBLE_EQ(all[i].percent, std::min(d * 100.0 / (d + 20971520.0), 95.0));
    }
    EXPECT_EQ(all.back().percent, 100.0);
    EXPECT_EQ(all.back().totalBytes, body.size());
}

TEST_F(DownloadPackage, FailingProbeStillDownloadsInOneStream) {
    const std::string body = pattern(2 * 1048576);
    server_.on("/pkg.zip", [&body](const RecordedRequest& request) {
        if (request.method == "HEAD") {
            Reply refused = Reply::text(405, "no HEAD here");
            refused.headers.emplace_back("Accept-Ranges", "bytes");
            return refused;
        }
        return Reply::text(200, body);
    });
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 1"});
    EXPECT_EQ(records().back().totalBytes, body.size());
}

TEST_F(DownloadPackage, ServerIgnoringRangesFallsBackInsteadOfMergingFourCopies) {
    const std::string body = pattern(2 * 1048576);
    Reply liar = Reply::text(200, body);
    liar.headers.emplace_back("Accept-Ranges", "bytes");
    server_.on("/pkg.zip", liar);
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(lines_, (std::vector<std::string>{"Download parts: 4",
                                                "Parallel download failed, retrying single "
                                                "download: Range not honoured: HTTP status 200"}));
    EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V2.4.1-812.zip"});
}

TEST_F(DownloadPackage, PartCutMidBodyFallsBackAndKeepsTheStartTime) {
    const std::string body = pattern(4 * 1048576);
    server_.on("/pkg.zip", [&body](const RecordedRequest& request) {
        Reply reply = rangedPackage(body);
        if (!request.header("Range").empty()) {
            reply.delay = std::chrono::milliseconds(300);
        }
        if (request.header("Range") == "bytes=1048576-2097151") {
            reply.cutAfterBytes = 100000;
        }
        return reply;
    });
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[1].rfind("Parallel download failed, retrying single download: ", 0), 0u)
        << lines_[1];
    EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V2.4.1-812.zip"});

    // The restart's record {0, total, 0, 0, 0} comes after the parallel records and right
    // before the fallback's own (0, length) record.
    const auto all = records();
    const auto isZero = [&](const DownloadState& s) {
        return s.downloadedBytes == 0 && s.totalBytes == body.size() && s.percent == 0.0 &&
               s.downloadedMB == 0.0 && s.speedMBps == 0.0;
    };
    const auto restart = std::find_if(all.begin(), all.end(), isZero);
    ASSERT_NE(restart, all.begin());
    ASSERT_GE(all.end() - restart, 3);
    EXPECT_TRUE(isZero(restart[1]));
    // The next record with bytes averages over the time since the parallel attempt began.
    const auto next = restart + 2;
    EXPECT_LT(next->downloadedBytes, 1048576u);
    EXPECT_LE(next->speedMBps, next->downloadedMB / 0.3 + 1e-9);
}

TEST_F(DownloadPackage, TwoFailingPartsLogOneErrorText) {
    const std::string body = pattern(2 * 1048576);
    server_.on("/pkg.zip", [&body](const RecordedRequest& request) {
        const std::string range = request.header("Range");
        if (range == "bytes=0-524287") {
            return Reply::text(500, "first");
        }
        if (range == "bytes=1048576-1572863") {
            return Reply::text(503, "second");
        }
        return rangedPackage(body);
    });
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    ASSERT_EQ(lines_.size(), 2u);
    const std::string prefix = "Parallel download failed, retrying single download: ";
    EXPECT_TRUE(lines_[1] == prefix + "HTTP status 500" || lines_[1] == prefix + "HTTP status 503")
        << lines_[1];
}

TEST_F(DownloadPackage, ShortPartialContentFallsBack) {
    const std::string body = pattern(2 * 1048576);
    server_.on("/pkg.zip", [&body](const RecordedRequest& request) {
        if (request.header("Range") == "bytes=524288-1048575") {
            Reply shortPart = Reply::text(206, body.substr(524288, 500));
            shortPart.headers.emplace_back("Content-Range", "bytes 524288-1048575/2097152");
            return shortPart;
        }
        return rangedPackage(body);
    });
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[1],
              "Parallel download failed, retrying single download: Transfer ended after 500 of "
              "524288 bytes");
}

TEST_F(DownloadPackage, ErrorStatusOnTheGetFailsWithoutAPackage) {
    EXPECT_EQ(downloadError(), "Download failed: HTTP status 404");  // no route: 404
    EXPECT_FALSE(fs::exists(package_));
    server_.on("/pkg.zip", Reply::text(500, "<html>Internal error</html>"));
    EXPECT_EQ(downloadError(), "Download failed: HTTP status 500");
    EXPECT_FALSE(fs::exists(package_));
}

TEST_F(DownloadPackage, PauseHoldsEveryPartAndResumesOnTheSameConnections) {
    const std::string body = pattern(4 * 1048576);
    Reply slow = rangedPackage(body);
    slow.bytesPerSecond = 2 * 1048576;  // per connection: about 0.5 s per part
    server_.on("/pkg.zip", slow);
    onRecord_ = [](const DownloadState& state, std::size_t) {
        if (state.downloadedBytes > 200000) {
            installerCore.paused = true;  // from a part thread, like a button press
        }
    };
    std::atomic<bool> done{false};
    std::thread resumer([&] {
        while (!installerCore.paused.load() && !done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // reads in flight end
        std::size_t held;
        {
            std::lock_guard lock(mutex_);
            onRecord_ = nullptr;
            held = records_.size();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        EXPECT_EQ(records().size(), held);  // not a byte read by any part while paused
        installerCore.paused = false;
    });
    download();
    done = true;
    resumer.join();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(server_.requests().size(), 5u);  // the HEAD and four GETs, none repeated
    EXPECT_EQ(lines_, std::vector<std::string>{"Download parts: 4"});
}

TEST_F(DownloadPackage, CancelEndsEveryPartAndTheFallback) {
    const std::string body = pattern(4 * 1048576);
    Reply slow = rangedPackage(body);
    slow.bytesPerSecond = 2 * 1048576;
    server_.on("/pkg.zip", slow);
    onRecord_ = [](const DownloadState& state, std::size_t) {
        if (state.downloadedBytes > 100000) {
            installerCore.cancelled = true;
        }
    };
    EXPECT_EQ(downloadError(), "Download failed: Cancelled");
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "Download parts: 4",
                          "Parallel download failed, retrying single download: Cancelled"}));
    EXPECT_FALSE(fs::exists(package_));
    // The fallback still asked, and left T empty.
    EXPECT_EQ(rangesOf(server_.requests()).front(), "");
    EXPECT_EQ(fs::file_size(tempFilePath(package_)), 0u);
}

TEST_F(DownloadPackage, LeftoversOfAnEarlierRunAreDeleted) {
    const std::string body = pattern(2 * 1048576);
    server_.on("/pkg.zip", rangedPackage(body));
    fs::create_directories(downloadFolder());
    writeFile(tempFilePath(package_), body);
    for (int i = 0; i < kParallelParts; ++i) {
        writeFile(partFilePath(package_, i), "stale");
    }
    download();
    EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
    EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V2.4.1-812.zip"});
    EXPECT_EQ(server_.requests().size(), 5u);
}

TEST_F(DownloadPackage, StalePartThatCannotBeDeletedEndsTheCallCleanly) {
    const std::string body = pattern(4 * 1048576);
    Reply slow = rangedPackage(body);
    slow.bytesPerSecond = 2 * 1048576;
    server_.on("/pkg.zip", slow);
    fs::create_directories(downloadFolder());
    const fs::path stale = partFilePath(package_, 2);
    writeFile(stale, "stale");
    // Held open without delete sharing, as another program might.
    const HANDLE holder = CreateFileW(stale.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(download(), fs::filesystem_error);
    CloseHandle(holder);
    // Parts 0 and 1 were stopped, not waited for to the end (about 0.5 s each at this rate).
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_FALSE(fs::exists(package_));
    EXPECT_EQ(rangesOf(server_.requests()).size(), 2u);
}

TEST_F(DownloadPackage, APlantedFileIsNeverReusedAndInstalledOnesAreByTheirRecordedDigest) {
    // No digest from the release: only the digest this program's install recorded of the bytes
    // it read, in HKLM, vouches for an earlier file; its name and size, which anyone may forge,
    // do not, and neither does the download alone (it does not hash what it cannot check).
    const std::string body = pattern(5000);
    int headStatus = 200;
    server_.on("/pkg.zip", [&](const RecordedRequest& request) {
        if (request.method == "HEAD" && headStatus != 200) {
            return Reply::text(headStatus, "no HEAD here, 22 bytes");
        }
        return rangedPackage(body);
    });
    const std::string removing =
        std::string("Removing old/partial package and downloading again: ") + kPackageText;
    const std::string unvouched =
        std::string(
            "Existing package is not reused: neither the release nor an install of this "
            "program vouches for its bytes: ") +
        kPackageText;
    const std::string reused =
        std::string(
            "Using existing downloaded package, SHA-256 matched the digest recorded when "
            "this program installed it: ") +
        kPackageText;
    std::string sameSizeOtherBytes = body;
    sameSizeOtherBytes[1000] ^= 1;
    struct Step {
        const char* what;
        std::optional<std::string> plant;  // written over the package first
        bool installed;                    // the install's record of the served bytes first
        int headStatus;
        bool reused;
        std::string firstLine;
    };
    const std::vector<Step> steps{
        {"planted, right size", std::string(5000, 'o'), false, 200, false, unvouched},
        {"the download before, not installed", std::nullopt, false, 200, false, unvouched},
        {"the download before, installed", std::nullopt, true, 200, true, reused},
        {"the download before, failed probe", std::nullopt, true, 404, true, reused},
        // the install's record stands against any other bytes
        {"planted, a failed probe's length", std::string(22, 'x'), true, 404, false,
         "Existing package digest mismatch"},
        {"planted over it", sameSizeOtherBytes, true, 200, false,
         "Existing package digest mismatch"},
        {"shorter", std::string(4000, 'o'), true, 200, false,
         "Existing package name matched but size did not match remote size. Existing=4000 "
         "Remote=5000"},
    };
    fs::create_directories(downloadFolder());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        headStatus = step.headStatus;
        if (step.installed) {
            std::string error;
            ASSERT_TRUE(writeMachineValue(kDownloadDigestsKey, L"Tavro-V2.4.1-812.zip",
                                          sha256OfFile(package_, error), error))
                << error;
        }
        if (step.plant) {
            writeFile(package_, *step.plant);
        }
        const std::size_t requestsBefore = server_.requests().size();
        lines_.clear();
        EXPECT_EQ(download(), package_);
        EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
        ASSERT_FALSE(lines_.empty());
        EXPECT_EQ(lines_[0].rfind(step.firstLine, 0), 0u) << lines_[0];
        if (step.reused) {
            EXPECT_EQ(lines_.size(), 1u);
            EXPECT_EQ(server_.requests().size(), requestsBefore + 1);  // the probe alone
        } else {
            EXPECT_EQ(lines_[1], removing);
        }
    }
}

TEST_F(DownloadPackage, HostileVersionStaysInsideTheDownloadFolder) {
    const std::string body = pattern(3000);
    server_.on("/pkg.zip", rangedPackage(body));
    release_.version = "../../x";
    release_.buildNumber = "a:b";
    const fs::path path = download();
    EXPECT_EQ(path, downloadFolder() / "Tavro-V.._.._x-a_b.zip");
    EXPECT_EQ(path.parent_path(), downloadFolder());
    EXPECT_EQ(readFile(path), body);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V.._.._x-a_b.zip"});
    EXPECT_FALSE(fs::exists(installRoot().parent_path() / "x-a"));
}

TEST(FileSha256, KnownDigestsAcrossReadBlocksAndAMissingFile) {
    const fs::path file = fs::temp_directory_path() / "tavro-sha256-test.bin";
    // Worked out apart from the program; the last one spans four 1 MiB reads.
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {pattern(3 * 1048576 + 5),
         "3d5e90e239d785b88c6961e5a31a0fda82ca1bd2da1f65ba62a50c98494ce101"},
    };
    for (const auto& [content, digest] : cases) {
        writeFile(file, content);
        std::string error;
        EXPECT_EQ(sha256OfFile(file, error), digest) << content.size();
        EXPECT_EQ(error, "");
    }
    fs::remove(file);
    std::string error;
    EXPECT_EQ(sha256OfFile(file, error), "");
    EXPECT_EQ(error, "CreateFileW failed: error 2");
}

// Held for the install, the package can be read (the expansion reads it) but not changed,
// renamed or deleted; with a digest its content is checked once it is held.
TEST(PackageHold, HeldPackageCanBeReadButNotSwappedAndItsDigestIsChecked) {
    const fs::path file = fs::temp_directory_path() / "tavro-hold-test.zip";
    writeFile(file, "abc");
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string error;
    {
        const FileHandle held = holdPackageForInstall(file, abc, error);
        ASSERT_TRUE(held) << error;
        EXPECT_EQ(readFile(file), "abc");
        const HANDLE writer =
            CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(DeleteFileW(file.c_str()));
        EXPECT_FALSE(MoveFileW(file.c_str(), (file.wstring() + L".old").c_str()));
    }
    EXPECT_TRUE(holdPackageForInstall(file, "", error));  // no digest: held, not checked
    writeFile(file, "abd");
    EXPECT_FALSE(holdPackageForInstall(file, abc, error));
    EXPECT_EQ(error.rfind("package digest mismatch: expected " + abc + ", got ", 0), 0u) << error;
    fs::remove(file);
    EXPECT_FALSE(holdPackageForInstall(file, "", error));
    EXPECT_EQ(error, "Cannot open the downloaded package " + file.string() + ": error 2");
}

TEST_F(DownloadPackage, CorrectDigestPassesInFourPartsOneStreamAndTheFallback) {
    const std::string body = pattern(2 * 1048576);
    Reply single = Reply::text(200, body);  // no Accept-Ranges
    Reply liar = single;
    liar.headers.emplace_back("Accept-Ranges", "bytes");  // but serves no ranges
    const std::vector<std::pair<Reply, std::vector<std::string>>> servers{
        {rangedPackage(body), {"Download parts: 4"}},
        {single, {"Download parts: 1"}},
        {liar,
         {"Download parts: 4",
          "Parallel download failed, retrying single download: Range not honoured: HTTP status "
          "200"}},
    };
    release_.sha256 = kTwoMebibyteDigest;
    for (const auto& [reply, lines] : servers) {
        SCOPED_TRACE(lines.back());
        fs::remove(package_);
        lines_.clear();
        server_.on("/pkg.zip", reply);
        EXPECT_EQ(download(), package_);
        EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
        EXPECT_EQ(lines_, lines);
        EXPECT_EQ(leftovers(), std::vector<std::string>{"Tavro-V2.4.1-812.zip"});
    }
}

TEST_F(DownloadPackage, WrongDigestLeavesNothingAndNamesBothDigests) {
    server_.on("/pkg.zip", rangedPackage(pattern(2 * 1048576)));
    const std::string wrong(64, 'a');
    for (const std::string& given : {wrong, std::string(64, 'A')}) {
        release_.sha256 = given;  // either case; the message shows lower case
        EXPECT_EQ(downloadError(), "Download failed: package digest mismatch: expected " + wrong +
                                       ", got " + kTwoMebibyteDigest);
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}

TEST_F(DownloadPackage, EarlierFileIsReusedOnlyWhenItsDigestMatches) {
    const std::string body = pattern(2 * 1048576);
    std::string sameSizeOtherBytes = body;
    sameSizeOtherBytes[1000] ^= 1;
    int headStatus = 200;
    server_.on("/pkg.zip", [&](const RecordedRequest& request) {
        if (request.method == "HEAD" && headStatus != 200) {
            return Reply::text(headStatus, "no HEAD here, 22 bytes");
        }
        return rangedPackage(body);
    });
    release_.sha256 = kTwoMebibyteDigest;
    const std::string removing =
        std::string("Removing old/partial package and downloading again: ") + kPackageText;
    const std::string mismatch =
        std::string("Existing package digest mismatch: expected ") + kTwoMebibyteDigest + ", got ";
    const std::string reused =
        std::string("Using existing downloaded package, SHA-256 matched: ") + kPackageText;
    fs::create_directories(downloadFolder());
    for (int status : {200, 404}) {  // a failed probe gives no size to compare
        SCOPED_TRACE(status);
        headStatus = status;
        writeFile(package_, sameSizeOtherBytes);
        lines_.clear();
        download();
        EXPECT_EQ(hashOf(readFile(package_)), hashOf(body));
        ASSERT_EQ(lines_.size(), 3u);
        EXPECT_EQ(lines_[0].rfind(mismatch, 0), 0u) << lines_[0];
        EXPECT_EQ(lines_[1], removing);

        const std::size_t requestsBefore = server_.requests().size();
        lines_.clear();
        download();
        EXPECT_EQ(lines_, std::vector<std::string>{reused});
        EXPECT_EQ(server_.requests().size(), requestsBefore + 1);  // the probe alone
    }
}

}  // namespace
}  // namespace tavro
