#pragma once

#include <string>

namespace tavro {

// What the installer keeps for the whole machine where only administrators can write:
// HKEY_LOCAL_MACHINE\SOFTWARE\Tavro (this 64-bit program sees the 64-bit view). Standard users may
// read it; the install root, the download folder and the user's own HKCU values are all writable by
// someone else.
inline constexpr wchar_t kMachineKey[] = L"SOFTWARE\\Tavro";
// The highest build an elevated install accepted (REG_SZ, decimal digits).
inline constexpr wchar_t kBuildFloorValue[] = L"BuildFloor";
// Below kMachineKey: one REG_SZ per package file name in the download folder, the SHA-256
// (lower-case hex) of the bytes this program's install last read from it, holding it without
// write sharing.
inline constexpr wchar_t kDownloadDigestsKey[] = L"SOFTWARE\\Tavro\\DownloadDigests";

struct MachineValue {
    enum class State { absent, text, unreadable };
    State state = State::absent;
    std::string text;  // UTF-8, when state is text
};

// A REG_SZ value under HKLM: absent when the key or value does not exist; unreadable when it
// exists but is not a string of sensible length or cannot be read (the caller fails closed).
MachineValue readMachineValue(const wchar_t* key, const wchar_t* name);

// Writes a REG_SZ value under HKLM, creating the key; false with the reason in error when it
// cannot (an unelevated run cannot).
bool writeMachineValue(const wchar_t* key, const wchar_t* name, const std::string& text,
                       std::string& error);

}  // namespace tavro
