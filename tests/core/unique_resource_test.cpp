// Closing an owned handle must not hide the error of the call whose handle is taken over.
#include "core/unique_resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "core/last_error.h"
#include "core/win_handles.h"
#include "support/test_files.h"

namespace tavro {
namespace {

// A handle whose close always fails, as closing a handle the platform no longer knows does.
struct FailingCloseTraits : KeepsLastError {
    using type = int;
    static type invalid() noexcept { return 0; }
    static void close(type) noexcept { SetLastError(ERROR_INVALID_HANDLE); }
};
using FailingClose = UniqueResource<FailingCloseTraits>;

FileHandle openExisting(const std::filesystem::path& file) {
    return FileHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(UniqueResource, ACloseThatFailsLeavesTheErrorOfTheCallBeforeIt) {
    FailingClose owned(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
    owned.reset(2);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    SetLastError(ERROR_PATH_NOT_FOUND);
    FailingClose other(3);
    owned = std::move(other);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    SetLastError(ERROR_ACCESS_DENIED);
    { const FailingClose scoped(4); }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(UniqueResource, ResetOverAnOpenFileKeepsTheErrorOfTheFailedOpen) {
    const test::ScratchFolder scratch;
    test::writeFile(scratch.path() / L"there.txt", "there");
    FileHandle file = openExisting(scratch.path() / L"there.txt");
    ASSERT_TRUE(file);
    file.reset(CreateFileW((scratch.path() / L"missing.txt").c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(file);
}

}  // namespace
}  // namespace tavro
