#include "update/product_processes.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <exception>
#include <filesystem>

#include "core/text_convert.h"
#include "install/hidden_command.h"
#include "install/install_paths.h"

namespace tavro {

bool closeRunningApps(LogCallback log, std::string& error) {
    const LogCallback logSink = std::move(log);
    try {
        if (logSink) {
            logSink("Requesting Tavro.exe to close...");
        }
        runHiddenCommand("taskkill /f /t /im Tavro.exe >nul 2>nul");
        if (logSink) {
            logSink("Requesting Ostrilan.exe to close...");
        }
        runHiddenCommand("taskkill /f /t /im Ostrilan.exe >nul 2>nul");
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
