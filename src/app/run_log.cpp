#include "app/run_log.h"

#include <windows.h>

#include "core/diagnostics.h"
#include "core/product_version.h"
#include "core/program_log.h"
#include "core/win_handles.h"
#include "install/log_file.h"

namespace tavro {

namespace {

LogFile& runLogFile() {
    static LogFile log(logFilePath());
    return log;
}

// Whether the process token is elevated (what the log says, not what startup decides on).
bool isElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const KernelHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

// The version the system reports to this program (its manifest decides which it may see).
std::string windowsVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
    if (!GetVersionExW(&version)) {
        return "unknown";
    }
    return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
           " build " + std::to_string(version.dwBuildNumber);
}

}  // namespace

void openRunLog() {
    LogFile& log = runLogFile();
    const LogCallback write = [&log](const std::string& line) { log.write(line); };
    installProgramLog(write, [&log] { return log.boxNote(); });
    setDiagnosticSink(write);
}

void logRunStart(const std::string& mode) {
    logEvent(std::string("Start: Tavro Installer ") + TAVRO_PRODUCT_VERSION + ", " + mode +
             " mode, elevated: " + (isElevated() ? "yes" : "no") + ", Windows " + windowsVersion());
}

}  // namespace tavro
