#include "install/data_folders.h"

#include <exception>
#include <filesystem>

#include "fs/install_paths.h"
#include "fs/link_guard.h"

namespace tavro {

bool createDataFolders(std::string& error) {
    try {
        for (const wchar_t* name :
             {L"Protocol", L"RecordedFiles", L"Stimulation", L"database", L"USB Driver"}) {
            createDirectoriesRefusingLinks(installRoot() / name);
        }
        createDirectoriesRefusingLinks(downloadFolder());
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
