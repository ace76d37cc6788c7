#pragma once

#include <string>
#include <string_view>

namespace tavro {

// The machine policy an administrator sets for a fleet: HKLM\SOFTWARE\Policies\Tavro, REG_DWORD
// "LockDown" other than 0. Then no user can change the product's programs: the elevated install
// gives the program files and folders the descriptors below, and the updater refuses to run.
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Tavro";
inline constexpr wchar_t kLockDownValue[] = L"LockDown";

// The descriptor of a locked-down folder (folder true) or file, in SDDL: owned by the
// administrators; the system and the administrators have full control, users read and execute
// (0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE); protected, so nothing the install root's
// parent grants (every user may change C:/Quendrel) is inherited. A folder's entries inherit it.
std::wstring lockedDownSddl(bool folder);

// Whether an entry directly below the install root stays as it is: the product's data folders
// (which users fill), the log folder (every run writes it) and the download folder. Letters are
// compared without case, as the file system does.
bool staysWritableUnderLockDown(std::wstring_view nameBelowRoot);

}  // namespace tavro
