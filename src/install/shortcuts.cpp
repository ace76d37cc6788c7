#include "install/shortcuts.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <system_error>

#include "core/com_handles.h"
#include "core/text_convert.h"
#include "fs/install_paths.h"
#include "install/known_folders.h"

namespace tavro {

bool createShortcuts(std::string& error) {
    if (!createProgramShortcuts(error, "Tavro", installRoot())) {
        return false;
    }
    const std::filesystem::path companionFolder = installRoot() / L"Ostrilan";
    if (std::filesystem::exists(companionFolder / L"Ostrilan.exe")) {
        return createProgramShortcuts(error, "Ostrilan", companionFolder);
    }
    return true;
}

bool createProgramShortcuts(std::string& error, const std::string& name,
                            const std::filesystem::path& folder) {
    const std::wstring wideName = toWide(name);
    const std::filesystem::path target = folder / (wideName + L".exe");
    if (!std::filesystem::exists(target)) {
        return true;
    }
    const std::filesystem::path icon = folder / (wideName + L".ico");
    const std::filesystem::path desktopLink = desktopFolder() / (wideName + L".lnk");
    if (!createShellLink(desktopLink, target, folder, icon, wideName, error)) {
        return false;
    }
    const std::filesystem::path startMenuLink = programsFolder() / wideName / (wideName + L".lnk");
    return createShellLink(startMenuLink, target, folder, icon, wideName, error);
}

bool createShellLink(const std::filesystem::path& linkPath, const std::filesystem::path& target,
                     const std::filesystem::path& workingFolder, const std::filesystem::path& icon,
                     const std::wstring& description, std::string& error) {
    HRESULT saved = E_FAIL;
    {
        // Declared first, so every interface below is released before COM is uninitialised,
        // also when creating the link's folder throws.
        const ComApartment com(COINIT_APARTMENTTHREADED);
        ComPtr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.put())))) {
            error = "CoCreateInstance ShellLink failed";
            return false;
        }
        link.get()->SetPath(target.c_str());
        link.get()->SetWorkingDirectory(workingFolder.c_str());
        link.get()->SetDescription(description.c_str());
        std::error_code ignored;
        if (std::filesystem::exists(icon, ignored)) {
            link.get()->SetIconLocation(icon.c_str(), 0);
        }
        ComPtr<IPersistFile> file;
        saved = link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
        if (SUCCEEDED(saved)) {
            std::filesystem::create_directories(linkPath.parent_path());
            saved = file.get()->Save(linkPath.c_str(), TRUE);
        }
    }
    if (FAILED(saved)) {
        error = "Saving shortcut failed";
        return false;
    }
    return true;
}

}  // namespace tavro
