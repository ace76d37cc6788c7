#include "install/registry_records.h"

#include <windows.h>

#include "core/text_convert.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

// Creates or opens the key, sets one REG_SZ value (with its terminating zero) and closes the
// key again.
bool setStringValue(const wchar_t* name, const std::wstring& data, std::string& error) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS) {
        error = "RegCreateKeyEx failed";
        return false;
    }
    RegKey key(opened);
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(key.get(), name, 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    key.reset();
    if (status != ERROR_SUCCESS) {
        error = "RegSetValueEx failed";
        return false;
    }
    return true;
}

}  // namespace

bool writeRegistryRecords(const std::string& buildNumber, const std::filesystem::path& installRoot,
                          std::string& error) {
    if (!setStringValue(L"AppDirectory", installRoot.native(), error)) {
        return false;
    }
    return setStringValue(L"BuildNumber", toWide(buildNumber), error);
}

}  // namespace tavro
