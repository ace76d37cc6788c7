// The install record and the entry in Apps & features, as an install and an update leave them.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "core/installer_core.h"
#include "core/own_program.h"
#include "core/win_handles.h"
#include "fs/file_sha256.h"
#include "fs/install_paths.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "install/uninstall_entry.h"
#include "install/zip_writer.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

struct EntryValue {
    DWORD type = 0;
    std::wstring text;
    DWORD number = 0;
};

std::optional<EntryValue> entryValue(const wchar_t* name) {
    BYTE data[2048] = {};
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EntryValue value{type, {}, 0};
    if (type == REG_SZ) {
        value.text = reinterpret_cast<const wchar_t*>(data);
    } else if (type == REG_DWORD) {
        value.number = *reinterpret_cast<const DWORD*>(data);
    }
    return value;
}

fs::path packageOf(const std::vector<std::pair<std::string, std::string>>& files) {
    test::ZipWriter zip;
    for (const auto& [name, content] : files) {
        zip.addFile(name, content);
    }
    const fs::path package = downloadFolder() / L"Tavro-V2.4.1-812.zip";
    fs::create_directories(downloadFolder());
    zip.save(package);
    return package;
}

class AppsEntry : public test::InstallationTest {
  protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        std::error_code ignored;
        fs::remove_all(keptInstallerPath().parent_path(), ignored);
        test::InstallationTest::TearDown();
    }

    std::vector<RecordEntry> record() {
        ParsedRecord parsed;
        std::string error;
        EXPECT_TRUE(readInstallRecord(parsed, error)) << error;
        EXPECT_TRUE(parsed.badLines.empty());
        return parsed.entries;
    }
};

TEST_F(AppsEntry, AnInstallRecordsWhatItInstalledAndALaterOneKeepsTheEarlierFiles) {
    std::string error;
    ASSERT_TRUE(installerCore.installPackage(
        packageOf({{"Tavro.exe", "first product"}, {"data/old.bin", "only in the first"}}), "1",
        false, {}, {}, error))
        << error;
    test::writeFile(installRoot() / L"RecordedFiles" / L"session.rec", "the user's recording");
    ASSERT_TRUE(installerCore.installPackage(
        packageOf({{"Tavro.exe", "second product"}, {"Ostrilan/Ostrilan.exe", "companion"}}), "2",
        false, {}, {}, error))
        << error;

    const std::vector<RecordEntry> entries = record();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, "data/old.bin");  // by name, letters without case
    EXPECT_EQ(entries[1].path, "Ostrilan/Ostrilan.exe");
    EXPECT_EQ(entries[2].path, "Tavro.exe");
    EXPECT_EQ(entries[2].size, 14u);
    EXPECT_EQ(entries[2].sha256, sha256OfFile(installRoot() / L"Tavro.exe", error));
    EXPECT_EQ(entries[0].sha256, sha256OfFile(installRoot() / L"data" / L"old.bin", error));
}

TEST_F(AppsEntry, EntryHasTheValuesAndTypesWindowsReadsAndTheUpdateRefreshesIt) {
    test::writeFile(installRecordPath(),
                    formatInstallRecord({{"Tavro.exe", 3000, std::string(64, 'a')}}));
    std::string error;
    ASSERT_TRUE(registerInstallation("2.4.1", error)) << error;

    const fs::path kept = keptInstallerPath();
    EXPECT_EQ(test::comparablePath(kept.native()),
              test::comparablePath(L"C:\\Program Files\\Tavro\\TavroInstaller.exe"));
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(test::readFile(kept), test::readFile(self));
    // Copied from the program's own file, held since the first call without write or delete
    // sharing: nobody can write it or swap another file in under its name meanwhile.
    EXPECT_EQ(ownProgramFile(), ownProgramFile());
    const FileHandle writer(CreateFileW(self, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    const fs::path aside = fs::path(self).replace_extension(L".aside");
    EXPECT_FALSE(MoveFileW(self, aside.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const std::wstring quoted = L"\"" + kept.native() + L"\" --uninstall";
    const std::pair<const wchar_t*, std::wstring> texts[] = {
        {L"DisplayName", L"Tavro"},
        {L"DisplayVersion", L"2.4.1"},
        {L"Publisher", L"Quendrel"},
        {L"InstallLocation", L"C:\\Quendrel\\Tavro"},
        {L"DisplayIcon", L"C:\\Quendrel\\Tavro\\Tavro.exe"},
        {L"UninstallString", quoted},
        {L"QuietUninstallString", quoted + L" --quiet"},
    };
    for (const auto& [name, text] : texts) {
        const auto value = entryValue(name);
        ASSERT_TRUE(value.has_value()) << name;
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << name;
        EXPECT_EQ(value->text, text) << name;
    }
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"EstimatedSize", 3}, {L"NoModify", 1}, {L"NoRepair", 1}};
    for (const auto& [name, number] : numbers) {
        const auto value = entryValue(name);
        ASSERT_TRUE(value.has_value()) << name;
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD)) << name;
        EXPECT_EQ(value->number, number) << name;
    }
    const auto date = entryValue(L"InstallDate");
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(date->type, static_cast<DWORD>(REG_SZ));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_EQ(date->text.size(), 8u);
    EXPECT_EQ(date->text.substr(0, 4), std::to_wstring(now.wYear));

    ASSERT_TRUE(refreshUninstallEntry("2.5.0", 9, error)) << error;
    EXPECT_EQ(entryValue(L"EstimatedSize")->number, 9u);
    EXPECT_EQ(entryValue(L"DisplayVersion")->text, L"2.5.0");
    EXPECT_EQ(entryValue(L"Publisher")->text, L"Quendrel");

    // The updater takes the version from the updated program's version resource, if any.
    EXPECT_EQ(productVersionOf(test::standinProgram(L"Tavro.exe")), "");
    EXPECT_FALSE(productVersionOf(L"C:/windows/system32/kernel32.dll").empty());

    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    ASSERT_TRUE(refreshUninstallEntry("", 1, error)) << error;  // no entry: none is made
    EXPECT_FALSE(entryValue(L"EstimatedSize").has_value());
}

}  // namespace
}  // namespace tavro
