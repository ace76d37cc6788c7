#include "install/known_folders.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "core/com_handles.h"

namespace tavro {

std::filesystem::path knownFolderPath(const GUID& folderId) {
    // The shell's buffer is freed on every path, also when it reports a failure.
    CoTaskMemText text;
    if (FAILED(SHGetKnownFolderPath(folderId, 0, nullptr, text.put())) || !text) {
        return {};
    }
    return std::filesystem::path(text.get());
}

std::filesystem::path desktopFolder() {
    return knownFolderPath(FOLDERID_Desktop);
}

std::filesystem::path programsFolder() {
    return knownFolderPath(FOLDERID_Programs);
}

}  // namespace tavro
