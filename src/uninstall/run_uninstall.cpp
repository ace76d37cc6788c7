#include <windows.h>

#include <algorithm>
#include <exception>
#include <filesystem>

#include "core/installer_core.h"
#include "core/progress_math.h"
#include "core/text_convert.h"
#include "fs/file_sha256.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/install_record.h"
#include "install/known_folders.h"
#include "install/uninstall_entry.h"
#include "update/product_processes.h"

namespace tavro {

namespace {

namespace fs = std::filesystem;

using Say = std::function<void(const std::string&)>;

fs::path recordedPath(const std::string& name) {
    std::wstring relative = toWide(name);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return installRoot() / relative;
}

// Whether the file at relative below root is (still) there.
bool stillThere(const HeldFolder& root, const fs::path& relative) {
    try {
        const HeldFolder folder = relative.has_parent_path()
                                      ? root.existingFolder(relative.parent_path())
                                      : HeldFolder::open(installRoot(), false);
        return folder && folder.openFile(relative.filename().native(), FILE_READ_ATTRIBUTES);
    } catch (const std::exception&) {
        return true;
    }
}

// Removes one recorded file if it is the file that was installed; otherwise says why it stays.
// The record is trusted for nothing but the name, and that only inside the install root. The
// file is found through held folder handles, hashed through the handle that then deletes it:
// what was checked is what goes, even if a folder on the way is swapped for a link meanwhile.
void removeRecordedFile(const HeldFolder& root, const RecordEntry& entry,
                        std::vector<std::string>& kept) {
    if (const std::string problem = recordPathProblem(entry.path); !problem.empty()) {
        kept.push_back("Refused (" + problem + "): " + entry.path);
        return;
    }
    const fs::path file = recordedPath(entry.path);
    if (const std::string problem = linkProblem(file); !problem.empty()) {
        kept.push_back("Refused: " + problem);
        return;
    }
    const fs::path relative = file.lexically_relative(installRoot());
    try {
        const HeldFolder folder = relative.has_parent_path()
                                      ? root.existingFolder(relative.parent_path())
                                      : HeldFolder::open(installRoot(), false);
        if (!folder) {
            return;  // already gone
        }
        const FileHandle opened =
            folder.openFile(relative.filename().native(), GENERIC_READ | DELETE);
        if (!opened) {
            return;  // already gone
        }
        std::uint64_t size = 0;
        std::string hashError;
        const std::string digest = sha256OfOpenFile(opened.get(), size, hashError);
        if (size != entry.size || digest != entry.sha256) {
            kept.push_back("Kept (changed since it was installed): " + entry.path);
            return;
        }
        HeldFolder::removeOpened(opened.get(), folder.childPath(relative.filename().native()));
    } catch (const LinkRefused& refused) {
        kept.push_back(std::string("Refused: ") + refused.what());
        return;
    } catch (const fs::filesystem_error& failed) {
        const DWORD attributes = GetFileAttributesW(file.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kept.push_back("Kept (now a folder): " + entry.path);
        } else {
            kept.push_back("Kept (cannot be removed, error " +
                           std::to_string(failed.code().value()) + "): " + entry.path);
        }
        return;
    }
    if (stillThere(root, relative)) {
        kept.push_back("Kept (cannot be removed): " + entry.path);
    }
}

// Every folder below folder that is now empty, deepest first, then folder itself through its
// parent; found and removed through held handles, so a link is never entered nor removed.
void removeEmptyFolders(const HeldFolder& parent, const HeldFolder& folder, std::wstring_view name) {
    for (const HeldFolder::Entry& entry : folder.entries()) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            try {
                removeEmptyFolders(folder, folder.folder(entry.name, false), entry.name);
            } catch (const std::exception&) {
                // a link that showed up, or a folder that cannot be opened: it stays
            }
        }
    }
    try {
        parent.remove(name);  // only an empty folder goes
    } catch (const std::exception&) {
        // not empty, or in use: it stays
    }
}

// The install root held open; empty when there is none.
HeldFolder heldInstallRoot() {
    const fs::path root = installRoot();
    try {
        return HeldFolder::open(root.parent_path(), false).existingFolder(root.filename());
    } catch (const fs::filesystem_error& e) {
        const int code = e.code().value();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return {};  // nothing was ever installed
        }
        throw;
    }
}

void removeEmptyFolders() {
    try {
        const fs::path root = installRoot();
        const HeldFolder parent = HeldFolder::open(root.parent_path(), false);
        removeEmptyFolders(parent, parent.folder(root.filename(), false), root.filename().native());
    } catch (const std::exception&) {
        // no install root, or one that is a link: nothing to remove
    }
}

// What is left below the root after the removal (but the run's own log).
void listLeftFiles(const fs::path& root, std::vector<std::string>& kept) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const DWORD attributes = GetFileAttributesW(it->path().c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            it.disable_recursion_pending();
            kept.push_back("Kept (a link): " + toUtf8(it->path().native()));
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   it->path().parent_path().filename() != L"Logs") {
            kept.push_back("Kept (not installed): " + toUtf8(it->path().native()));
        }
    }
}

void removeShortcuts(const Say& say) {
    for (const wchar_t* name : {L"Tavro", L"Ostrilan"}) {
        const std::wstring link = std::wstring(name) + L".lnk";
        DeleteFileW((desktopFolder() / link).c_str());
        const fs::path menuFolder = programsFolder() / name;
        DeleteFileW((menuFolder / link).c_str());
        RemoveDirectoryW(menuFolder.c_str());  // when empty
    }
    say("Shortcuts removed.");
}

void removeRegistryValues(const Say& say) {
    for (const wchar_t* name : {L"AppDirectory", L"BuildNumber"}) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro", name);
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro", 0, KEY_QUERY_VALUE, &opened) ==
        ERROR_SUCCESS) {
        DWORD subKeys = 0;
        DWORD values = 0;
        const LSTATUS status =
            RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(opened);
        if (status == ERROR_SUCCESS && subKeys == 0 && values == 0) {
            RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Tavro");  // nothing of others in it
        }
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    say("Registry values and the Apps & features entry removed.");
}

// The kept installer goes last. While it runs from there it cannot delete itself: the system
// removes it, and its folder, at the next restart.
void removeKeptInstaller(const Say& say) {
    const fs::path kept = keptInstallerPath();
    if (kept.empty() || GetFileAttributesW(kept.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (DeleteFileW(kept.c_str())) {
        RemoveDirectoryW(kept.parent_path().c_str());
        say("Removed " + toUtf8(kept.native()));
        return;
    }
    MoveFileExW(kept.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExW(kept.parent_path().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    say(toUtf8(kept.native()) + " is removed at the next restart.");
}

}  // namespace

bool InstallerCore::runUninstall(InstallCallback progress, LogCallback log,
                                 std::vector<std::string>& kept, std::string& error) {
    const InstallCallback progressSink = std::move(progress);
    const LogCallback logSink = std::move(log);
    const Say say = [&logSink](const std::string& line) {
        if (logSink) {
            logSink(line);
        }
    };
    try {
        say("Starting uninstall...");
        if (!closeRunningApps(logSink, error)) {
            return false;
        }
        ParsedRecord record;
        if (!readInstallRecord(record, error)) {
            return false;
        }
        for (const std::string& line : record.badLines) {
            kept.push_back("Refused (not a record entry): " + line);
        }
        const auto total = static_cast<std::int32_t>(record.entries.size());
        say("Removing " + std::to_string(total) + " installed files...");
        std::int32_t done = 0;
        const HeldFolder root = heldInstallRoot();
        for (const RecordEntry& entry : record.entries) {
            if (root) {
                removeRecordedFile(root, entry, kept);
            }
            if (progressSink) {
                progressSink(makeInstallState(++done, total));
            }
        }
        if (root && linkProblem(installRecordPath()).empty()) {
            root.remove(installRecordPath().filename().native());
        }
        removeEmptyFolders();
        listLeftFiles(installRoot(), kept);
        removeShortcuts(say);
        removeRegistryValues(say);
        removeKeptInstaller(say);
        for (const std::string& line : kept) {
            say(line);
        }
        say(kept.empty() ? "Uninstall complete." : "Uninstall complete; kept what is listed.");
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
