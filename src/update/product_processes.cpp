#include "update/product_processes.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <exception>
#include <filesystem>

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

}  // namespace

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
