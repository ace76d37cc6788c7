#include "core/own_program.h"

#include <windows.h>

#include "core/win_handles.h"

namespace tavro {

namespace {

constexpr DWORD kLongestPath = 32768;

}  // namespace

std::wstring ownProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            path.resize(length);
            return path;
        }
        if (size >= kLongestPath) {
            return {};
        }
        path.resize(size * 2);
    }
}

void* ownProgramFile() {
    static const FileHandle held = [] {
        const std::wstring path = ownProgramPath();
        return FileHandle(path.empty() ? INVALID_HANDLE_VALUE
                                       : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
    }();
    return held ? held.get() : nullptr;
}

}  // namespace tavro
