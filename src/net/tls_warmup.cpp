#include "net/tls_warmup.h"

#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include "core/win_handles.h"

namespace tavro {

namespace {

template <typename Call>
Call lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The library stays loaded for the process: the requests use it next.
HMODULE systemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void openRootCertificates() {
    const HMODULE crypt32 = systemLibrary(L"crypt32.dll");
    if (crypt32 == nullptr) {
        return;
    }
    using OpenStore = HANDLE(WINAPI*)(ULONG_PTR, const wchar_t*);
    using CloseStore = BOOL(WINAPI*)(HANDLE, DWORD);
    const auto open = lookUp<OpenStore>(crypt32, "CertOpenSystemStoreW");
    const auto close = lookUp<CloseStore>(crypt32, "CertCloseStore");
    if (open && close) {
        if (const HANDLE store = open(0, L"ROOT")) {
            close(store, 0);
        }
    }
}

void acquireSchannelCredentials() {
    const HMODULE secur32 = systemLibrary(L"secur32.dll");
    if (secur32 == nullptr) {
        return;
    }
    const auto acquire =
        lookUp<ACQUIRE_CREDENTIALS_HANDLE_FN_W>(secur32, "AcquireCredentialsHandleW");
    const auto release = lookUp<FREE_CREDENTIALS_HANDLE_FN>(secur32, "FreeCredentialsHandle");
    if (!acquire || !release) {
        return;
    }
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    CredHandle credentials{};
    TimeStamp expiry{};
    if (acquire(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                &settings, nullptr, nullptr, &credentials, &expiry) == SEC_E_OK) {
        release(&credentials);
    }
}

}  // namespace

void loadTlsProvider() {
    acquireSchannelCredentials();
    openRootCertificates();
}

}  // namespace tavro
