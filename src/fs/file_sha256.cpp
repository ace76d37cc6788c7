#include "fs/file_sha256.h"

#include <windows.h>

#include <vector>

#include "core/win_handles.h"
#include "fs/sha256_stream.h"

namespace tavro {

namespace {

constexpr DWORD kReadBlockBytes = 1024 * 1024;

std::string callErrorText(const char* call, DWORD code) {
    return std::string(call) + " failed: error " + std::to_string(code);
}

}  // namespace

std::string sha256OfFile(const std::filesystem::path& file, std::string& error) {
    // The file itself, never what a link at its name points to.
    FileHandle input(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!input) {
        error = callErrorText("CreateFileW", GetLastError());
        return {};
    }
    std::uint64_t size = 0;
    return sha256OfOpenFile(input.get(), size, error);
}

std::string sha256OfOpenFile(void* file, std::uint64_t& size, std::string& error) {
    const std::unique_ptr<DigestStream> hash = startSha256(error);
    if (!hash) {
        return {};
    }
    std::vector<unsigned char> block(kReadBlockBytes);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), kReadBlockBytes, &read, nullptr)) {
            error = callErrorText("ReadFile", GetLastError());
            return {};
        }
        if (read == 0) {
            break;
        }
        size += read;
        if (!hash->add(block.data(), read)) {
            return hash->finish(error);  // gives the failed call
        }
    }
    return hash->finish(error);
}

}  // namespace tavro
