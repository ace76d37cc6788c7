// trust-ca.exe: adds a CA certificate to the machine's Root store of the Wine prefix it runs in.
// Tests and the demo only (never shipped): it is how their own test CA becomes trusted inside
// their own prefix, and nowhere else.
//   trust-ca.exe CERTIFICATE_FILE      (PEM, "-----BEGIN CERTIFICATE-----", or DER)
// Prints "trusted: <subject>" and exits 0; on failure prints the failing call and its error
// number to standard error and exits 1. Adding a certificate that is already there replaces it.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/unique_resource.h"

namespace {

struct CertStoreTraits {
    using type = HCERTSTORE;
    static type invalid() noexcept { return nullptr; }
    static void close(type store) noexcept { CertCloseStore(store, 0); }
};
using CertStore = tavro::UniqueResource<CertStoreTraits>;

struct CertContextTraits {
    using type = PCCERT_CONTEXT;
    static type invalid() noexcept { return nullptr; }
    static void close(type context) noexcept { CertFreeCertificateContext(context); }
};
using CertContext = tavro::UniqueResource<CertContextTraits>;

int failed(const char* call) {
    const DWORD code = GetLastError();
    std::fprintf(stderr, "trust-ca: %s failed: %lu\n", call, static_cast<unsigned long>(code));
    return 1;
}

// The certificate's DER bytes: PEM is decoded, anything else is taken as DER.
bool readCertificate(const wchar_t* file, std::vector<BYTE>& der) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()),
                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        der.resize(size);
        return CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()),
                                    CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                    nullptr) != FALSE;
    }
    der.assign(text.begin(), text.end());
    return !der.empty();
}

std::string subjectOf(PCCERT_CONTEXT context) {
    char name[512] = {};
    CertGetNameStringA(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
    return name;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust-ca.exe CERTIFICATE_FILE\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!readCertificate(argv[1], der)) {
        std::fprintf(stderr, "trust-ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    CertStore root(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!root) {
        return failed("CertOpenStore");
    }
    CertContext added;
    if (!CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, added.put())) {
        return failed("CertAddEncodedCertificateToStore");
    }
    std::printf("trusted: %s\n", subjectOf(added.get()).c_str());
    return 0;
}
