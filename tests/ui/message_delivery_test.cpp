// What reaches the window from the workers when posting is refused now and then (as Windows
// refuses posts beyond a thread's queue quota): the messages that end a task still arrive and
// the window ends in the right state; progress comes at most once per shown whole percent.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "ui/message_post.h"
#include "ui/progress_adapters.h"
#include "ui/ui_messages.h"
#include "ui/window_state.h"
#include "ui/window_test_support.h"
#include "ui/workers.h"

namespace tavro {
namespace {

using namespace test;
using namespace std::chrono_literals;

WindowControls& controls() {
    return windowState.controls;
}

// Refuses the first attempt of every message (and counts the attempts), then posts for real.
std::atomic<int> attempts{0};
BOOL WINAPI refuseEveryOtherPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (attempts.fetch_add(1) % 2 == 0) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageA(window, message, wParam, lParam);
}

// Refuses every post of one message a number of times, then posts for real.
std::atomic<UINT> refusedMessage{0};
std::atomic<int> refusalsLeft{0};
BOOL WINAPI refuseOneMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == refusedMessage.load() && refusalsLeft.fetch_sub(1) > 0) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageA(window, message, wParam, lParam);
}

BOOL WINAPI refuseAll(HWND, UINT, WPARAM, LPARAM) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
}

// Records what would have been posted, and posts nothing.
std::mutex recordedMutex;
std::vector<std::pair<UINT, std::int32_t>> recorded;
BOOL WINAPI recordPost(HWND, UINT message, WPARAM wParam, LPARAM) {
    const std::lock_guard<std::mutex> lock(recordedMutex);
    recorded.emplace_back(message, static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam)));
    return TRUE;
}

// Puts a post call in for the test's time.
class PostCallInPlace {
  public:
    explicit PostCallInPlace(PostCall call) { replacePostCall(call); }
    ~PostCallInPlace() { replacePostCall(nullptr); }
};

// The real update worker, with no update folder: its log lines and its failure arrive although
// every message is refused once, and the window shows the failure, as it would without refusals.
TEST(MessageDelivery, AFailedUpdateReachesTheWindowWhenPostsAreRefused) {
    std::filesystem::remove_all(installRoot() / L"Update");
    MessageBoxCloser boxes;
    TestWindow window(true);  // its start message is already queued: the worker runs for real
    attempts = 0;
    const PostCallInPlace refusing(refuseEveryOtherPost);
    ASSERT_TRUE(boxes.waitFor("Tavro Updater failed", 30s));
    pumpFor(100ms);
    EXPECT_GT(attempts.load(), 20);
    ASSERT_TRUE(IsWindow(window.handle()));
    EXPECT_EQ(textOf(controls().updaterStatusLabel), "Update failed.");
    const std::string log = textOf(controls().logEdit);
    const std::string error =
        "Update source folder not found: " + pathToAnsi(installRoot() / L"Update" / L"Unpacked");
    EXPECT_EQ(log.rfind("Tavro updater started.\r\nStarting updater mode...\r\n", 0), 0u) << log;
    for (const char* line : {"Continuing in 5...\r\n", "Continuing in 1...\r\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(log.substr(log.size() - error.size() - 9), "ERROR: " + error + "\r\n");
    EXPECT_EQ(boxes.seen().back().text.rfind(error, 0), 0u);
}

// The end of a successful update, refused many times over, still closes the window.
TEST(MessageDelivery, UpdateDoneArrivesAfterManyRefusalsAndTheWindowCloses) {
    TestWindow window(true);
    const HWND w = window.handle();
    MSG start;
    ASSERT_TRUE(PeekMessageA(&start, w, MSG_UPDATE_START, MSG_UPDATE_START, PM_REMOVE));
    refusedMessage = MSG_UPDATE_DONE;
    refusalsLeft = 25;
    const PostCallInPlace refusing(refuseOneMessage);
    std::thread worker([w] { deliverSignal(w, MSG_UPDATE_DONE); });
    ASSERT_TRUE(
        pumpUntil([] { return textOf(controls().updaterStatusLabel) == "Update complete."; }, 10s));
    worker.join();
    EXPECT_LE(refusalsLeft.load(), 0);
    EXPECT_EQ(textOf(controls().updaterPercentLabel), "100%");
    EXPECT_TRUE(pumpUntil([w] { return !IsWindow(w); }, 3s));
}

// The real install worker with a package that is not there: its failure box, then the failure
// message, refused 20 times, still gives the buttons back.
TEST(MessageDelivery, AFailedInstallGivesTheButtonsBackWhenPostsAreRefused) {
    LocalApiServer api;
    MessageBoxCloser boxes;
    TestWindow window(false);
    ASSERT_TRUE(pumpUntil([] { return textOf(controls().statusLabel) == "Server OK"; }, 10s));
    for (HWND control :
         {controls().downloadButton, controls().installButton, controls().usbCheckBox}) {
        EnableWindow(control, FALSE);
    }
    appState.taskRunning = true;
    appState.packageReady = true;
    appState.packageFile = L"C:/Quendrel/Tavro/tmp/missing-package.zip";
    refusedMessage = MSG_TASK_FAILED;
    refusalsLeft = 20;
    const PostCallInPlace refusing(refuseOneMessage);
    startInstallWorker();
    ASSERT_TRUE(boxes.waitFor("Install failed", 30s));
    ASSERT_TRUE(pumpUntil([] { return !appState.taskRunning; }, 10s));
    EXPECT_LE(refusalsLeft.load(), 0);
    EXPECT_TRUE(enabled(controls().downloadButton));
    EXPECT_TRUE(enabled(controls().installButton));
    EXPECT_TRUE(enabled(controls().usbCheckBox));
}

// A window that is gone ends the retries at once, and the payload is freed by the poster.
TEST(MessageDelivery, RetriesEndWhenTheWindowIsGone) {
    struct Counted {
        explicit Counted(int& count) : count_(count) {}
        ~Counted() { ++count_; }
        int& count_;
    };
    HWND gone = nullptr;
    {
        TestWindow window(true);
        gone = window.handle();
    }
    const PostCallInPlace refusing(refuseAll);
    int destroyed = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(deliverPayload(gone, MSG_UPDATE_FAILED, std::make_unique<Counted>(destroyed)));
    EXPECT_FALSE(deliverSignal(gone, MSG_UPDATE_DONE));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(destroyed, 1);
}

// 30 000 files' progress: one message per whole percent, 0 to 100, in order, for the install's
// truncated and the update's rounded percent alike.
TEST(MessageDelivery, ProgressIsPostedOncePerShownPercent) {
    constexpr std::int32_t kFiles = 30000;
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "update" : "install");
        recorded.clear();
        {
            const PostCallInPlace recording(recordPost);
            const InstallCallback progress =
                update ? updateProgressAdapter() : installProgressAdapter();
            const InstallCallback copyOfIt = progress;  // the copy hands its own copy around
            progress(update ? InstallState{0, kFiles, 0.0} : InstallState{0, 100, 0.0});
            for (std::int32_t copied = 1; copied <= kFiles; ++copied) {
                (copied % 2 ? progress : copyOfIt)(makeInstallState(copied, kFiles));
            }
            progress(makeInstallState(kFiles, kFiles));
        }
        ASSERT_EQ(recorded.size(), 101u);
        for (std::size_t i = 0; i < recorded.size(); ++i) {
            EXPECT_EQ(recorded[i].first, update ? MSG_UPDATE_PROGRESS : MSG_INSTALL_PROGRESS);
            EXPECT_EQ(recorded[i].second, static_cast<std::int32_t>(i));
        }
    }
}

}  // namespace
}  // namespace tavro
