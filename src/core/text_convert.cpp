#include "core/text_convert.h"

#include <windows.h>

#include <system_error>

namespace tavro {

namespace {

std::wstring multiByteToWide(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return wide;
}

}  // namespace

std::wstring toWide(std::string_view utf8) {
    // The text ends at its first NUL, as a zero-terminated string would.
    return multiByteToWide(CP_UTF8, utf8.substr(0, utf8.find('\0')));
}

std::string toUtf8(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string utf8(static_cast<size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
    utf8.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return utf8;
}

std::string toAnsi(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    // No best fit: a look-alike character in a path or command line would name another file.
    const UINT codePage = CP_ACP;
    const bool utf8CodePage = GetACP() == CP_UTF8;
    const DWORD flags = utf8CodePage ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8CodePage ? nullptr : &usedDefault;
    const int needed = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr,
                                           usedDefaultOut);
    if (needed <= 0 || usedDefault) {
        throw std::system_error(ERROR_NO_UNICODE_TRANSLATION, std::system_category(),
                                "Cannot convert text to the ANSI code page");
    }
    std::string ansi(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, ansi.data(), needed, nullptr, nullptr);
    return ansi;
}

std::string pathToAnsi(const std::filesystem::path& path) {
    return toAnsi(path.native());
}

std::string pathText(const std::filesystem::path& path) {
    try {
        return pathToAnsi(path);
    } catch (const std::system_error&) {
        return toUtf8(path.native());
    }
}

std::filesystem::path ansiToPath(std::string_view ansi) {
    return std::filesystem::path(multiByteToWide(CP_ACP, ansi));
}

}  // namespace tavro
