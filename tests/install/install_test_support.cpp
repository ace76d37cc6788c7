#include "install/install_test_support.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/com_handles.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/known_folders.h"

namespace tavro::test {

std::string pseudoRandomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0x3F);  // 6 bits: compresses a little
    }
    return bytes;
}

std::filesystem::path standinProgram(const std::wstring& name) {
    return std::filesystem::path(L"C:/standins") / name;
}

std::string standinBytes(const std::wstring& name) {
    return readFile(standinProgram(name));
}

std::filesystem::path desktopLink(const std::wstring& name) {
    return desktopFolder() / (name + L".lnk");
}

std::filesystem::path startMenuLink(const std::wstring& name) {
    return programsFolder() / name / (name + L".lnk");
}

void removeInstallation() {
    // Files may still be mapped by a process that is just ending: retry a little.
    for (int attempt = 0;; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(installRoot(), error);
        if (!error || attempt == 50) {
            if (error) {
                throw std::runtime_error("cannot remove the install root: " + error.message());
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro");
    for (const wchar_t* name : {L"Tavro", L"Ostrilan"}) {
        std::error_code ignored;
        std::filesystem::remove_all(desktopLink(name), ignored);
        std::filesystem::remove_all(programsFolder() / name, ignored);
    }
}

std::optional<ShellLinkInfo> readShellLink(const std::filesystem::path& link) {
    const ComApartment com;
    ComPtr<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shellLink.put())))) {
        return std::nullopt;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(shellLink.get()->QueryInterface(IID_IPersistFile,
                                               reinterpret_cast<void**>(file.put()))) ||
        FAILED(file.get()->Load(link.c_str(), STGM_READ))) {
        return std::nullopt;
    }
    ShellLinkInfo info;
    wchar_t buffer[MAX_PATH * 2] = {};
    if (SUCCEEDED(shellLink.get()->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) {
        info.target = buffer;
    }
    buffer[0] = 0;
    if (SUCCEEDED(shellLink.get()->GetWorkingDirectory(buffer, MAX_PATH * 2))) {
        info.workingFolder = buffer;
    }
    buffer[0] = 0;
    if (SUCCEEDED(shellLink.get()->GetDescription(buffer, MAX_PATH * 2))) {
        info.description = buffer;
    }
    buffer[0] = 0;
    if (SUCCEEDED(shellLink.get()->GetIconLocation(buffer, MAX_PATH * 2, &info.iconIndex))) {
        info.icon = buffer;
    }
    return info;
}

std::wstring comparablePath(std::wstring path) {
    for (wchar_t& c : path) {
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
    }
    return path;
}

std::optional<RegistryText> readTavroValue(const wchar_t* name) {
    RegistryText value;
    std::wstring buffer(4096, L'\0');
    value.bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro", name, RRF_RT_ANY | RRF_NOEXPAND,
                     &value.type, buffer.data(), &value.bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.text.assign(buffer.c_str());
    return value;
}

std::string systemMessage(DWORD code) {
    char buffer[1024];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof(buffer), nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n')) {
        --length;
    }
    return std::string(buffer, length);
}

namespace {

std::filesystem::path uniqueTempFolder(const std::wstring& prefix) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return std::filesystem::path(std::wstring(temp, length)) /
           (prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++));
}

namespace {

// A stand-in's rename of its record can still hold the file with delete access for a moment after
// the record appears under its name; a reader that does not share deletion (the C runtime's open)
// fails then with a sharing violation, so records are read sharing everything.
std::string readRecordFile(const std::filesystem::path& file) {
    const FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        throw std::runtime_error("cannot open record " + toUtf8(file.native()) + ": error " +
                                 std::to_string(GetLastError()));
    }
    std::string content;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(handle.get(), block, sizeof(block), &read, nullptr) && read != 0) {
        content.append(block, read);
    }
    return content;
}

}  // namespace

std::map<std::string, std::string> readRecordLines(const std::filesystem::path& file) {
    std::map<std::string, std::string> values;
    std::istringstream lines(readRecordFile(file));
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return values;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The full image path of a running process, or empty.
std::wstring imageOf(HANDLE process) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) {
        return {};
    }
    return std::wstring(buffer, size);
}

}  // namespace

StandinRecords::StandinRecords() : folder_(uniqueTempFolder(L"tavro-standins-")) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    SetEnvironmentVariableW(L"TAVRO_STANDIN_DIR", folder_.c_str());
    SetEnvironmentVariableW(L"TAVRO_STANDIN_NO_WINDOW", L"1");
    SetEnvironmentVariableW(L"TAVRO_STANDIN_MAX_SECONDS", L"120");
}

StandinRecords::~StandinRecords() {
    for (const wchar_t* program : {L"Tavro.exe", L"Ostrilan.exe", L"zadig-2.3.exe"}) {
        for (const StandinStart& start : starts(program)) {
            KernelHandle process(
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                            FALSE, start.pid));
            // Only a process that still runs this stand-in: the id may have been reused.
            if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT &&
                endsWith(comparablePath(imageOf(process.get())), comparablePath(program))) {
                TerminateProcess(process.get(), 9);
                WaitForSingleObject(process.get(), 5000);
            }
        }
    }
    SetEnvironmentVariableW(L"TAVRO_STANDIN_DIR", nullptr);
    SetEnvironmentVariableW(L"TAVRO_STANDIN_NO_WINDOW", nullptr);
    SetEnvironmentVariableW(L"TAVRO_STANDIN_MAX_SECONDS", nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::vector<StandinStart> StandinRecords::starts(const std::wstring& program) const {
    std::vector<std::pair<std::filesystem::file_time_type, StandinStart>> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        const std::wstring name = entry.path().filename().native();
        if (!startsWith(name, program + L".") || !endsWith(name, L".started")) {
            continue;
        }
        auto values = readRecordLines(entry.path());
        StandinStart start;
        start.pid = static_cast<DWORD>(std::stoul(values["pid"]));
        start.commandLine = values["cmdline"];
        start.currentFolder = values["cwd"];
        found.emplace_back(entry.last_write_time(), start);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StandinStart> result;
    for (auto& item : found) {
        result.push_back(item.second);
    }
    return result;
}

bool StandinRecords::waitForStarts(const std::wstring& program, std::size_t count,
                                   std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (starts(program).size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void StandinRecords::requestExit(const std::wstring& program) const {
    writeFile(folder_ / (program + L".exit"), "exit");
}

std::vector<std::string> StandinRecords::powerShellCommandLines() const {
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        const std::wstring name = entry.path().filename().native();
        if (startsWith(name, L"powershell.") && endsWith(name, L".cmdline")) {
            found.emplace_back(entry.last_write_time(), readRecordFile(entry.path()));
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> lines;
    for (auto& item : found) {
        lines.push_back(item.second);
    }
    return lines;
}

KernelHandle startProgram(const std::filesystem::path& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program.native() + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        throw std::runtime_error("cannot start " + toUtf8(program.native()));
    }
    CloseHandle(info.hThread);
    return KernelHandle(info.hProcess);
}

bool waitForExit(const KernelHandle& process, std::chrono::milliseconds timeout) {
    return WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

}  // namespace tavro::test
