// Stand-in for the product Tavro.exe, its companion Ostrilan.exe and the USB driver tool
// zadig-2.3.exe (the same program under three names; tests and demo only).
//
// When TAVRO_STANDIN_DIR is set it records each start there as "<name>.<pid>.started" (UTF-8
// lines pid=, cmdline=, cwd=) and ends with exit code 0 as soon as a file "<name>.exit" appears
// in that folder. Otherwise, and also meanwhile, it runs until it is killed, or until its
// message box is closed when a display is available (TAVRO_STANDIN_NO_WINDOW suppresses the
// box). TAVRO_STANDIN_MAX_SECONDS bounds its life (exit code 3), so a test that stops early
// leaves nothing behind for long.
//
// Built with TAVRO_STANDIN_VERSION (the demo's sample release), it shows instead a small window
// titled "<program> <version>" that says which version runs from where; closing it ends the
// program.
// Options: --hold FILE   keep FILE open without sharing (before the start is recorded)
//          --hold-folder FOLDER   keep FOLDER open without delete sharing (the same)
//          --hold-running FILE   keep FILE open as Windows holds a running program's image:
//                                reading and deletion (renaming) shared, writing not
//          --release-after MS   close what it holds MS milliseconds after its start
//          --spawn EXE   start EXE as a child process (before the start is recorded)

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "standin_common.h"

namespace {

#ifdef TAVRO_STANDIN_VERSION

std::wstring widen(const char* text) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), needed);
    wide.pop_back();
    return wide;
}

LRESULT CALLBACK versionWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ExitProcess(0);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Shows the version window; closing it ends the program.
DWORD WINAPI windowThread(void* parameter) {
    const std::wstring& name = *static_cast<const std::wstring*>(parameter);
    const size_t dot = name.rfind(L'.');
    const std::wstring program = dot == std::wstring::npos ? name : name.substr(0, dot);
    const std::wstring version = widen(TAVRO_STANDIN_VERSION);
    wchar_t path[MAX_PATH * 4];
    const DWORD pathLength = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    const std::wstring title = program + L" " + version;
    const std::wstring text =
        program + L" version " + version + L" is running from\r\n" + std::wstring(path, pathLength);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = versionWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"TavroStandinVersion";
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowExW(0, windowClass.lpszClassName, title.c_str(),
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT,
                        CW_USEDEFAULT, 460, 120, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        return 0;  // no display: keep running without a window
    }
    HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 12, 12, 430, 60,
                                 window, nullptr, windowClass.hInstance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

#else

// Shows the stand-in's message box; pressing OK ends the program.
DWORD WINAPI windowThread(void* parameter) {
    const std::wstring* name = static_cast<const std::wstring*>(parameter);
    const std::wstring text = *name + L" stand-in is running.\nPress OK to end it.";
    // Without a display the box cannot be shown (Wine answers -1 at once): keep running then.
    if (MessageBoxW(nullptr, text.c_str(), name->c_str(), MB_OK | MB_ICONINFORMATION) == IDOK) {
        ExitProcess(0);
    }
    return 0;
}

#endif

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::wstring name = standin::ownFileName();
    const std::wstring folder = standin::recordFolder();

    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    if (argv != nullptr) {
        args.assign(argv + 1, argv + count);
        LocalFree(argv);
    }
    std::vector<HANDLE> held;
    ULONGLONG releaseAfter = 0;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == L"--hold") {
            HANDLE file = CreateFileW(args[i + 1].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                return 2;
            }
            held.push_back(file);
        } else if (args[i] == L"--hold-running") {
            HANDLE file =
                CreateFileW(args[i + 1].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                return 2;
            }
            held.push_back(file);
        } else if (args[i] == L"--release-after") {
            releaseAfter = static_cast<ULONGLONG>(_wtoi(args[i + 1].c_str()));
        } else if (args[i] == L"--hold-folder") {
            HANDLE folder = CreateFileW(args[i + 1].c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (folder == INVALID_HANDLE_VALUE) {
                return 2;
            }
            held.push_back(folder);
        } else if (args[i] == L"--spawn") {
            std::wstring commandLine = L"\"" + args[i + 1] + L"\"";
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info{};
            if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info)) {
                return 2;
            }
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    }

    if (!folder.empty()) {
        wchar_t cwd[MAX_PATH * 4];
        const DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH * 4, cwd);
        const std::string record = "pid=" + std::to_string(GetCurrentProcessId()) +
                                   "\ncmdline=" + standin::utf8(GetCommandLineW()) +
                                   "\ncwd=" + standin::utf8(std::wstring(cwd, cwdLength)) + "\n";
        standin::writeRecord(
            folder + L"\\" + name + L"." + std::to_wstring(GetCurrentProcessId()) + L".started",
            record);
    }

    // Outlives main's locals while the process ends.
    static const std::wstring title = name;
    if (standin::environment(L"TAVRO_STANDIN_NO_WINDOW").empty()) {
        HANDLE thread =
            CreateThread(nullptr, 0, windowThread, const_cast<std::wstring*>(&title), 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    }

    const std::wstring limitText = standin::environment(L"TAVRO_STANDIN_MAX_SECONDS");
    const ULONGLONG limit = limitText.empty() ? 0 : _wtoi(limitText.c_str()) * 1000ULL;
    const ULONGLONG start = GetTickCount64();
    const std::wstring exitRequest =
        folder.empty() ? std::wstring() : folder + L"\\" + name + L".exit";
    for (;;) {
        if (!exitRequest.empty() &&
            GetFileAttributesW(exitRequest.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return 0;
        }
        if (limit != 0 && GetTickCount64() - start >= limit) {
            return 3;
        }
        if (releaseAfter != 0 && GetTickCount64() - start >= releaseAfter) {
            for (HANDLE handle : held) {
                CloseHandle(handle);
            }
            held.clear();
            releaseAfter = 0;
        }
        Sleep(20);
    }
}
