#include "api/installed_build.h"

#include <windows.h>

#include "core/product_registry.h"
#include "core/text_convert.h"

namespace tavro {

namespace {

// Build numbers are short; a longer value is not one the installer wrote.
constexpr DWORD kLongestValueBytes = 512;

}  // namespace

std::optional<std::string> installedBuildNumber() {
    wchar_t value[kLongestValueBytes / sizeof(wchar_t)] = {};
    DWORD bytes = sizeof(value);
    // RegGetValueW opens and closes the key itself and always ends the text with a zero.
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kProductKey, kBuildNumberValue,
                                        RRF_RT_REG_SZ, nullptr, value, &bytes);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return toUtf8(std::wstring(value));
}

}  // namespace tavro
