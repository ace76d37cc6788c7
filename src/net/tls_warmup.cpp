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

// Opens the trusted roots and builds one chain: the platform makes its default chain engine on the
// first chain of a process (under Wine, after importing every trusted root of the host) and
// keeps it; made here, the first handshakes find it ready instead of each making its own.
void makeChainEngine() {
    const HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) {
        return;
    }
    if (const PCCERT_CONTEXT root = CertEnumCertificatesInStore(store, nullptr)) {
        CERT_CHAIN_PARA parameters{};
        parameters.cbSize = sizeof(parameters);
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (CertGetCertificateChain(nullptr, root, nullptr, nullptr, &parameters, 0, nullptr,
                                    &chain)) {
            CertFreeCertificateChain(chain);
        }
        CertFreeCertificateContext(root);
    }
    CertCloseStore(store, 0);
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
    makeChainEngine();
}

}  // namespace tavro
