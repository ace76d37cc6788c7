#include "net/download_to_file.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/observed.h"
#include "support/test_files.h"
#include "support/test_http_server.h"
#include "support/timeouts.h"

namespace tavro {
namespace {

using test::pattern;
using test::readFile;
using test::RecordedRequest;
using test::Reply;
using test::TestHttpServer;

// A scratch folder of its own for each test.
class DownloadToFile : public ::testing::Test {
  protected:
    std::filesystem::path target() const { return folder_ / "out.bin"; }

    // Every progress call, in order, and the bytes they counted.
    using Calls = test::Observed<std::pair<std::uint64_t, std::uint64_t>>;
    static ByteProgressCallback recordInto(Calls& calls) {
        return [record = calls.progress()](std::uint64_t bytes, std::uint64_t length) {
            record({bytes, length});
        };
    }
    static std::uint64_t bytesOf(const Calls& calls) {
        std::uint64_t sum = 0;
        for (const auto& call : calls.records()) {
            sum += call.first;
        }
        return sum;
    }

    std::atomic<bool> paused_{false};
    std::atomic<bool> cancelled_{false};
    test::ScratchFolder scratch_;
    const std::filesystem::path& folder_ = scratch_.path();
};

TEST_F(DownloadToFile, WholeResourceArrivesWithLengthFirstThenEveryWrite) {
    TestHttpServer server;
    const std::string body = pattern(700000);
    server.on("/pkg.zip", Reply::text(200, body));
    Calls calls;
    std::string error;
    ASSERT_TRUE(downloadToFile(server.url("/pkg.zip"), 0, 0, target(), &paused_, &cancelled_,
                               recordInto(calls), error))
        << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(target()), body);
    const auto list = calls.records();
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], std::make_pair(std::uint64_t{0}, std::uint64_t{700000}));
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_GT(list[i].first, 0u);
        EXPECT_EQ(list[i].second, 700000u);
    }
    EXPECT_EQ(bytesOf(calls), body.size());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    EXPECT_EQ(requests[0].header("User-Agent"), "TavroInstaller/3.0");

    // rangeStart without rangeEnd asks for the whole resource too.
    ASSERT_TRUE(
        downloadToFile(server.url("/pkg.zip"), 500, 0, target(), &paused_, &cancelled_, {}, error));
    EXPECT_EQ(readFile(target()), body);
    EXPECT_FALSE(server.requests().back().hasHeader("Range"));
}

TEST_F(DownloadToFile, RangeIsRequestedAndWrittenFromTheStartOfTheTarget) {
    TestHttpServer server;
    const std::string body = pattern(2 * 1048576);
    Reply reply = Reply::text(200, body);
    reply.honourRanges = true;
    server.on("/pkg.zip", reply);
    Calls calls;
    std::string error;
    ASSERT_TRUE(downloadToFile(server.url("/pkg.zip"), 0, 1048575, target(), &paused_, &cancelled_,
                               recordInto(calls), error))
        << error;
    EXPECT_EQ(readFile(target()), body.substr(0, 1048576));
    ASSERT_TRUE(downloadToFile(server.url("/pkg.zip"), 1048576, 1500000, target(), &paused_,
                               &cancelled_, recordInto(calls), error))
        << error;
    EXPECT_EQ(readFile(target()), body.substr(1048576, 1500000 - 1048576 + 1));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Range"), "bytes=0-1048575");
    EXPECT_EQ(requests[1].header("Range"), "bytes=1048576-1500000");
    // Range requests make no initial (0, length) call; the length is the range's.
    for (const auto& call : calls.records()) {
        EXPECT_GT(call.first, 0u);
    }
    EXPECT_EQ(calls.records().front().second, 1048576u);
    EXPECT_EQ(calls.records().back().second, 1500000u - 1048576u + 1u);
}

TEST_F(DownloadToFile, ErrorStatusFailsAndWritesNothing) {
    TestHttpServer server;
    server.on("/gone", Reply::text(404, "<html>not here</html>"));
    server.on("/broken", Reply::text(500, "<html>oops</html>"));
    std::string error;
    EXPECT_FALSE(
        downloadToFile(server.url("/gone"), 0, 0, target(), &paused_, &cancelled_, {}, error));
    EXPECT_EQ(error, "HTTP status 404");
    EXPECT_FALSE(std::filesystem::exists(target()));
    error.clear();
    EXPECT_FALSE(
        downloadToFile(server.url("/broken"), 0, 1000, target(), &paused_, &cancelled_, {}, error));
    EXPECT_EQ(error, "HTTP status 500");
    EXPECT_FALSE(std::filesystem::exists(target()));
}

TEST_F(DownloadToFile, RangeAnsweredWithoutTheMatchingPartialContentFails) {
    TestHttpServer server;
    const std::string body = pattern(300000);
    server.on("/ignores", Reply::text(200, body));  // whole body, status 200
    server.on("/other-range", [&body](const RecordedRequest&) {
        Reply reply = Reply::text(206, body.substr(0, 1000));
        reply.headers.emplace_back("Content-Range", "bytes 0-999/300000");
        return reply;
    });
    server.on("/no-content-range", Reply::text(206, body.substr(1000, 1000)));
    std::string error;
    EXPECT_FALSE(downloadToFile(server.url("/ignores"), 1000, 1999, target(), &paused_, &cancelled_,
                                {}, error));
    EXPECT_EQ(error, "Range not honoured: HTTP status 200");
    EXPECT_FALSE(downloadToFile(server.url("/other-range"), 1000, 1999, target(), &paused_,
                                &cancelled_, {}, error));
    EXPECT_EQ(error, "Range not honoured: Content-Range bytes 0-999/300000");
    EXPECT_FALSE(downloadToFile(server.url("/no-content-range"), 1000, 1999, target(), &paused_,
                                &cancelled_, {}, error));
    EXPECT_EQ(error, "Range not honoured: no Content-Range");
}

TEST_F(DownloadToFile, ShortBodiesFail) {
    TestHttpServer server;
    const std::string body = pattern(400000);
    Reply cut = Reply::text(200, body);
    cut.cutAfterBytes = 100000;  // announces 400000, then closes
    server.on("/cut", cut);
    server.on("/short-206", [&body](const RecordedRequest&) {
        // The right Content-Range, but only part of the range in the body.
        Reply reply = Reply::text(206, body.substr(0, 500));
        reply.headers.emplace_back("Content-Range", "bytes 0-999/400000");
        return reply;
    });
    std::string error;
    EXPECT_FALSE(
        downloadToFile(server.url("/cut"), 0, 0, target(), &paused_, &cancelled_, {}, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(downloadToFile(server.url("/short-206"), 0, 999, target(), &paused_, &cancelled_,
                                {}, error));
    EXPECT_EQ(error, "Transfer ended after 500 of 1000 bytes");
}

TEST_F(DownloadToFile, UnframedBodyReportsLengthZero) {
    TestHttpServer server;
    const std::string body = pattern(200000);
    Reply reply = Reply::text(200, body);
    reply.sendContentLength = false;
    server.on("/unframed", reply);
    Calls calls;
    std::string error;
    ASSERT_TRUE(downloadToFile(server.url("/unframed"), 0, 0, target(), &paused_, &cancelled_,
                               recordInto(calls), error))
        << error;
    EXPECT_EQ(readFile(target()), body);
    for (const auto& call : calls.records()) {
        EXPECT_GT(call.first, 0u);
        EXPECT_EQ(call.second, 0u);
    }
}

TEST_F(DownloadToFile, CancelBeforeTheCallStillAsksThenLeavesAnEmptyFile) {
    TestHttpServer server;
    server.on("/pkg.zip", Reply::text(200, pattern(100000)));
    cancelled_ = true;
    std::string error = "earlier text";
    EXPECT_FALSE(
        downloadToFile(server.url("/pkg.zip"), 0, 0, target(), &paused_, &cancelled_, {}, error));
    EXPECT_EQ(error, "Cancelled");
    EXPECT_EQ(server.requests().size(), 1u);
    ASSERT_TRUE(std::filesystem::exists(target()));
    EXPECT_EQ(std::filesystem::file_size(target()), 0u);
}

TEST_F(DownloadToFile, CancelDuringTheTransferStopsIt) {
    TestHttpServer server;
    Reply slow = Reply::text(200, pattern(4 * 1048576));
    slow.bytesPerSecond = 4 * 1048576;
    server.on("/pkg.zip", slow);
    std::string error;
    const bool ok = downloadToFile(
        server.url("/pkg.zip"), 0, 0, target(), &paused_, &cancelled_,
        [this](std::uint64_t bytes, std::uint64_t) {
            if (bytes > 0) {
                cancelled_ = true;
            }
        },
        error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "Cancelled");
    EXPECT_GT(std::filesystem::file_size(target()), 0u);
    EXPECT_LT(std::filesystem::file_size(target()), 4u * 1048576u);
}

TEST_F(DownloadToFile, PauseHoldsReadsAndResumesOnTheSameConnection) {
    TestHttpServer server;
    const std::string body = pattern(3 * 1048576);
    Reply slow = Reply::text(200, body);
    slow.bytesPerSecond = 6 * 1048576;
    server.on("/pkg.zip", slow);
    Calls calls;
    std::string error;
    bool ok = false;
    std::thread transfer([&] {
        ok = downloadToFile(server.url("/pkg.zip"), 0, 0, target(), &paused_, &cancelled_,
                            recordInto(calls), error);
    });
    while (bytesOf(calls) < 200000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    paused_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // lets a read in flight end
    const std::size_t held = calls.records().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(calls.records().size(), held);  // no read while paused
    paused_ = false;
    transfer.join();
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(readFile(target()), body);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(DownloadToFile, UnwritableTargetsFail) {
    TestHttpServer server;
    server.on("/pkg.zip", Reply::text(200, pattern(300000)));
    std::string error;
    const std::filesystem::path missingFolder = folder_ / "no-such-folder" / "out.bin";
    EXPECT_FALSE(downloadToFile(server.url("/pkg.zip"), 0, 0, missingFolder, &paused_, &cancelled_,
                                {}, error));
    EXPECT_EQ(error, "Cannot write " + missingFolder.string());
    // A device that is always full: every write fails as on a full disk, and no byte counts.
    const std::filesystem::path full = L"Z:\\dev\\full";
    Calls calls;
    EXPECT_FALSE(downloadToFile(server.url("/pkg.zip"), 0, 0, full, &paused_, &cancelled_,
                                recordInto(calls), error));
    EXPECT_EQ(error, "Cannot write Z:\\dev\\full");
    EXPECT_EQ(bytesOf(calls), 0u);
}

TEST_F(DownloadToFile, SilentOrStalledServerFailsOnTime) {
    TestHttpServer server;
    server.on("/silent", Reply::silence());
    Reply stalled = Reply::text(200, pattern(500000));
    stalled.stallAfterBytes = 100000;
    server.on("/stalled", stalled);
    RequestTimeouts shortTimeouts = kTransferTimeouts;
    shortTimeouts.receiveMs = 1000;
    shortTimeouts.responseHeadersMs = 1000;

    auto start = std::chrono::steady_clock::now();
    std::string error;
    EXPECT_FALSE(downloadToFile(server.url("/silent"), 0, 0, target(), &paused_, &cancelled_, {},
                                error, shortTimeouts));
    EXPECT_TRUE(test::isPlatformTimeoutError(error, "Download request failed: ")) << error;
    EXPECT_LT(test::secondsSince(start), 10.0);

    start = std::chrono::steady_clock::now();
    error.clear();
    EXPECT_FALSE(downloadToFile(server.url("/stalled"), 0, 0, target(), &paused_, &cancelled_, {},
                                error, shortTimeouts));
    EXPECT_FALSE(error.empty());
    EXPECT_LT(test::secondsSince(start), 10.0);
}

}  // namespace
}  // namespace tavro
