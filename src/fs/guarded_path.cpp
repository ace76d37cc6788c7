#include "fs/guarded_path.h"

namespace tavro {

namespace {

bool isSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

wchar_t asciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool sameElement(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

// One element of a path and where it ends in the text.
struct Element {
    std::wstring_view name;
    std::size_t end = 0;
};

std::vector<Element> elementsOf(std::wstring_view path) {
    std::vector<Element> elements;
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && isSeparator(path[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < path.size() && !isSeparator(path[i])) {
            ++i;
        }
        if (i > start) {
            elements.push_back({path.substr(start, i - start), i});
        }
    }
    return elements;
}

}  // namespace

std::vector<std::wstring> guardedChain(std::wstring_view top, std::wstring_view path) {
    const std::vector<Element> topElements = elementsOf(top);
    const std::vector<Element> pathElements = elementsOf(path);
    if (topElements.empty() || pathElements.size() < topElements.size()) {
        return {};
    }
    for (std::size_t i = 0; i < topElements.size(); ++i) {
        if (!sameElement(topElements[i].name, pathElements[i].name)) {
            return {};
        }
    }
    std::vector<std::wstring> chain;
    for (std::size_t i = topElements.size() - 1; i < pathElements.size(); ++i) {
        chain.emplace_back(path.substr(0, pathElements[i].end));
    }
    return chain;
}

std::wstring comparableForm(std::wstring_view path) {
    constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
    if (path.substr(0, kLocalPrefix.size()) == kLocalPrefix) {
        path.remove_prefix(kLocalPrefix.size());
    }
    std::wstring form;
    for (const Element& element : elementsOf(path)) {
        if (element.name == L".") {
            continue;
        }
        if (!form.empty()) {
            form += L'\\';
        }
        form += element.name;
    }
    return form;
}

std::string reparsePointText(const std::string& path) {
    return path + " is a link or junction (reparse point)";
}

std::string leadsElsewhereText(const std::string& path, const std::string& reached) {
    return path + " leads through a link to " + reached;
}

std::string hardLinkText(const std::string& path, std::uint32_t links) {
    return path + " is one of " + std::to_string(links) + " hard links to one file";
}

std::string unresolvedText(const std::string& path, std::uint32_t errorCode) {
    return "where " + path + " leads cannot be read (error " + std::to_string(errorCode) + ")";
}

}  // namespace tavro
