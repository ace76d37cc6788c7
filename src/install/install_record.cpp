#include "install/install_record.h"

#include <windows.h>

#include <exception>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "download/file_sha256.h"
#include "install/install_paths.h"
#include "install/directory_copy.h"
#include "install/link_guard.h"

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

bool readWhole(const std::filesystem::path& file, std::string& text, std::string& error) {
    const FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            text.clear();
            return true;
        }
        error = "Cannot read the install record " + pathToAnsi(file) + ": error " +
                std::to_string(code);
        return false;
    }
    char buffer[65536];
    DWORD got = 0;
    text.clear();
    while (ReadFile(handle.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    return true;
}

void writeWhole(const std::filesystem::path& file, const std::string& text) {
    const std::filesystem::path temporary = file.native() + L".temp";
    refuseLinks(temporary);
    refuseLinks(file);
    {
        const FileHandle handle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!handle ||
            !WriteFile(handle.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size()) {
            throw std::runtime_error("Cannot write the install record " + pathToAnsi(temporary) +
                                     ": error " + std::to_string(GetLastError()));
        }
    }
    if (!MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        throw std::runtime_error("Cannot write the install record " + pathToAnsi(file) +
                                 ": error " + std::to_string(GetLastError()));
    }
}

}  // namespace

std::filesystem::path installRecordPath() {
    return installRoot() / L"TavroInstall.record";
}

bool readInstallRecord(ParsedRecord& record, std::string& error) {
    std::string text;
    if (!readWhole(installRecordPath(), text, error)) {
        return false;
    }
    record = parseInstallRecord(text);
    return true;
}

bool recordInstalledFiles(const std::filesystem::path& source, const std::filesystem::path& root,
                          std::string& error) {
    try {
        std::vector<RecordEntry> installed;
        for (const std::filesystem::path& relative : regularFilesUnder(source)) {
            const std::filesystem::path file = root / relative;
            RecordEntry entry{recordName(relative), std::filesystem::file_size(file), {}};
            entry.sha256 = sha256OfFile(file, error);
            if (entry.sha256.empty()) {
                return false;
            }
            installed.push_back(std::move(entry));
        }
        ParsedRecord earlier;
        if (!readInstallRecord(earlier, error)) {
            return false;
        }
        writeWhole(installRecordPath(),
                   formatInstallRecord(mergeRecords(earlier.entries, installed)));
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
