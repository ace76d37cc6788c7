#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // The installer runs elevated, usually from the user's Downloads folder, where anyone may
    // have left a DLL: from here on, libraries load from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const tavro::StartupServices services = tavro::systemStartupServices();
    return tavro::runProgram(instance, GetCommandLineA(), showCommand, services);
}
