#pragma once

#include <windows.h>

namespace tavro {

// Base of the platform's handle traits: closing a handle leaves the thread's last error as it
// was, so `owner.reset(CreateFileW(...))` followed by GetLastError() reads the error of
// CreateFileW, not of the close (see UniqueResource::reset).
struct KeepsLastError {
    static DWORD saveError() noexcept { return GetLastError(); }
    static void restoreError(DWORD error) noexcept { SetLastError(error); }
};

}  // namespace tavro
