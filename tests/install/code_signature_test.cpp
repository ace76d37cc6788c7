// A signed installer and the copy of it kept for Apps & features. This test program is signed
// after it links, as a production installer is (tests/install/CMakeLists.txt), with a throwaway
// certificate whose CA only the test prefix trusts; beside it lie an unsigned copy of it and one
// signed by another certificate, and the build's signed copy of the installer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/product_version.h"
#include "core/win_handles.h"
#include "fs/install_paths.h"
#include "install/code_signature.h"
#include "install/install_record.h"
#include "install/install_test_support.h"
#include "install/uninstall_entry.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

// For the copy of this program that a test starts to register from a changed file: the file the
// child writes the outcome of its registration to.
constexpr char kChildVariable[] = "TAVRO_SIGNATURE_TEST_OUTCOME";

fs::path thisProgram() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A file the build put beside this program: tavro_signature_tests<suffix>.
fs::path besideThisProgram(const std::wstring& suffix) {
    const fs::path self = thisProgram();
    return self.parent_path() / (self.stem().native() + suffix);
}

std::vector<unsigned char> signerOf(const fs::path& program) {
    std::string problem;
    std::vector<unsigned char> signer = signerCertificateOf(program, problem);
    EXPECT_TRUE(problem.empty()) << problem;
    return signer;
}

bool entryExists() {
    RegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring entryText(const wchar_t* name) {
    wchar_t text[512] = {};
    DWORD size = sizeof(text);
    RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

// A string of a program's version resource (US English, Unicode).
std::wstring versionText(const fs::path& program, const std::wstring& name) {
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    wchar_t* text = nullptr;
    UINT length = 0;
    if (data.empty() ||
        !GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), (L"\\StringFileInfo\\040904B0\\" + name).c_str(),
                        reinterpret_cast<void**>(&text), &length)) {
        return {};
    }
    return text;
}

// Runs a copy of this program as the child half of a test; its exit code.
DWORD runChild(const fs::path& program, const std::wstring& testName, const fs::path& outcome) {
    std::wstring command = L"\"" + program.native() + L"\" --gtest_filter=" + testName;
    SetEnvironmentVariableA(kChildVariable, outcome.string().c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    if (!started) {
        ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
        return 1;
    }
    const KernelHandle child(process.hProcess);
    const KernelHandle thread(process.hThread);
    WaitForSingleObject(child.get(), 60000);
    DWORD code = 1;
    GetExitCodeProcess(child.get(), &code);
    return code;
}

class SignedInstaller : public test::InstallationTest {
  protected:
    void SetUp() override {
        test::InstallationTest::SetUp();
        removeEntryAndCopy();
        // A finished install's record: only the signature check stands between it and the entry.
        test::writeFile(installRecordPath(),
                        formatInstallRecord({{"Tavro.exe", 3000, std::string(64, 'a')}}));
    }
    void TearDown() override {
        removeEntryAndCopy();
        test::InstallationTest::TearDown();
    }
    static void removeEntryAndCopy() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        std::error_code ignored;
        fs::remove_all(keptInstallerPath().parent_path(), ignored);
    }
};

TEST_F(SignedInstaller, SignedBuildKeepsAVerifiedCopyAndItsResourceMatchesTheEntry) {
    const std::vector<unsigned char> signer = signerOf(thisProgram());
    ASSERT_FALSE(signer.empty()) << "the build did not sign this test program";

    std::string error;
    ASSERT_TRUE(registerInstallation("2.4.1", error)) << error;
    const fs::path kept = keptInstallerPath();
    EXPECT_EQ(test::readFile(kept), test::readFile(thisProgram()));
    EXPECT_EQ(signedCopyProblem(kept, signer), "");
    EXPECT_TRUE(entryExists());

    // The build's signed installer: the same signer, it verifies, and its version resource
    // names the maker and product the entry shows and the version the program reports.
    const fs::path installer = TAVRO_SIGNED_INSTALLER;
    EXPECT_EQ(signerOf(installer), signer);
    EXPECT_EQ(signedCopyProblem(installer, signer), "");
    EXPECT_EQ(versionText(installer, L"CompanyName"), entryText(L"Publisher"));
    EXPECT_EQ(versionText(installer, L"ProductName"), entryText(L"DisplayName"));
    EXPECT_EQ(versionText(installer, L"ProductVersion"), L"" TAVRO_PRODUCT_VERSION);
    EXPECT_EQ(versionText(installer, L"FileVersion"), L"" TAVRO_FILE_VERSION_TEXT);
    EXPECT_EQ(productVersionOf(installer), TAVRO_FILE_VERSION_TEXT);
}

TEST_F(SignedInstaller, ProgramWithAByteChangedLeavesTheEarlierVerifiedCopyAndEntryAsTheyWere) {
    // A byte of the DOS stub's message: the signature covers it, nothing ever runs it, and the
    // headers that tell the running image from another file stay as they are.
    const test::ScratchFolder scratch;
    const fs::path changed = scratch.path() / L"changed-installer.exe";
    std::string bytes = test::readFile(thisProgram());
    ASSERT_GT(bytes.size(), 0x60u);
    ASSERT_EQ(bytes.substr(0x4E, 4), "This");
    bytes[0x4E] = 't';
    test::writeFile(changed, bytes);

    // An earlier install registered a good copy; the refused one must not replace it.
    std::string error;
    ASSERT_TRUE(registerInstallation("2.4.0", error)) << error;

    const fs::path outcome = scratch.path() / L"outcome.txt";
    EXPECT_EQ(runChild(changed, L"SignedInstallerChild.RegistersFromTheProgramItRuns", outcome),
              0u);
    // TRUST_E_BAD_DIGEST: the file no longer matches its signature.
    const std::string said =
        fs::exists(outcome) ? test::readFile(outcome) : "(the child did not run)";
    EXPECT_NE(said.find("WinVerifyTrust refuses it: 0x80096010"), std::string::npos) << said;
    EXPECT_EQ(test::readFile(keptInstallerPath()), test::readFile(thisProgram()));
    EXPECT_FALSE(fs::exists(keptInstallerPath().native() + L".new"));
    EXPECT_EQ(entryText(L"DisplayVersion"), L"2.4.0");
}

// The child half of the test above, run from the changed file: registers, and writes what came
// of it for the parent to judge.
TEST(SignedInstallerChild, RegistersFromTheProgramItRuns) {
    const char* outcome = std::getenv(kChildVariable);
    if (outcome == nullptr) {
        GTEST_SKIP() << "runs only as the copy that a test starts";
    }
    std::string error;
    test::writeFile(outcome, registerInstallation("2.4.1", error) ? "registered" : error);
}

TEST_F(SignedInstaller, CopySignedByAnotherCertificateOrUnsignedIsRefusedAndDeleted) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"-other-signer.exe", "another certificate signed it"},
        // TRUST_E_NOSIGNATURE
        {L"-unsigned.exe", "WinVerifyTrust refuses it: 0x800B0100"},
    };
    const test::ScratchFolder scratch;
    for (const auto& [suffix, why] : cases) {
        const fs::path copy = scratch.path() / (L"kept" + suffix);
        fs::copy_file(besideThisProgram(suffix), copy, fs::copy_options::overwrite_existing);
        std::string error;
        EXPECT_FALSE(keptCopyCarriesOurSignature(copy, error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(copy)) << error;
    }
}

}  // namespace
}  // namespace tavro
