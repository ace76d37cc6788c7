#pragma once

namespace tavro {

// Where an install is recorded for the current user: HKEY_CURRENT_USER\SOFTWARE\Tavro with the
// install root ("AppDirectory") and the installed build ("BuildNumber"), both REG_SZ.
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tavro";
inline constexpr wchar_t kAppDirectoryValue[] = L"AppDirectory";
inline constexpr wchar_t kBuildNumberValue[] = L"BuildNumber";

}  // namespace tavro
