#include "install/uninstall_entry.h"

#include <windows.h>
#include <knownfolders.h>

#include <cstdio>

#include "core/own_program.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "install/install_paths.h"
#include "install/install_record.h"
#include "install/known_folders.h"

namespace tavro {

namespace {

// The install root as Windows writes a folder ("C:\Quendrel\Tavro").
std::wstring backslashed(const std::filesystem::path& path) {
    std::wstring text = path.native();
    for (wchar_t& c : text) {
        c = c == L'/' ? L'\\' : c;
    }
    return text;
}

std::wstring today() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[16];
    std::swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

class EntryWriter {
  public:
    explicit EntryWriter(HKEY key) : key_(key) {}
    void text(const wchar_t* name, const std::wstring& data) {
        set(name, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    void number(const wchar_t* name, DWORD data) { set(name, REG_DWORD, &data, sizeof(data)); }
    bool failed() const { return failed_; }

  private:
    void set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        if (RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) !=
            ERROR_SUCCESS) {
            failed_ = true;
        }
    }
    RegKey key_;
    bool failed_ = false;
};

}  // namespace

std::string productVersionOf(const std::filesystem::path& program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::string data(size, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(program.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    return std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwProductVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwProductVersionLS));
}

std::filesystem::path keptInstallerPath() {
    const std::filesystem::path programFiles = knownFolderPath(FOLDERID_ProgramFiles);
    if (programFiles.empty()) {
        return {};
    }
    return programFiles / L"Tavro" / L"TavroInstaller.exe";
}

bool keepInstallerCopy(std::string& error) {
    // Program Files, which only administrators may change, and never the install root: every
    // user may write C:/Quendrel/Tavro, and a program started elevated from there (as Apps &
    // features starts the uninstall) would give anyone who replaced it administrator rights.
    const std::filesystem::path target = keptInstallerPath();
    const std::wstring self = ownProgramPath();
    if (target.empty() || self.empty()) {
        error = "Cannot find the Program Files folder or this program";
        return false;
    }
    std::error_code same;
    if (std::filesystem::equivalent(self, target, same)) {
        return true;
    }
    std::error_code created;
    std::filesystem::create_directories(target.parent_path(), created);
    if (!CopyFileW(self.c_str(), target.c_str(), FALSE)) {
        error = "Cannot copy the installer to " + pathToAnsi(target) + ": error " +
                std::to_string(GetLastError());
        return false;
    }
    return true;
}

bool writeUninstallEntry(const std::string& version, std::uint32_t estimatedKib,
                         std::string& error) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS) {
        error = "RegCreateKeyEx failed";
        return false;
    }
    const std::wstring installer = L"\"" + keptInstallerPath().native() + L"\" --uninstall";
    EntryWriter entry(opened);
    entry.text(L"DisplayName", L"Tavro");
    entry.text(L"DisplayVersion", toWide(version));
    entry.text(L"Publisher", L"Quendrel");
    entry.text(L"InstallLocation", backslashed(installRoot()));
    entry.text(L"DisplayIcon", backslashed(installRoot() / L"Tavro.exe"));
    entry.text(L"UninstallString", installer);
    entry.text(L"QuietUninstallString", installer + L" --quiet");
    entry.number(L"EstimatedSize", estimatedKib);
    entry.text(L"InstallDate", today());
    entry.number(L"NoModify", 1);
    entry.number(L"NoRepair", 1);
    if (entry.failed()) {
        error = "RegSetValueEx failed";
        return false;
    }
    return true;
}

bool refreshUninstallEntry(const std::string& version, std::uint32_t estimatedKib,
                           std::string& error) {
    HKEY opened = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_SET_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        error = "RegOpenKeyEx failed";
        return false;
    }
    EntryWriter entry(opened);
    entry.number(L"EstimatedSize", estimatedKib);
    if (!version.empty()) {
        entry.text(L"DisplayVersion", toWide(version));
    }
    if (entry.failed()) {
        error = "RegSetValueEx failed";
        return false;
    }
    return true;
}

bool registerInstallation(const std::string& version, std::string& error) {
    ParsedRecord record;
    return keepInstallerCopy(error) && readInstallRecord(record, error) &&
           writeUninstallEntry(version, recordKibibytes(record.entries), error);
}

}  // namespace tavro
