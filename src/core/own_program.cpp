#include "core/own_program.h"

#include <windows.h>

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

}  // namespace tavro
