// The lock-down for fleets: the descriptor the install sets, and where it sets it. Wine keeps no
// real DACL (it maps one to the file's mode bits), so what only Windows enforces is checked here
// as the descriptor built; what Wine shows is that exactly the program files changed.
#include "install/lock_down.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "install/install_test_support.h"
#include "install/lock_down_rules.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

// The SDDL of owner and DACL as read back through a handle to path.
std::wstring descriptorOf(const fs::path& path) {
    const FileHandle opened(CreateFileW(path.c_str(), READ_CONTROL, 7, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EXPECT_TRUE(opened) << path;
    BYTE buffer[4096];
    DWORD length = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!GetKernelObjectSecurity(opened.get(), what, buffer, sizeof(buffer), &length)) {
        return L"(unreadable)";
    }
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer, SDDL_REVISION_1, what, &text,
                                                         nullptr);
    std::wstring result = text ? text : L"";
    LocalFree(text);
    return result;
}

// The SDDL as the platform reads it back from the descriptor it builds of it.
std::wstring builtDescriptor(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr);
    std::wstring result = text ? text : L"";
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

class LockDown : public test::InstallationTest {};

TEST_F(LockDown, ProgramFilesAndFoldersGetTheAdministratorsDescriptorAndUserDataStays) {
    // Owned by the administrators; system and administrators full control, users read and
    // execute; nothing inherited from C:/Quendrel, which every user may change.
    EXPECT_EQ(builtDescriptor(lockedDownSddl(true)),
              L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    EXPECT_EQ(builtDescriptor(lockedDownSddl(false)),
              L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)");

    const fs::path root = installRoot();
    const fs::path locked[] = {root / L"Tavro.exe", root / L"Ostrilan" / L"Ostrilan.exe",
                               root / L"Ostrilan" / L"lib" / L"a.dll"};
    const fs::path kept[] = {root / L"Protocol" / L"p.txt", root / L"database" / L"d.db",
                             root / L"Logs" / L"TavroInstaller.log", root / L"tmp" / L"x.zip",
                             root / L"USB Driver" / L"u.inf"};
    for (const fs::path& file : locked) {
        test::writeFile(file, "program");
    }
    for (const fs::path& file : kept) {
        test::writeFile(file, "data");
    }
    const std::wstring before = descriptorOf(kept[0]);
    EXPECT_NE(before.find(L";;;WD)"), std::wstring::npos) << "every user may read it, as made";

    const LockDownCount count = lockDownInstallRoot();
    // The root, Ostrilan, Ostrilan/lib and the three programs; nothing below the data folders.
    EXPECT_EQ(count.set, 6u);
    EXPECT_EQ(count.linksSkipped, 0u);
    for (const fs::path& file : locked) {
        // What Wine keeps of the descriptor: nobody else (no Everyone) may touch the file.
        EXPECT_EQ(descriptorOf(file).find(L";;;WD)"), std::wstring::npos) << file;
    }
    for (const fs::path& file : kept) {
        EXPECT_EQ(descriptorOf(file), before) << file;
    }
}

TEST(LockDownPolicy, SetByANonZeroDwordOrAnythingElseUnderThePolicyKey) {
    const auto set = [](DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue, type, data, bytes),
            ERROR_SUCCESS);
    };
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue);
    EXPECT_FALSE(lockDownPolicySet());
    const DWORD zero = 0;
    const DWORD one = 1;
    set(REG_DWORD, &zero, sizeof(zero));
    EXPECT_FALSE(lockDownPolicySet());
    set(REG_DWORD, &one, sizeof(one));
    EXPECT_TRUE(lockDownPolicySet());
    set(REG_SZ, L"0", 4);  // not a number the policy knows: locked is the safe side
    EXPECT_TRUE(lockDownPolicySet());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kLockDownValue);
}

}  // namespace
}  // namespace tavro
