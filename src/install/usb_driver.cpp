#include "install/usb_driver.h"

#include <windows.h>

#include "core/win_handles.h"

namespace tavro {

bool launchUsbDriverInstaller(const std::filesystem::path& toolFolder, std::string& error) {
    const std::filesystem::path tool = toolFolder / L"zadig-2.3.exe";
    if (!std::filesystem::exists(tool)) {
        return true;
    }
    // The whole path quoted: the folder name holds a blank.
    std::wstring commandLine = L"\"" + tool.native() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        toolFolder.c_str(), &startup, &info)) {
        error = "Could not start USB driver installer";
        return false;
    }
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    return true;
}

}  // namespace tavro
