#include "install/protected_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <random>
#include <system_error>

#include "core/last_error.h"
#include "core/unique_resource.h"
#include "fs/link_guard.h"
#include "install/known_folders.h"

namespace tavro {

namespace {

struct LocalMemoryTraits : KeepsLastError {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type memory) noexcept { LocalFree(memory); }
};
// Owns memory the security calls allocate with LocalAlloc.
using LocalMemory = UniqueResource<LocalMemoryTraits>;

[[noreturn]] void fail(const char* what, const std::filesystem::path& path, DWORD code) {
    throw std::filesystem::filesystem_error(
        what, path, std::error_code(static_cast<int>(code), std::system_category()));
}

std::wstring randomName() {
    std::random_device source;
    wchar_t text[40];
    std::swprintf(text, 40, L"TavroInstall.%08x%08x", source(), source());
    return text;
}

void applyDescriptor(const std::filesystem::path& folder, PSECURITY_DESCRIPTOR descriptor) {
    if (!SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor)) {
        fail("protect folder", folder, GetLastError());
    }
}

}  // namespace

ProtectedFolder::ProtectedFolder() {
    const std::filesystem::path parent = knownFolderPath(FOLDERID_ProgramData);
    if (parent.empty()) {
        fail("create protected folder", L"%ProgramData%", ERROR_PATH_NOT_FOUND);
    }
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kProtectedFolderSddl, SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        fail("create protected folder", parent, GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::filesystem::path folder = parent / randomName();
        if (CreateDirectoryW(folder.c_str(), &attributes)) {
            path_ = folder;
            // Made with the descriptor on Windows; set once more through a handle, since some
            // platforms (Wine) drop the one given at creation.
            applyDescriptor(folder, descriptor.get());
            return;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            fail("create protected folder", folder, code);
        }
    }
    fail("create protected folder", parent, ERROR_ALREADY_EXISTS);
}

ProtectedFolder::~ProtectedFolder() {
    // What was expanded or copied into it goes with it; a program still running from it keeps
    // its own file and folder.
    removeTreeWithoutFollowing(path_);
}

namespace {

bool isProtectedFolderName(const std::wstring& name) {
    constexpr std::wstring_view prefix = L"TavroInstall.";
    if (name.size() != prefix.size() + 16 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + prefix.size(), name.end(),
                       [](wchar_t c) { return iswxdigit(c) != 0; });
}

}  // namespace

void removeLeftoverProtectedFolders() {
    try {
        const std::filesystem::path parent = knownFolderPath(FOLDERID_ProgramData);
        if (parent.empty()) {
            return;
        }
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
            if (isProtectedFolderName(entry.path().filename().native())) {
                removeTreeWithoutFollowing(entry.path());
            }
        }
    } catch (...) {
        // What cannot be removed now is tried again at the next start.
    }
}

std::wstring protectedDescriptorText() {
    LocalMemory descriptor;
    LocalMemory text;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kProtectedFolderSddl, SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
            reinterpret_cast<LPWSTR*>(text.put()), nullptr)) {
        return {};
    }
    return static_cast<const wchar_t*>(text.get());
}

std::wstring folderDaclText(const std::filesystem::path& folder) {
    PACL dacl = nullptr;
    LocalMemory descriptor;
    if (GetNamedSecurityInfoW(
            folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
            nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
        return {};
    }
    LocalMemory text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
            reinterpret_cast<LPWSTR*>(text.put()), nullptr)) {
        return {};
    }
    return static_cast<const wchar_t*>(text.get());
}

}  // namespace tavro
