#include "core/machine_record.h"

#include <windows.h>

#include "core/text_convert.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

// Build numbers and digests are short; a longer value is not one the installer wrote.
constexpr DWORD kLongestValueBytes = 512;

}  // namespace

MachineValue readMachineValue(const wchar_t* key, const wchar_t* name) {
    wchar_t value[kLongestValueBytes / sizeof(wchar_t)] = {};
    DWORD bytes = sizeof(value);
    // RegGetValueW opens and closes the key itself and always ends the text with a zero.
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        return {};
    }
    if (status != ERROR_SUCCESS) {
        return {MachineValue::State::unreadable, {}};
    }
    return {MachineValue::State::text, toUtf8(std::wstring(value))};
}

bool writeMachineValue(const wchar_t* key, const wchar_t* name, const std::string& text,
                       std::string& error) {
    RegKey opened;
    HKEY raw = nullptr;
    const LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE,
                                            nullptr, &raw, nullptr);
    if (created != ERROR_SUCCESS) {
        error = "RegCreateKeyEx failed (" + std::to_string(created) + ")";
        return false;
    }
    opened.reset(raw);
    const std::wstring wide = toWide(text);
    const LSTATUS status =
        RegSetValueExW(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        error = "RegSetValueEx failed (" + std::to_string(status) + ")";
        return false;
    }
    return true;
}

}  // namespace tavro
