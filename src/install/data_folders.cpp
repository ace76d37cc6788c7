#include "install/data_folders.h"

#include <exception>
#include <filesystem>

#include "install/install_paths.h"

namespace tavro {

bool createDataFolders(std::string& error) {
    try {
        for (const wchar_t* name :
             {L"Protocol", L"RecordedFiles", L"Stimulation", L"database", L"USB Driver"}) {
            std::filesystem::create_directories(installRoot() / name);
        }
        std::filesystem::create_directories(downloadFolder());
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
