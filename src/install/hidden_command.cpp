#include "install/hidden_command.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

#include "core/text_convert.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

// The system folder ("C:\Windows\System32"), never a folder a user chose.
std::wstring systemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        throw std::runtime_error("The system folder cannot be found");
    }
    return std::wstring(folder, length);
}

}  // namespace

std::string systemProgram(const std::wstring& name) {
    std::string quoted(1, '"');
    quoted += toAnsi(systemFolder() + L"\\" + name);
    quoted += '"';
    return quoted;
}

int runHiddenCommand(const std::string& command) {
    std::wstring folder;
    try {
        folder = systemFolder();
    } catch (const std::runtime_error&) {
        return -1;
    }
    const std::wstring interpreter = folder + L"\\cmd.exe";
    std::string line(1, '"');
    line += toAnsi(interpreter);
    line += "\" /D /S /C \"";
    line += command;
    line += '"';
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    const std::string application = toAnsi(interpreter);
    const std::string current = toAnsi(folder);

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(application.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, current.c_str(), &startup, &info)) {
        return -1;
    }
    // Declared in this order so the thread handle is closed first.
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}

}  // namespace tavro
