#include "api/machine_identity.h"

#include <windows.h>

#include <sstream>

#include "core/text_convert.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

constexpr DWORD kNameUnits = 256;
constexpr DWORD kGuidBytes = 512;

std::wstring computerName() {
    wchar_t name[kNameUnits] = {};
    DWORD size = kNameUnits;
    if (!GetComputerNameW(name, &size)) {
        return {};
    }
    return name;
}

DWORD systemVolumeSerial() {
    DWORD serial = 0;
    GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

// The machine GUID, or empty. Only a value that was read whole is used, and it is read within
// the buffer: a value of 256 units or more (no room for the terminator) counts as absent.
std::wstring machineGuid() {
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                      KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t buffer[kGuidBytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD bytes = kGuidBytes;
    const LSTATUS status = RegQueryValueExW(key.get(), L"MachineGuid", nullptr, &type,
                                            reinterpret_cast<BYTE*>(buffer), &bytes);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    const std::wstring_view read(buffer, bytes / sizeof(wchar_t));
    const std::wstring_view text = read.substr(0, read.find(L'\0'));
    if (text.size() >= std::size(buffer)) {
        return {};
    }
    return std::wstring(text);
}

DWORD osBuildNumber() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);  // 284: the UTF-16 record
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // the compatibility build number is what is wanted
#endif
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    return info.dwBuildNumber;
}

}  // namespace

std::string getPcSerialNumber() {
    std::wstring serial = computerName() + L"-" + std::to_wstring(systemVolumeSerial());
    const std::wstring guid = machineGuid();
    if (!guid.empty()) {
        serial += L"-" + guid;
    }
    std::string utf8 = toUtf8(serial);
    return utf8.empty() ? "WindowsSerialUnknown" : utf8;
}

std::string getPcInformation() {
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    const std::string name = toUtf8(computerName());
    const DWORD build = osBuildNumber();

    std::ostringstream text;
    text << "ComputerName:" << name << ",Architecture:" << system.wProcessorArchitecture
         << ",NumberOfLogicalProcessors:" << system.dwNumberOfProcessors
         << ",BuildNumber:" << build;
    return text.str();
}

}  // namespace tavro
