#include "net/tls_warmup.h"

#include <windows.h>
#include <wincrypt.h>
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

void openRootCertificates() {
    if (const HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT")) {
        CertCloseStore(store, 0);
    }
}

void acquireSchannelCredentials() {
    // Stays loaded for the process: the requests use it next.
    const HMODULE secur32 = LoadLibraryExW(L"secur32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
