#include "update/product_processes.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <vector>

#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/hidden_command.h"

namespace tavro {

namespace {

// Ends every process of that image name in this session (another user's Tavro and its unsaved
// work are not this program's to end), with the processes it started.
void endInThisSession(const char* image) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    runHiddenCommand(systemProgram(L"taskkill.exe") + " /f /t /fi \"SESSION eq " +
                     std::to_string(session) + "\" /im " + image + " >nul 2>nul");
}

bool isProductImage(const wchar_t* image) {
    return _wcsicmp(image, L"Tavro.exe") == 0 || _wcsicmp(image, L"Ostrilan.exe") == 0;
}

// Waits for process until deadline; true when it has ended.
bool endedBy(HANDLE process, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    return WaitForSingleObject(process, wait) == WAIT_OBJECT_0;
}

}  // namespace

std::vector<KernelHandle> openProductProcesses() {
    std::vector<KernelHandle> processes;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    // A failed snapshot is INVALID_HANDLE_VALUE, which FileHandle knows as empty.
    const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return processes;  // nothing to wait on: the countdown then passes at once
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        DWORD itsSession = 0;
        if (!isProductImage(entry.szExeFile) ||
            !ProcessIdToSessionId(entry.th32ProcessID, &itsSession) || itsSession != session) {
            continue;
        }
        KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process) {
            processes.push_back(std::move(process));
        }
    }
    return processes;
}

bool waitForProcessesToEnd(const std::vector<KernelHandle>& processes, const LogCallback& log,
                           std::chrono::milliseconds step) {
    std::size_t ended = 0;  // processes[0, ended) have ended
    for (int n = 5; n >= 1; --n) {
        if (log) {
            log("Continuing in " + std::to_string(n) + "...");
        }
        const auto deadline = std::chrono::steady_clock::now() + step;
        while (ended < processes.size() && endedBy(processes[ended].get(), deadline)) {
            ++ended;
        }
    }
    return ended == processes.size();
}

bool closeRunningApps(LogCallback log, std::string& error) {
    const LogCallback logSink = std::move(log);
    try {
        if (logSink) {
            logSink("Requesting Tavro.exe to close...");
        }
        endInThisSession("Tavro.exe");
        if (logSink) {
            logSink("Requesting Ostrilan.exe to close...");
        }
        endInThisSession("Ostrilan.exe");
        error.clear();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

bool openApplication(LogCallback log, std::string& error) {
    const LogCallback logSink = std::move(log);
    try {
        const std::filesystem::path program = installRoot() / L"Tavro.exe";
        if (!std::filesystem::exists(program)) {
            error = "Tavro.exe was not found: " + pathToAnsi(program);
            return false;
        }
        if (logSink) {
            logSink("Opening Tavro: " + pathToAnsi(program));
        }
        const HINSTANCE result = ShellExecuteW(nullptr, L"open", program.c_str(), nullptr,
                                               installRoot().c_str(), SW_SHOWNORMAL);
        const std::int64_t code = reinterpret_cast<std::intptr_t>(result);
        if (code > 32) {
            return true;
        }
        error = "Could not open Tavro.exe. ShellExecute failed with code " + std::to_string(code);
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
