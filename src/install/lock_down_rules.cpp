#include "install/lock_down_rules.h"

#include <algorithm>
#include <array>
#include <cwctype>

namespace tavro {

std::wstring lockedDownSddl(bool folder) {
    // Object and container inherit on a folder, so that what the next install creates in it is
    // locked down too; on a file they would mean nothing.
    const std::wstring flags = folder ? L"OICI" : L"";
    return L"O:BAD:P" + std::wstring(folder ? L"AI" : L"") + L"(A;" + flags + L";FA;;;SY)(A;" +
           flags + L";FA;;;BA)(A;" + flags + L";0x1200a9;;;BU)";
}

bool staysWritableUnderLockDown(std::wstring_view nameBelowRoot) {
    constexpr std::array<std::wstring_view, 7> kept{
        L"Protocol", L"RecordedFiles", L"Stimulation", L"database", L"USB Driver", L"Logs", L"tmp"};
    const auto sameName = [nameBelowRoot](std::wstring_view name) {
        return name.size() == nameBelowRoot.size() &&
               std::equal(
                   name.begin(), name.end(), nameBelowRoot.begin(),
                   [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
    };
    return std::any_of(kept.begin(), kept.end(), sameName);
}

}  // namespace tavro
