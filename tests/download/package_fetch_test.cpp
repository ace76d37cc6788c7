// The download logic with the transfers passed in: runs natively under ThreadSanitizer and
// AddressSanitizer as well as under Wine.
#include "download/package_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "download/progress_adapter.h"
#include "fs/package_digest.h"
#include "support/observed.h"
#include "support/test_files.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using test::pattern;
using test::readFile;
using test::writeFile;

// Stands for SHA-256 here: lower-case hex that differs when the bytes do (FNV-1a, four times).
class FakeDigestStream final : public DigestStream {
  public:
    bool add(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ = (hash_ ^ bytes[i]) * 1099511628211ull;
        }
        return true;
    }
    std::string finish(std::string&) override {
        unsigned char raw[8];
        for (int i = 0; i < 8; ++i) {
            raw[i] = static_cast<unsigned char>(hash_ >> (8 * i));
        }
        const std::string part = lowerHex(raw, sizeof(raw));
        return part + part + part + part;
    }

  private:
    std::uint64_t hash_ = 14695981039346656037ull;
};

std::string fakeDigest(const std::string& bytes) {
    FakeDigestStream stream;
    stream.add(bytes.data(), bytes.size());
    std::string ignored;
    return stream.finish(ignored);
}

std::string fakeDigestOf(const fs::path& file, std::string& error) {
    if (!fs::exists(file)) {
        error = "CreateFileW failed: error 2";
        return {};
    }
    return fakeDigest(readFile(file));
}

// fakeDigestOf, counting the passes over a whole file.
DigestFunction countingDigestOf(int& passes) {
    return [&passes](const fs::path& file, std::string& error) {
        ++passes;
        return fakeDigestOf(file, error);
    };
}

HeadResult rangedHead(std::uint64_t size) {
    HeadResult head;
    head.ok = true;
    head.contentLength = size;
    head.acceptRanges = true;
    return head;
}

// Stands for the server and downloadToFile: serves body in chunks from whatever thread calls.
struct FakeSource {
    std::string body;
    HeadResult head;
    // Whether recorded (an install's record of the package's digest) is offered for a reuse.
    bool recording = false;
    std::string recorded;
    std::size_t chunk = 8192;
    // Per range start: how that part misbehaves.
    std::map<std::uint64_t, std::string> failAt;     // returns false with this text
    std::map<std::uint64_t, std::uint64_t> shortAt;  // writes only this many bytes, returns true
    std::set<std::uint64_t> holdUntilStopped;        // blocks until stopTransfers
    std::chrono::milliseconds partDelay{0};          // before a range transfer starts
    std::map<std::uint64_t, std::chrono::milliseconds> delayAt;  // added for that part
    std::uint64_t wholeShortBy = 0;  // a whole transfer writes this much less
    // How transfers show their bytes to the written callback, per range start: the first bytes
    // written unseen (a part resumed from what an earlier run left); all bytes shown up to
    // there, then the file started again and shown from offset 0; or nothing shown at all.
    std::map<std::uint64_t, std::uint64_t> unseenHead;
    std::map<std::uint64_t, std::uint64_t> restartAfter;
    std::set<std::uint64_t> firstTwoChunksSwapped;  // shown second chunk first, each at its offset
    bool showNothing = false;
    std::string wholeError;                        // a whole transfer fails with this text
    AppendResult appendEnds = AppendResult::Done;  // what the merge's appending gives
    fs::path undeletableOnceMerged;  // this part file becomes a folder that cannot go once merged

    std::atomic<bool> stop{false};
    std::atomic<int> probes{0};
    std::atomic<int> running{0};
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;  // in call order

    bool transfer(std::uint64_t first, std::uint64_t last, const fs::path& target,
                  const ByteProgressCallback& progress, const WrittenBytesCallback& written,
                  std::string& error) {
        {
            std::lock_guard lock(mutex);
            ranges.emplace_back(first, last);
        }
        ++running;
        const bool ok = serve(first, last, target, progress, written, error);
        --running;
        return ok;
    }

    bool serve(std::uint64_t first, std::uint64_t last, const fs::path& target,
               const ByteProgressCallback& progress, const WrittenBytesCallback& written,
               std::string& error) {
        const bool whole = last == 0;
        std::uint64_t length = whole ? body.size() : last - first + 1;
        if (whole && !wholeError.empty()) {
            error = wholeError;
            return false;
        }
        if (!whole && holdUntilStopped.count(first)) {
            while (!stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (!whole) {
            std::this_thread::sleep_for(
                partDelay + (delayAt.count(first) ? delayAt[first] : std::chrono::milliseconds(0)));
        }
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (written && restartAfter.count(first)) {
            written(0, body.data() + first, restartAfter[first]);
        }
        if (whole && progress) {
            progress(0, length);
        }
        std::uint64_t toWrite = length;
        if (whole) {
            toWrite -= wholeShortBy;
        } else if (shortAt.count(first)) {
            toWrite = shortAt[first];
        }
        const bool fails = !whole && failAt.count(first);
        if (fails) {
            toWrite /= 2;
        }
        for (std::uint64_t done = 0; done < toWrite;) {
            if (stop.load()) {
                error = "Cancelled";
                return false;
            }
            const std::uint64_t n = std::min<std::uint64_t>(chunk, toWrite - done);
            const char* data = body.data() + first + done;
            out.write(data, static_cast<std::streamsize>(n));
            if (written && !showNothing && done >= unseenHead[first]) {
                const bool swapped = firstTwoChunksSwapped.count(first) != 0;
                if (!swapped || done > chunk) {
                    written(done, data, n);
                } else if (done == chunk) {
                    written(done, data, n);
                    written(0, body.data() + first, chunk);
                }
            }
            done += n;
            if (progress) {
                progress(n, length);
            }
        }
        if (fails) {
            error = failAt[first];
            return false;
        }
        return true;
    }

    PackageSource source() {
        PackageSource source;
        source.probe = [this] {
            ++probes;
            return head;
        };
        source.transfer = [this](std::uint64_t first, std::uint64_t last, const fs::path& target,
                                 ByteProgressCallback progress, const WrittenBytesCallback& written,
                                 std::string& error) {
            return transfer(first, last, target, progress, written, error);
        };
        source.stopTransfers = [this] { stop = true; };
        source.pathText = [](const fs::path& path) { return path.string(); };
        source.moveReplacing = [](const fs::path& from, const fs::path& to) {
            fs::rename(from, to);
        };
        source.appendFile = [this](const fs::path& from, const fs::path& to, const SeeBlock& see) {
            const std::string bytes = readFile(from);
            for (std::size_t at = 0; see && at < bytes.size(); at += 4096) {
                see(bytes.data() + at, std::min<std::size_t>(4096, bytes.size() - at));
            }
            std::ofstream(to, std::ios::binary | std::ios::app) << bytes;
            if (from == undeletableOnceMerged) {
                fs::remove(from);
                fs::create_directories(from / "keep");
            }
            return appendEnds;
        };
        source.startDigest = [](std::string&) { return std::make_unique<FakeDigestStream>(); };
        if (recording) {
            source.digestOf = fakeDigestOf;
            source.recordedDigest = [this](const fs::path&) { return recorded; };
        }
        return source;
    }

    // Serves bytes to a probe that reports their size and byte ranges.
    void servesWithRanges(std::string bytes) {
        body = std::move(bytes);
        head = rangedHead(body.size());
    }

    std::vector<std::pair<std::uint64_t, std::uint64_t>> requested() {
        std::lock_guard lock(mutex);
        return ranges;
    }
};

using Observed = test::Observed<DownloadState>;

class PackageFetch : public ::testing::Test {
  protected:
    fs::path fetch(FakeSource& fake) {
        return fetchPackage(package_, fake.source(), observed_.progress(), observed_.log());
    }
    // The text of the runtime error that the fetch ends with.
    std::string fetchError(FakeSource& fake) {
        try {
            fetch(fake);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no exception";
    }

    // Only the package itself is left in the folder.
    void expectOnlyPackageLeft() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"Tavro-V2.4.1-812.zip"});
    }

    // The index of the record {0, total, 0, 0, 0} that the restart publishes between the
    // attempts: after the parts' records, right before the fallback's own (0, length) record.
    std::size_t restartRecord(std::uint64_t total) {
        const auto records = observed_.records();
        const auto isZero = [total](const DownloadState& s) {
            return s.downloadedBytes == 0 && s.totalBytes == total && s.percent == 0.0 &&
                   s.downloadedMB == 0.0 && s.speedMBps == 0.0;
        };
        const auto at = static_cast<std::size_t>(
            std::find_if(records.begin(), records.end(), isZero) - records.begin());
        EXPECT_GT(at, 0u);
        EXPECT_TRUE(at + 1 < records.size() && isZero(records[at + 1]));
        return at;
    }

    test::ScratchFolder scratch_;
    const fs::path& folder_ = scratch_.path();
    const fs::path package_ = folder_ / "Tavro-V2.4.1-812.zip";
    Observed observed_;
};

TEST_F(PackageFetch, FourPartsWithExactRangesMergeIntoTheSameBytes) {
    FakeSource fake;
    fake.servesWithRanges(pattern(1048577));
    EXPECT_EQ(fetch(fake), package_);
    EXPECT_EQ(readFile(package_), fake.body);
    expectOnlyPackageLeft();

    auto ranges = fake.requested();
    std::sort(ranges.begin(), ranges.end());
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected{
        {0, 262143}, {262144, 524287}, {524288, 786431}, {786432, 1048576}};
    EXPECT_EQ(ranges, expected);
    EXPECT_EQ(observed_.lines(), std::vector<std::string>{"Download parts: 4"});

    // Records came from four threads; the total was known throughout and the last one is the
    // fixed record of the renamed package.
    const auto records = observed_.records();
    ASSERT_GT(records.size(), 4u);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        EXPECT_EQ(records[i].totalBytes, 1048577u);
        EXPECT_LE(records[i].percent, 100.0);
    }
    const DownloadState& last = records.back();
    EXPECT_EQ(last.downloadedBytes, 1048577u);
    EXPECT_EQ(last.totalBytes, 1048577u);
    EXPECT_EQ(last.percent, 100.0);
    EXPECT_DOUBLE_EQ(last.downloadedMB, 1048577 / 1048576.0);
    EXPECT_EQ(last.speedMBps, 0.0);
}

TEST_F(PackageFetch, OneStreamAtTheThresholdWithoutRangesOrAfterAFailedProbe) {
    FakeSource atThreshold;
    atThreshold.body = pattern(1048576);
    atThreshold.head = rangedHead(1048576);
    fetch(atThreshold);
    EXPECT_EQ(readFile(package_), atThreshold.body);
    EXPECT_EQ(atThreshold.requested(),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 0}}));
    EXPECT_EQ(observed_.lines(), std::vector<std::string>{"Download parts: 1"});

    fs::remove(package_);
    FakeSource noRanges;
    noRanges.servesWithRanges(pattern(3 * 1048576));
    noRanges.head.acceptRanges = false;
    fetch(noRanges);
    EXPECT_EQ(readFile(package_), noRanges.body);
    EXPECT_EQ(noRanges.requested().size(), 1u);

    // A failed probe's length (of its error page) is not the package's: the total comes from
    // the GET, and the percent stays under the cap until it does.
    fs::remove(package_);
    observed_.clear();
    FakeSource failedProbe;
    failedProbe.body = pattern(2 * 1048576);
    failedProbe.head.ok = false;
    failedProbe.head.contentLength = 150;
    failedProbe.head.acceptRanges = true;
    fetch(failedProbe);
    EXPECT_EQ(readFile(package_), failedProbe.body);
    ASSERT_FALSE(observed_.records().empty());
    EXPECT_EQ(observed_.records().front().totalBytes, 2u * 1048576u);
    for (const DownloadState& state : observed_.records()) {
        EXPECT_LE(state.percent, 100.0);
    }
}

TEST_F(PackageFetch, FailingPartFallsBackToOneStreamKeepingTheStartTime) {
    FakeSource fake;
    fake.servesWithRanges(pattern(4 * 1048576));
    fake.failAt[1048576] = "WinHttpReadData failed";
    fake.partDelay = std::chrono::milliseconds(300);
    fetch(fake);
    EXPECT_EQ(readFile(package_), fake.body);
    expectOnlyPackageLeft();
    EXPECT_EQ(observed_.lines(),
              (std::vector<std::string>{
                  "Download parts: 4",
                  "Parallel download failed, retrying single download: WinHttpReadData failed"}));

    // After the restart the count starts again but the speed still averages over the whole
    // time since the first attempt began (at least the 300 ms the parts took).
    const auto records = observed_.records();
    const std::size_t next = restartRecord(4 * 1048576) + 2;
    ASSERT_LT(next, records.size());
    EXPECT_LT(records[next].downloadedBytes, 1048576u);
    EXPECT_LE(records[next].speedMBps, records[next].downloadedMB / 0.3 + 1e-9);
}

TEST_F(PackageFetch, LastPartFailingAfterTheOthersEndedStillFallsBack) {
    FakeSource fake;
    fake.servesWithRanges(pattern(4 * 1048576));
    // Parts 0 to 2 have ended well while part 3 still runs, then fails: nothing is merged.
    fake.delayAt[3 * 1048576] = std::chrono::milliseconds(300);
    fake.failAt[3 * 1048576] = "WinHttpReadData failed";
    fetch(fake);
    EXPECT_EQ(readFile(package_), fake.body);
    expectOnlyPackageLeft();
    EXPECT_EQ(observed_.lines(),
              (std::vector<std::string>{
                  "Download parts: 4",
                  "Parallel download failed, retrying single download: WinHttpReadData failed"}));
    restartRecord(4 * 1048576);
}

TEST_F(PackageFetch, PartThatEndsShortIsNeverMerged) {
    FakeSource fake;
    fake.servesWithRanges(pattern(2 * 1048576));
    fake.shortAt[524288] = 1000;  // reports success with 1000 of 524288 bytes
    fetch(fake);
    EXPECT_EQ(readFile(package_), fake.body);
    EXPECT_EQ(observed_.lines(),
              (std::vector<std::string>{"Download parts: 4",
                                        "Parallel download failed, retrying single download: part "
                                        "1 received 1000 of 524288 bytes"}));
}

TEST_F(PackageFetch, TwoFailingPartsReportOneErrorText) {
    FakeSource fake;
    fake.servesWithRanges(pattern(2 * 1048576));
    fake.failAt[0] = "first failure";
    fake.failAt[1048576] = "second failure";
    fetch(fake);
    EXPECT_EQ(readFile(package_), fake.body);
    const std::string prefix = "Parallel download failed, retrying single download: ";
    const auto lines = observed_.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1] == prefix + "first failure" || lines[1] == prefix + "second failure")
        << lines[1];
}

TEST_F(PackageFetch, WrongSizeOrFailedStreamIsNeverRenamed) {
    FakeSource shortStream;
    shortStream.body = pattern(500000);
    shortStream.head = rangedHead(500000);
    shortStream.wholeShortBy = 10;
    EXPECT_EQ(fetchError(shortStream), "Download failed: received 499990 of 500000 bytes");
    EXPECT_FALSE(fs::exists(package_));

    // The fallback is held to the size just the same.
    FakeSource shortFallback;
    shortFallback.servesWithRanges(pattern(2 * 1048576));
    shortFallback.failAt[0] = "WinHttpReadData failed";
    shortFallback.wholeShortBy = 1;
    EXPECT_THROW(fetch(shortFallback), std::runtime_error);
    EXPECT_FALSE(fs::exists(package_));

    FakeSource failingFallback;
    failingFallback.servesWithRanges(pattern(2 * 1048576));
    failingFallback.failAt[0] = "WinHttpReadData failed";
    failingFallback.wholeError = "HTTP status 500";
    EXPECT_EQ(fetchError(failingFallback), "Download failed: HTTP status 500");
    EXPECT_FALSE(fs::exists(package_));

    // A merge that cannot write says so as the transfer does.
    FakeSource fullDisk;
    fullDisk.servesWithRanges(pattern(2 * 1048576));
    fullDisk.appendEnds = AppendResult::CannotWriteTarget;
    EXPECT_EQ(fetchError(fullDisk),
              "Download failed: Cannot write " + tempFilePath(package_).string());
    EXPECT_FALSE(fs::exists(package_));
}

TEST_F(PackageFetch, ASignedSizeMustBeWhatTheHostAnnouncesOrNothingIsFetched) {
    const auto signedFetchError = [this](FakeSource& fake, std::uint64_t signedSize) {
        try {
            fetchPackage(package_, fake.source(), observed_.progress(), observed_.log(), {},
                         signedSize);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    FakeSource larger;
    larger.servesWithRanges(pattern(2 * 1048576));
    writeFile(package_, pattern(2 * 1048576));  // a complete earlier download is not even looked at
    EXPECT_EQ(signedFetchError(larger, 2 * 1048576 - 1),
              "Download failed: the package host gives a size of 2097152 bytes; the release is "
              "signed for 2097151 bytes");
    EXPECT_TRUE(larger.ranges.empty());
    EXPECT_EQ(readFile(package_), pattern(2 * 1048576));

    FakeSource noHead;
    noHead.body = pattern(1000);
    noHead.head.error = "WinHttpSendRequest failed: 12029";
    EXPECT_EQ(signedFetchError(noHead, 1000),
              "Download failed: the package host gives no size (WinHttpSendRequest failed: "
              "12029); the release is signed for 1000 bytes");
    EXPECT_TRUE(noHead.ranges.empty());

    FakeSource exact;
    exact.servesWithRanges(pattern(2 * 1048576));
    fs::remove(package_);
    fetchPackage(package_, exact.source(), observed_.progress(), observed_.log(), {}, 2 * 1048576);
    EXPECT_EQ(readFile(package_), pattern(2 * 1048576));
}

TEST_F(PackageFetch, PartFileThatCannotBeDeletedStopsTheDownloadBeforeOrAfterItsMerge) {
    FakeSource fake;
    fake.servesWithRanges(pattern(2 * 1048576));
    // Parts 0 and 1 run until told to stop; part 2's stale file is a folder that cannot go.
    fake.holdUntilStopped = {0, 524288};
    fs::create_directories(partFilePath(package_, 2) / "keep");
    EXPECT_THROW(fetch(fake), fs::filesystem_error);
    EXPECT_TRUE(fake.stop.load());
    EXPECT_EQ(fake.running.load(), 0);  // both joined before the error left
    EXPECT_EQ(fake.requested().size(), 2u);
    EXPECT_FALSE(fs::exists(package_));

    // Part 1 is in the merged file but cannot be deleted: that failure ends the download too.
    fs::remove_all(partFilePath(package_, 2));
    FakeSource merged;
    merged.servesWithRanges(pattern(2 * 1048576));
    merged.undeletableOnceMerged = partFilePath(package_, 1);
    EXPECT_THROW(fetch(merged), fs::filesystem_error);
    EXPECT_EQ(merged.requested().size(), 4u);
    EXPECT_TRUE(fs::exists(partFilePath(package_, 1) / "keep"));
    EXPECT_FALSE(fs::exists(package_));
}

TEST_F(PackageFetch, LeftoversAreDeletedAndNeverReused) {
    FakeSource fake;
    fake.servesWithRanges(pattern(2 * 1048576));
    writeFile(tempFilePath(package_), fake.body);  // a whole-looking leftover is not trusted
    for (int i = 0; i < kParallelParts; ++i) {
        writeFile(partFilePath(package_, i), "stale part");
    }
    fetch(fake);
    EXPECT_EQ(readFile(package_), fake.body);
    expectOnlyPackageLeft();
    EXPECT_EQ(fake.requested().size(), 4u);

    // A single download leaves earlier part files where they are.
    fs::remove(package_);
    writeFile(partFilePath(package_, 3), "stale part");
    FakeSource small;
    small.body = pattern(1000);
    small.head = rangedHead(1000);
    fetch(small);
    EXPECT_EQ(readFile(package_), small.body);
    EXPECT_EQ(readFile(partFilePath(package_, 3)), "stale part");
}

TEST_F(PackageFetch, WithoutTheReleasesDigestOnlyTheBytesThisProgramInstalledAreReused) {
    const std::string path = package_.string();
    const std::string removing = "Removing old/partial package and downloading again: " + path;
    const std::string unvouched =
        "Existing package is not reused: neither the release nor an install of this program "
        "vouches for its bytes: " +
        path;
    const std::string body = pattern(5000);
    const std::string planted(5000, 'o');  // the right name and size, by another user
    struct Row {
        const char* what;
        std::string existing;
        std::uint64_t remote;
        std::string recorded;  // the digest this program's install recorded
        bool reused;
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows{
        {"planted, nothing recorded", planted, 5000, "", false, {unvouched, removing}},
        {"planted, no remote size", planted, 0, "", false, {unvouched, removing}},
        {"planted over a download",
         planted,
         5000,
         fakeDigest(body),
         false,
         {"Existing " + digestMismatchText(fakeDigest(body), fakeDigest(planted)), removing}},
        {"empty", "", 5000, "", false, {removing}},
        {"own download",
         body,
         5000,
         fakeDigest(body),
         true,
         {"Using existing downloaded package, SHA-256 matched the digest recorded when this "
          "program installed it: " +
          path}},
        {"own download, other remote size",
         body,
         6000,
         fakeDigest(body),
         false,
         {"Existing package name matched but size did not match remote size. Existing=5000 "
          "Remote=6000",
          removing}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeFile(package_, row.existing);
        FakeSource fake;
        fake.recording = true;
        fake.recorded = row.recorded;
        fake.body = row.remote == 6000 ? pattern(6000) : body;
        fake.head.ok = true;
        fake.head.contentLength = row.remote;
        Observed observed;
        EXPECT_EQ(fetchPackage(package_, fake.source(), observed.progress(), observed.log()),
                  package_);
        EXPECT_EQ(fake.probes.load(), 1);  // the probe is made in every case
        std::vector<std::string> expectedLines = row.lines;
        if (row.reused) {
            EXPECT_TRUE(fake.requested().empty());
            EXPECT_EQ(readFile(package_), row.existing);
            const auto records = observed.records();
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].downloadedBytes, 5000u);
            EXPECT_EQ(records[0].percent, 100.0);
        } else {
            EXPECT_EQ(readFile(package_), fake.body);
            expectedLines.push_back("Download parts: 1");
        }
        EXPECT_EQ(observed.lines(), expectedLines);
    }
}

TEST_F(PackageFetch, DigestIsCheckedAfterEveryKindOfTransferAndAMismatchLeavesNothing) {
    const std::string body = pattern(2 * 1048576);
    const auto fetchWith = [&](FakeSource& fake, const std::string& digest) {
        PackageSource source = fake.source();
        source.digestOf = fakeDigestOf;
        return fetchPackage(package_, source, observed_.progress(), observed_.log(), digest);
    };
    FakeSource parts;
    FakeSource fallback;
    fallback.failAt[1048576] = "WinHttpReadData failed";
    FakeSource single;
    single.head.ok = true;  // no ranges, no length
    for (FakeSource* fake : {&parts, &fallback, &single}) {
        fake->body = body;
        if (fake != &single) {
            fake->head = rangedHead(body.size());
        }
        fs::remove(package_);
        EXPECT_EQ(fetchWith(*fake, fakeDigest(body)), package_);
        EXPECT_EQ(readFile(package_), body);
        expectOnlyPackageLeft();
    }

    fs::remove(package_);
    FakeSource wrong;
    wrong.body = body;
    wrong.head = rangedHead(body.size());
    const std::string expected(64, 'e');
    try {
        fetchWith(wrong, expected);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Download failed: package digest mismatch: expected " +
                                             expected + ", got " + fakeDigest(body));
    }
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(PackageFetch, DigestIsTakenAsTheBytesAreWrittenAndTheFileIsHashedWhereThatCannotVouch) {
    const std::string body = pattern(2 * 1048576 + 3);
    const std::uint64_t part1 = body.size() / 4;
    struct Row {
        const char* name;
        std::function<void(FakeSource&, PackageSource&)> arrange;
        int fileHashes;  // passes over a whole file
    };
    const auto refusing = [](std::string&) {
        struct Refusing final : DigestStream {
            bool add(const void*, std::size_t) override { return false; }
            std::string finish(std::string&) override { return std::string(64, '0'); }
        };
        return std::unique_ptr<DigestStream>(std::make_unique<Refusing>());
    };
    const std::vector<Row> rows{
        {"four parts", [](FakeSource&, PackageSource&) {}, 0},
        {"one stream", [](FakeSource& f, PackageSource&) { f.head.acceptRanges = false; }, 0},
        {"fallback after a failed part",
         [part1](FakeSource& f, PackageSource&) { f.failAt[part1] = "WinHttpReadData failed"; }, 0},
        {"part 0 resumed after bytes already there",
         [](FakeSource& f, PackageSource&) { f.unseenHead[0] = 8192; }, 1},
        {"part 0 shown out of order",
         [](FakeSource& f, PackageSource&) { f.firstTwoChunksSwapped = {0}; }, 1},
        {"one stream started again",
         [](FakeSource& f, PackageSource&) {
             f.head.acceptRanges = false;
             f.restartAfter[0] = 5000;
         },
         1},
        {"a later part shown out of order",
         [part1](FakeSource& f, PackageSource&) { f.unseenHead[part1] = 8192; }, 0},
        {"transfers that show nothing", [](FakeSource& f, PackageSource&) { f.showNothing = true; },
         1},
        {"no streaming digest", [](FakeSource&, PackageSource& s) { s.startDigest = nullptr; }, 1},
        {"streaming digest cannot start",
         [](FakeSource&, PackageSource& s) {
             s.startDigest = [](std::string& error) {
                 error = "BCryptCreateHash failed";
                 return std::unique_ptr<DigestStream>();
             };
         },
         1},
        {"streaming digest refuses bytes",
         [refusing](FakeSource&, PackageSource& s) { s.startDigest = refusing; }, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(package_);
        FakeSource fake;
        fake.body = body;
        fake.head = rangedHead(body.size());
        PackageSource source = fake.source();
        int fileHashes = 0;
        source.digestOf = countingDigestOf(fileHashes);
        row.arrange(fake, source);
        EXPECT_EQ(
            fetchPackage(package_, source, observed_.progress(), observed_.log(), fakeDigest(body)),
            package_);
        EXPECT_EQ(fileHashes, row.fileHashes);
        EXPECT_EQ(readFile(package_), body);
        expectOnlyPackageLeft();

        // The same bytes under another digest are refused, however the digest was taken.
        fs::remove(package_);
        FakeSource again;
        again.body = body;
        again.head = rangedHead(body.size());
        source = again.source();
        source.digestOf = fakeDigestOf;
        row.arrange(again, source);
        EXPECT_THROW(fetchPackage(package_, source, observed_.progress(), observed_.log(),
                                  std::string(64, 'e')),
                     std::runtime_error);
        EXPECT_TRUE(fs::is_empty(folder_));
    }

    // An earlier package is vouched for by nothing but a pass over it.
    writeFile(package_, body);
    FakeSource fake;
    fake.body = body;
    fake.head = rangedHead(body.size());
    PackageSource source = fake.source();
    int fileHashes = 0;
    source.digestOf = countingDigestOf(fileHashes);
    fetchPackage(package_, source, observed_.progress(), observed_.log(), fakeDigest(body));
    EXPECT_EQ(fileHashes, 1);
    EXPECT_TRUE(fake.requested().empty());
}

TEST_F(PackageFetch, WithADigestAnEarlierFileIsReusedOnlyWhenItMatches) {
    const std::string body = pattern(5000);
    const std::string path = package_.string();
    std::string sameSize = body;
    sameSize[10] ^= 1;
    const std::string removing = "Removing old/partial package and downloading again: " + path;
    const std::string reused = "Using existing downloaded package, SHA-256 matched: " + path;
    struct Row {
        std::string existing;
        bool probeOk;
        std::uint64_t remote;
        bool reused;
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows{
        {body, true, 5000, true, {reused}},
        {body, true, 0, true, {reused}},
        {body, false, 22, true, {reused}},  // an error page's length is no size to compare
        {sameSize,
         true,
         5000,
         false,
         {"Existing package digest mismatch: expected " + fakeDigest(body) + ", got " +
              fakeDigest(sameSize),
          removing, "Download parts: 1"}},
        {body.substr(1),
         true,
         5000,
         false,
         {"Existing package name matched but size did not match remote size. Existing=4999 "
          "Remote=5000",
          removing, "Download parts: 1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines.front());
        writeFile(package_, row.existing);
        FakeSource fake;
        fake.body = body;
        fake.head.ok = row.probeOk;
        fake.head.contentLength = row.remote;
        PackageSource source = fake.source();
        source.digestOf = fakeDigestOf;
        Observed observed;
        fetchPackage(package_, source, observed.progress(), observed.log(), fakeDigest(body));
        EXPECT_EQ(observed.lines(), row.lines);
        EXPECT_EQ(fake.requested().empty(), row.reused);
        EXPECT_EQ(readFile(package_), body);
    }

    // A digest that cannot be computed is no match.
    writeFile(package_, body);
    FakeSource fake;
    fake.body = body;
    fake.head = rangedHead(5000);
    PackageSource source = fake.source();
    source.digestOf = [](const fs::path&, std::string& error) {
        error = "ReadFile failed: error 5";
        return std::string();
    };
    Observed observed;
    EXPECT_THROW(fetchPackage(package_, source, observed.progress(), observed.log(), "ab"),
                 std::runtime_error);  // nor can the new download's
    const std::vector<std::string> lines = observed.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Existing package digest could not be computed: ReadFile failed: error 5");
    EXPECT_EQ(lines[1], removing);
}

TEST_F(PackageFetch, ARefusedPathIsNeitherDeletedNorWrittenAndStartedPartsAreStopped) {
    FakeSource fake;
    fake.servesWithRanges(pattern(2 * 1048576));
    fake.holdUntilStopped = {0, 524288};
    writeFile(partFilePath(package_, 2), "stale part");
    PackageSource source = fake.source();
    source.checkPath = [this](const fs::path& path) {
        if (path == partFilePath(package_, 2)) {
            throw std::runtime_error("Download failed: refused " + path.filename().string());
        }
    };
    try {
        fetchPackage(package_, source, observed_.progress(), observed_.log());
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Download failed: refused Tavro-V2.4.1-812.zip.temp.part2");
    }
    EXPECT_TRUE(fake.stop.load());
    EXPECT_EQ(fake.running.load(), 0);
    EXPECT_EQ(fake.requested().size(), 2u);
    EXPECT_EQ(readFile(partFilePath(package_, 2)), "stale part");
    EXPECT_FALSE(fs::exists(package_));

    // A refused temporary file: no transfer at all, and the file stays as it was.
    FakeSource small;
    small.body = pattern(1000);
    small.head = rangedHead(1000);
    writeFile(tempFilePath(package_), "stale temp");
    source = small.source();
    source.checkPath = [this](const fs::path& path) {
        if (path == tempFilePath(package_)) {
            throw std::runtime_error("refused");
        }
    };
    EXPECT_THROW(fetchPackage(package_, source, observed_.progress(), observed_.log()),
                 std::runtime_error);
    EXPECT_TRUE(small.requested().empty());
    EXPECT_EQ(readFile(tempFilePath(package_)), "stale temp");
}

TEST(ProgressAdapter, ConcurrentChunksAddUpAndTheFirstLengthBecomesTheTotal) {
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> highest{0};
    ProgressAdapter adapter(
        [&](const DownloadState& state) {
            ++calls;
            std::uint64_t seen = highest.load();
            while (state.downloadedBytes > seen &&
                   !highest.compare_exchange_weak(seen, state.downloadedBytes)) {
            }
            EXPECT_LE(state.percent, 100.0);
        },
        0);
    adapter.start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&adapter] {
            const ByteProgressCallback callback = adapter.callback();
            for (int i = 0; i < 1000; ++i) {
                callback(100, 400000);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(calls.load(), 4000u);
    EXPECT_EQ(adapter.downloaded(), 400000u);
    EXPECT_EQ(highest.load(), 400000u);
    EXPECT_EQ(adapter.total(), 400000u);
    adapter.onBytes(0, 999);  // a later length does not replace the total
    EXPECT_EQ(adapter.total(), 400000u);
}

TEST(ProgressAdapter, UnknownTotalIsCappedAndRestartKeepsTheTotal) {
    std::vector<DownloadState> records;
    ProgressAdapter adapter([&](const DownloadState& state) { records.push_back(state); }, 0);
    adapter.start();
    adapter.onBytes(20971520, 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_DOUBLE_EQ(records[0].percent, 50.0);
    EXPECT_EQ(records[0].totalBytes, 0u);
    adapter.onBytes(400u * 1048576u, 0);
    EXPECT_EQ(records.back().percent, 95.0);

    ProgressAdapter known([&](const DownloadState& state) { records.push_back(state); }, 1000);
    known.start();
    known.onBytes(600, 1000);
    known.restart();
    const DownloadState& reset = records.back();
    EXPECT_EQ(reset.downloadedBytes, 0u);
    EXPECT_EQ(reset.totalBytes, 1000u);
    EXPECT_EQ(reset.percent, 0.0);
    EXPECT_EQ(reset.speedMBps, 0.0);
    known.onBytes(250, 1000);
    EXPECT_EQ(records.back().downloadedBytes, 250u);
    EXPECT_DOUBLE_EQ(records.back().percent, 25.0);
}

}  // namespace
}  // namespace tavro
