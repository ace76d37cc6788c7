#include "fs/install_paths.h"

namespace tavro {

std::filesystem::path installRoot() {
    return std::filesystem::path(L"C:/Quendrel/Tavro");
}

std::filesystem::path downloadFolder() {
    return installRoot() / L"tmp";
}

}  // namespace tavro
