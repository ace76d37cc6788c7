#include "ui/progress_bar_access.h"

#include <commctrl.h>
#include <oleacc.h>

#include "core/com_handles.h"

namespace tavro {

namespace {

constexpr int kRangeLow = 0;
constexpr int kRangeHigh = 100;

// {618736E0-3C3D-11CF-810C-00AA00389B71}
constexpr IID kAccessibleInterface = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

using CreateProxyCall = HRESULT(WINAPI*)(HWND, LPCSTR, LONG, REFIID, void**);
using ResultFromObjectCall = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

// oleacc.dll is not a KnownDLL: loaded from the system folder only, on the first request (a
// screen reader asking), and kept, since the objects handed out live in it.
struct AccessibilityLibrary {
    CreateProxyCall createProxy = nullptr;
    ResultFromObjectCall resultFromObject = nullptr;

    AccessibilityLibrary() {
        const HMODULE library =
            LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (library == nullptr) {
            return;
        }
        createProxy = reinterpret_cast<CreateProxyCall>(
            reinterpret_cast<void*>(GetProcAddress(library, "CreateStdAccessibleProxyA")));
        resultFromObject = reinterpret_cast<ResultFromObjectCall>(
            reinterpret_cast<void*>(GetProcAddress(library, "LresultFromObject")));
    }
    bool loaded() const { return createProxy != nullptr && resultFromObject != nullptr; }
};

}  // namespace

LRESULT progressRangeAnswer(WPARAM wantLow, LPARAM range) {
    if (auto* limits = reinterpret_cast<PBRANGE*>(range); limits != nullptr) {
        limits->iLow = kRangeLow;
        limits->iHigh = kRangeHigh;
    }
    return wantLow ? kRangeLow : kRangeHigh;
}

LRESULT accessibleProgressObject(HWND bar, WPARAM wParam, LPARAM lParam, UINT message) {
    static const AccessibilityLibrary library;
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || !library.loaded()) {
        return DefWindowProcA(bar, message, wParam, lParam);
    }
    ComPtr<IUnknown> proxy;
    if (FAILED(library.createProxy(bar, PROGRESS_CLASSA, OBJID_CLIENT, kAccessibleInterface,
                                   reinterpret_cast<void**>(proxy.put())))) {
        return DefWindowProcA(bar, message, wParam, lParam);
    }
    return library.resultFromObject(kAccessibleInterface, wParam, proxy.get());
}

}  // namespace tavro
