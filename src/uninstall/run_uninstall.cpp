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
#include "install/registry_records.h"
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

// The line of the kept list for something the uninstall could not remove.
std::string cannotRemoveLine(long code, const std::string& what) {
    std::string line = "Kept (cannot be removed, error ";
    line += std::to_string(code);
    line += "): ";
    line += what;
    return line;
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
        // The size first: a file grown to any size by another user is not read through.
        LARGE_INTEGER openedSize{};
        std::uint64_t size = 0;
        std::string hashError;
        if (!GetFileSizeEx(opened.get(), &openedSize) ||
            static_cast<std::uint64_t>(openedSize.QuadPart) != entry.size ||
            sha256OfOpenFile(opened.get(), size, hashError) != entry.sha256 || size != entry.size) {
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
            kept.push_back(cannotRemoveLine(failed.code().value(), entry.path));
        }
        return;
    }
    if (stillThere(root, relative)) {
        kept.push_back("Kept (cannot be removed): " + entry.path);
    }
}

// Every folder below folder that is now empty, deepest first, then folder itself through its
// parent; found and removed through held handles, so a link is never entered nor removed.
void removeEmptyFolders(const HeldFolder& parent, const HeldFolder& folder,
                        std::wstring_view name) {
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

// What is left below folder after the removal (but the run's own log), listed through held
// folders: a folder swapped for a link meanwhile is named, never entered, so no other folder's
// file names reach the log that every user can read.
void listLeftFiles(const HeldFolder& folder, const std::wstring& written, bool isLogs,
                   std::vector<std::string>& kept) {
    for (const HeldFolder::Entry& entry : folder.entries()) {
        const std::wstring child = written + L"\\" + entry.name;
        const std::string path = toUtf8(child);
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            kept.push_back("Kept (a link): " + path);
        } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            try {
                listLeftFiles(folder.folder(entry.name, false), child, entry.name == L"Logs", kept);
            } catch (const LinkRefused&) {
                kept.push_back("Kept (a link): " + path);
            } catch (const std::exception&) {
                kept.push_back("Kept (a folder that cannot be listed): " + path);
            }
        } else if (!isLogs) {
            kept.push_back("Kept (not installed): " + path);
        }
    }
}

void listLeftFiles(std::vector<std::string>& kept) {
    try {
        if (const HeldFolder root = heldInstallRoot()) {
            listLeftFiles(root, installRoot().native(), false, kept);
        }
    } catch (const LinkRefused&) {
        kept.push_back("Kept (a link): " + toUtf8(installRoot().native()));
    } catch (const std::exception&) {
        // a root that cannot be opened now lists nothing
    }
}

bool goneOrNeverThere(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Deletes one file; false, with the kept line added, when it is there and cannot be deleted.
bool deleteFileOrList(const fs::path& file, std::vector<std::string>& kept) {
    if (DeleteFileW(file.c_str())) {
        return true;
    }
    const DWORD code = GetLastError();
    if (goneOrNeverThere(code)) {
        return true;
    }
    kept.push_back(cannotRemoveLine(static_cast<long>(code), toUtf8(file.native())));
    return false;
}

// Removes a folder when it is empty; false, with the kept line added, when it is there, empty
// and cannot be removed.
bool removeEmptyFolderOrList(const fs::path& folder, std::vector<std::string>& kept) {
    if (RemoveDirectoryW(folder.c_str())) {
        return true;
    }
    const DWORD code = GetLastError();
    if (goneOrNeverThere(code) || code == ERROR_DIR_NOT_EMPTY) {
        return true;
    }
    kept.push_back(cannotRemoveLine(static_cast<long>(code), toUtf8(folder.native())));
    return false;
}

void removeShortcuts(const Say& say, std::vector<std::string>& kept) {
    bool allRemoved = true;
    for (const wchar_t* name : {L"Tavro", L"Ostrilan"}) {
        const std::wstring link = std::wstring(name) + L".lnk";
        allRemoved &= deleteFileOrList(desktopFolder() / link, kept);
        const fs::path menuFolder = programsFolder() / name;
        allRemoved &= deleteFileOrList(menuFolder / link, kept);
        allRemoved &= removeEmptyFolderOrList(menuFolder, kept);
    }
    say(allRemoved ? "Shortcuts removed." : "Shortcuts removed but those listed.");
}

void removeRegistryValues(const Say& say, std::vector<std::string>& kept) {
    bool allRemoved = true;
    for (const RegistryLeft& left : removeRegistryRecords()) {
        kept.push_back(cannotRemoveLine(left.error, left.name));
        allRemoved = false;
    }
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    if (status != ERROR_SUCCESS && !goneOrNeverThere(static_cast<DWORD>(status))) {
        std::string entry = "HKEY_CURRENT_USER\\";
        entry += toUtf8(kUninstallKey);
        kept.push_back(cannotRemoveLine(status, entry));
        allRemoved = false;
    }
    say(allRemoved ? "Registry values and the Apps & features entry removed."
                   : "Registry values and the Apps & features entry removed but those listed.");
}

// The kept installer goes last. While it runs from there it cannot delete itself: the system
// removes it, and its folder, at the next restart.
void removeKeptInstaller(const Say& say, std::vector<std::string>& keptLines) {
    const fs::path kept = keptInstallerPath();
    if (kept.empty() || GetFileAttributesW(kept.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (DeleteFileW(kept.c_str())) {
        RemoveDirectoryW(kept.parent_path().c_str());
        say("Removed " + toUtf8(kept.native()));
        return;
    }
    if (!MoveFileExW(kept.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD code = GetLastError();
        keptLines.push_back(cannotRemoveLine(static_cast<long>(code), toUtf8(kept.native())));
        return;
    }
    MoveFileExW(kept.parent_path().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);  // when empty
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
        listLeftFiles(kept);
        removeShortcuts(say, kept);
        removeRegistryValues(say, kept);
        removeKeptInstaller(say, kept);
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
