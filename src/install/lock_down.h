#pragma once

#include <cstddef>
#include <string>

namespace tavro {

// Whether the machine policy asks for the lock-down (see kPolicyKey). A value that exists but is
// not a REG_DWORD counts as set: the administrator meant something, and locked is the safe side.
bool lockDownPolicySet();

// Gives the install root and every program file and folder below it, but those that stay
// writable (staysWritableUnderLockDown), the locked-down descriptor. Each is opened through held
// folders and set through its own handle (SetKernelObjectSecurity), which changes that object
// alone: nothing is propagated by path, so a link or junction planted below is never followed
// and never receives the descriptor (links are skipped and counted). Returns how many objects were
// set; throws std::runtime_error, LinkRefused or std::filesystem::filesystem_error.
struct LockDownCount {
    std::size_t set = 0;
    std::size_t linksSkipped = 0;
};
LockDownCount lockDownInstallRoot();

}  // namespace tavro
