// Stand-in for taskkill.exe in the test prefix (Wine's own rejects /t and then ends nothing).
// Accepts "/f", "/t", "/im NAME" and "/fi "SESSION eq N"" (also with '-', any case, any order):
// ends every process whose image name is NAME (in session N only, with the filter), with /t all
// of its descendants too. Only forced ending is offered.
// Exit code 0 when something was ended, 128 when no process matched, 1 on bad arguments or
// when matching processes could not be ended.

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin_common.h"

namespace {

bool isOption(const std::wstring& arg, const wchar_t* name) {
    return arg.size() >= 2 && (arg[0] == L'/' || arg[0] == L'-') &&
           lstrcmpiW(arg.c_str() + 1, name) == 0;
}

struct ProcessInfo {
    DWORD parent = 0;
    std::wstring image;
};

bool endProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    bool ended = TerminateProcess(process, 1) != 0;
    // Wait until it is really gone, so its files are free when the caller goes on.
    if (ended) {
        ended = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    }
    CloseHandle(process);
    return ended;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) {
        return 1;
    }
    std::vector<std::wstring> args(argv + 1, argv + count);
    LocalFree(argv);

    bool force = false;
    bool tree = false;
    std::wstring image;
    bool oneSession = false;
    DWORD session = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (isOption(args[i], L"f")) {
            force = true;
        } else if (isOption(args[i], L"t")) {
            tree = true;
        } else if (isOption(args[i], L"im") && i + 1 < args.size()) {
            image = args[++i];
        } else if (isOption(args[i], L"fi") && i + 1 < args.size() &&
                   CharUpperW(args[i + 1].data()) &&
                   args[i + 1].rfind(L"SESSION EQ ", 0) == 0) {
            oneSession = true;
            session = static_cast<DWORD>(std::wcstoul(args[++i].c_str() + 11, nullptr, 10));
        } else {
            standin::writeError("ERROR: Invalid argument/option - '" + standin::utf8(args[i]) +
                                "'.");
            return 1;
        }
    }
    if (image.empty() || !force) {
        standin::writeError("ERROR: this stand-in needs /f and /im NAME.");
        return 1;
    }

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        standin::writeError("ERROR: cannot list processes.");
        return 1;
    }
    std::map<DWORD, ProcessInfo> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        processes[entry.th32ProcessID] = ProcessInfo{entry.th32ParentProcessID, entry.szExeFile};
    }
    CloseHandle(snapshot);

    const DWORD self = GetCurrentProcessId();
    std::vector<DWORD> roots;
    for (const auto& [pid, info] : processes) {
        DWORD its = 0;
        if (oneSession && (!ProcessIdToSessionId(pid, &its) || its != session)) {
            continue;
        }
        if (pid != self && lstrcmpiW(info.image.c_str(), image.c_str()) == 0) {
            roots.push_back(pid);
        }
    }
    if (roots.empty()) {
        standin::writeError("ERROR: The process \"" + standin::utf8(image) + "\" not found.");
        return 128;
    }

    int ended = 0;
    int failed = 0;
    std::set<DWORD> done{self};
    for (DWORD root : roots) {
        // Descendants first (deepest last found, ended first), then the process itself.
        std::vector<DWORD> order{root};
        std::set<DWORD> seen{root};
        for (size_t i = 0; tree && i < order.size(); ++i) {
            for (const auto& [pid, info] : processes) {
                if (info.parent == order[i] && pid != order[i] && seen.insert(pid).second) {
                    order.push_back(pid);
                }
            }
        }
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            if (!done.insert(*it).second) {
                continue;
            }
            if (endProcess(*it)) {
                ++ended;
                standin::writeOutput("SUCCESS: The process with PID " + std::to_string(*it) +
                                     " has been terminated.");
            } else {
                ++failed;
                standin::writeError("ERROR: The process with PID " + std::to_string(*it) +
                                    " could not be terminated.");
            }
        }
    }
    return ended > 0 ? 0 : (failed > 0 ? 1 : 128);
}
