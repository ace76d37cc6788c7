#include "install/install_record.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/file_sha256.h"
#include "fs/held_folder.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/directory_copy.h"

namespace tavro {

namespace {

// The record's text in UTF-8, '/' between elements.
std::string recordName(const std::filesystem::path& relative) {
    std::string name = toUtf8(relative.native());
    for (char& c : name) {
        c = c == '\\' ? '/' : c;
    }
    return name;
}

constexpr wchar_t kRecordName[] = L"TavroInstall.record";
constexpr wchar_t kTemporaryName[] = L"TavroInstall.record.temp";
constexpr wchar_t kDamagedName[] = L"TavroInstall.record.damaged";

// The record's text, read through the held install root; empty when there is none.
std::string readRecordText(const HeldFolder& root) {
    const FileHandle handle = root.openFile(kRecordName, GENERIC_READ);
    std::string text;
    if (!handle) {
        return text;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle.get(), buffer, sizeof(buffer), &got, nullptr)) {
            throw std::runtime_error("Cannot read the install record " +
                                     pathToAnsi(installRecordPath()) + ": error " +
                                     std::to_string(GetLastError()));
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, got);
    }
}

// Writes text as the new record: a new file, flushed, then renamed over the old one.
void replaceRecord(const HeldFolder& root, const std::string& text) {
    root.remove(kTemporaryName);  // a leftover of a write that did not finish
    const FileHandle handle = root.createFile(kTemporaryName, GENERIC_WRITE);
    DWORD written = 0;
    if (!WriteFile(handle.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        throw std::runtime_error("Cannot write the install record " +
                                 pathToAnsi(root.childPath(kTemporaryName)) + ": error " +
                                 std::to_string(GetLastError()));
    }
    flushToDisk(handle.get(), "the install record");
    root.rename(handle.get(), kRecordName, true);
    FlushFileBuffers(root.get());  // the new name on the disk too, where the platform allows it
}

// Moves a damaged record out of the way, so that it is neither merged as empty nor lost.
void keepDamagedRecord(const HeldFolder& root, const ParsedRecord& parsed, const LogCallback& log) {
    const FileHandle handle = root.openFile(kRecordName, GENERIC_READ | DELETE);
    if (!handle) {
        return;
    }
    root.rename(handle.get(), kDamagedName, true);
    if (log) {
        log("The install record had " + std::to_string(parsed.badLines.size()) +
            " lines that are not entries; kept as " + pathToAnsi(root.childPath(kDamagedName)) +
            ", its " + std::to_string(parsed.entries.size()) + " entries carried over.");
    }
}

}  // namespace

std::filesystem::path installRecordPath() {
    return installRoot() / L"TavroInstall.record";
}

bool readInstallRecord(ParsedRecord& record, std::string& error) {
    try {
        const HeldFolder root = HeldFolder::open(installRoot(), false);
        record = parseInstallRecord(readRecordText(root));
        return true;
    } catch (const std::filesystem::filesystem_error& e) {
        const int code = e.code().value();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            record = {};  // no install root: no record
            return true;
        }
        error =
            "Cannot read the install record " + pathToAnsi(installRecordPath()) + ": " + e.what();
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

bool recordInstalledFiles(const std::vector<const RecordEntry*>& installed, LogCallback log,
                          std::string& error) {
    try {
        const HeldFolder root = HeldFolder::open(installRoot(), false);
        const ParsedRecord earlier = parseInstallRecord(readRecordText(root));
        if (!earlier.badLines.empty()) {
            keepDamagedRecord(root, earlier, log);
        }
        replaceRecord(root, formatInstallRecord(mergedEntries(earlier.entries, installed)));
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

bool recordInstalledFiles(const std::vector<RecordEntry>& installed, LogCallback log,
                          std::string& error) {
    return recordInstalledFiles(entriesOf(installed), std::move(log), error);
}

bool recordInstalledFiles(const std::filesystem::path& source, const std::filesystem::path& root,
                          std::string& error) {
    try {
        // Each file as it is now, read through held handles to its folder.
        const HeldFolder installed = HeldFolder::open(root, false);
        std::vector<RecordEntry> entries;
        for (const std::filesystem::path& relative : regularFilesUnder(source)) {
            const HeldFolder folder = relative.has_parent_path()
                                          ? installed.folder(relative.parent_path(), false)
                                          : HeldFolder::open(root, false);
            const FileHandle file = folder.openFile(relative.filename().native(), GENERIC_READ);
            if (!file) {
                throw std::runtime_error("Installed file missing: " + pathToAnsi(root / relative));
            }
            RecordEntry entry{recordName(relative), 0, {}};
            entry.sha256 = sha256OfOpenFile(file.get(), entry.size, error);
            if (entry.sha256.empty()) {
                return false;
            }
            entries.push_back(std::move(entry));
        }
        return recordInstalledFiles(entries, nullptr, error);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
