#include "install/uninstall_entry.h"

#include <windows.h>
#include <knownfolders.h>

#include <cstdio>
#include <vector>

#include "core/own_program.h"
#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/file_append.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/code_signature.h"
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

namespace {

// Whether the open file holds the program this process runs: its PE headers (link time, image
// size, entry point, checksum) are those of the image in memory. A file swapped in at the
// program's path since it started differs there.
bool isRunningImage(HANDLE file) {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* memoryDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* memory = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + memoryDos->e_lfanew);
    std::vector<unsigned char> head(4096);
    DWORD read = 0;
    if (!ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr) ||
        read < sizeof(IMAGE_DOS_HEADER)) {
        return false;
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS) > read) {
        return false;
    }
    const auto* onDisk = reinterpret_cast<const IMAGE_NT_HEADERS*>(head.data() + dos->e_lfanew);
    return onDisk->Signature == IMAGE_NT_SIGNATURE &&
           onDisk->FileHeader.TimeDateStamp == memory->FileHeader.TimeDateStamp &&
           onDisk->OptionalHeader.SizeOfImage == memory->OptionalHeader.SizeOfImage &&
           onDisk->OptionalHeader.AddressOfEntryPoint ==
               memory->OptionalHeader.AddressOfEntryPoint &&
           onDisk->OptionalHeader.CheckSum == memory->OptionalHeader.CheckSum;
}

// Copies the open file from its start to target: a new file beside it, flushed, checked to carry
// this program's signature (where it is signed), then renamed over target with the rename written
// through. A copy that is refused never replaces the one an earlier install registered.
bool copyOpenFile(HANDLE from, const std::filesystem::path& target, std::string& error) {
    const std::filesystem::path temporary = target.native() + L".new";
    LARGE_INTEGER start{};
    SetFilePointerEx(from, start, nullptr, FILE_BEGIN);
    {
        const FileHandle to(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!to) {
            error = "Cannot copy the installer to " + pathToAnsi(temporary) + ": error " +
                    std::to_string(GetLastError());
            return false;
        }
        if (appendOpenFile(from, to.get()) != AppendResult::Done) {
            error = "Cannot copy the installer to " + pathToAnsi(temporary) + ": error " +
                    std::to_string(GetLastError());
            return false;
        }
        if (!FlushFileBuffers(to.get())) {
            error = "Cannot flush " + pathToAnsi(temporary) + ": error " +
                    std::to_string(GetLastError());
            return false;
        }
    }
    if (!keptCopyCarriesOurSignature(temporary, error)) {
        return false;  // and the refused copy is gone
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "Cannot copy the installer to " + pathToAnsi(target) + ": error " +
                std::to_string(GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

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
    // The running program's own file, held since start-up without write or delete sharing, and
    // checked to be the image this process runs: not whatever its path names by then.
    const HANDLE program = ownProgramFile();
    if (!program) {
        error = "Cannot read this program " + pathToAnsi(self) + ": it is not held open";
        return false;
    }
    if (const std::string problem = openedFileProblem(program, self); !problem.empty()) {
        error = "Cannot keep the installer: " + problem;
        return false;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(program, start, nullptr, FILE_BEGIN) || !isRunningImage(program)) {
        error = "Cannot keep the installer: " + pathToAnsi(self) +
                " is no longer the program that runs";
        return false;
    }
    std::error_code created;
    std::filesystem::create_directories(target.parent_path(), created);
    return copyOpenFile(program, target, error);
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
