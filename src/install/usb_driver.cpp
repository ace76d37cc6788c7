#include "install/usb_driver.h"

#include <windows.h>

#include <filesystem>

#include "core/win_handles.h"
#include "install/install_paths.h"

namespace tavro {

bool launchUsbDriverInstaller(std::string& error) {
    const std::filesystem::path tool = installRoot() / L"USB Driver" / L"zadig-2.3.exe";
    if (!std::filesystem::exists(tool)) {
        return true;
    }
    // The whole path quoted: the folder name holds a blank.
    std::wstring commandLine = L"\"" + tool.native() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        error = "Could not start USB driver installer";
        return false;
    }
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    return true;
}

}  // namespace tavro
