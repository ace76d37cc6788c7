#include "install/registry_records.h"

#include <windows.h>

#include "core/product_registry.h"
#include "core/text_convert.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

// Creates or opens the key, sets one REG_SZ value (with its terminating zero) and closes the
// key again.
bool setStringValue(const wchar_t* name, const std::wstring& data, std::string& error) {
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
        error = "RegCreateKeyEx failed";
        return false;
    }
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

bool removedOrAbsent(LSTATUS status) {
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::string productKeyText() {
    std::string text = "HKEY_CURRENT_USER\\";
    text += toUtf8(kProductKey);
    return text;
}

// Whether the product key holds nothing (no values, no subkeys); false when it cannot be read.
bool productKeyIsEmpty() {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    const LSTATUS status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS && subKeys == 0 && values == 0;
}

}  // namespace

bool writeRegistryRecords(const std::string& buildNumber, const std::filesystem::path& installRoot,
                          std::string& error) {
    if (!setStringValue(kAppDirectoryValue, installRoot.native(), error)) {
        return false;
    }
    return setStringValue(kBuildNumberValue, toWide(buildNumber), error);
}

std::vector<RegistryLeft> removeRegistryRecords() {
    std::vector<RegistryLeft> left;
    for (const wchar_t* name : {kAppDirectoryValue, kBuildNumberValue}) {
        const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, name);
        if (!removedOrAbsent(status)) {
            std::string value = productKeyText();
            value += '\\';
            value += toUtf8(name);
            left.push_back({std::move(value), status});
        }
    }
    if (productKeyIsEmpty()) {  // nothing of others in it
        const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
        if (!removedOrAbsent(status)) {
            left.push_back({productKeyText(), status});
        }
    }
    return left;
}

}  // namespace tavro
