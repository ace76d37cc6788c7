#include "install/code_signature.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/own_program.h"
#include "core/text_convert.h"
#include "core/unique_resource.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

struct CryptMsgTraits : KeepsLastError {
    using type = HCRYPTMSG;
    static type invalid() noexcept { return nullptr; }
    static void close(type message) noexcept { CryptMsgClose(message); }
};
using CryptMsg = UniqueResource<CryptMsgTraits>;

struct CertStoreTraits : KeepsLastError {
    using type = HCERTSTORE;
    static type invalid() noexcept { return nullptr; }
    static void close(type store) noexcept { CertCloseStore(store, 0); }
};
using CertStore = UniqueResource<CertStoreTraits>;

struct CertContextTraits : KeepsLastError {
    using type = PCCERT_CONTEXT;
    static type invalid() noexcept { return nullptr; }
    static void close(type context) noexcept { CertFreeCertificateContext(context); }
};
using CertContext = UniqueResource<CertContextTraits>;

constexpr DWORD kEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Far above any real signature (a few KiB with its chain): a bound on what is read.
constexpr DWORD kLargestCertificateTable = 1 << 20;

std::string hex(LONG code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

bool readAt(HANDLE file, std::uint64_t offset, void* into, DWORD size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, into, size, &read, nullptr) && read == size;
}

// The certificate table entry of a 64-bit program's headers: where its Authenticode signature
// lies in the file (a file offset, not an address) and its size; size 0 when it has none.
bool certificateTableOf(const IMAGE_NT_HEADERS64& headers, IMAGE_DATA_DIRECTORY& table) {
    if (headers.Signature != IMAGE_NT_SIGNATURE ||
        headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return false;
    }
    table = headers.OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY
                ? headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]
                : IMAGE_DATA_DIRECTORY{};
    return true;
}

// The certificate table of the image this process runs, as its headers in memory name it. A
// file swapped in at the program's path cannot change these.
IMAGE_DATA_DIRECTORY runningCertificateTable() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    IMAGE_DATA_DIRECTORY table{};
    certificateTableOf(*reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew), table);
    return table;
}

// The open program's certificate table; false with problem when its headers cannot be read.
bool fileCertificateTable(HANDLE file, IMAGE_DATA_DIRECTORY& table, std::string& problem) {
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 headers{};
    if (!readAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0 ||
        !readAt(file, static_cast<std::uint64_t>(dos.e_lfanew), &headers, sizeof(headers)) ||
        !certificateTableOf(headers, table)) {
        problem = "it is not a 64-bit Windows program";
        return false;
    }
    return true;
}

// The PKCS#7 SignedData held by a certificate table entry (a WIN_CERTIFICATE).
bool signedDataAt(HANDLE file, const IMAGE_DATA_DIRECTORY& table, std::vector<BYTE>& signedData,
                  std::string& problem) {
    WIN_CERTIFICATE header{};
    constexpr DWORD headerSize = offsetof(WIN_CERTIFICATE, bCertificate);
    if (table.Size <= headerSize || table.Size > kLargestCertificateTable ||
        !readAt(file, table.VirtualAddress, &header, headerSize) || header.dwLength <= headerSize ||
        header.dwLength > table.Size || header.wCertificateType != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
        problem = "its certificate table holds no Authenticode signature";
        return false;
    }
    signedData.resize(header.dwLength - headerSize);
    if (!readAt(file, std::uint64_t{table.VirtualAddress} + headerSize, signedData.data(),
                static_cast<DWORD>(signedData.size()))) {
        problem = "its signature cannot be read: error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

// The certificate of the first signer of a PKCS#7 SignedData, found among the certificates the
// message carries by the issuer and serial number its signer information names.
std::vector<unsigned char> signerOfSignedData(const std::vector<BYTE>& signedData,
                                              std::string& problem) {
    const CryptMsg message(CryptMsgOpenToDecode(kEncodings, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), signedData.data(),
                                    static_cast<DWORD>(signedData.size()), TRUE)) {
        problem = "its signature cannot be decoded: error " + std::to_string(GetLastError());
        return {};
    }
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
        problem = "its signature names no signer: error " + std::to_string(GetLastError());
        return {};
    }
    std::vector<BYTE> signerInfo(size);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo.data(),
                          &size)) {
        problem = "its signature names no signer: error " + std::to_string(GetLastError());
        return {};
    }
    const CertStore certificates(
        CertOpenStore(CERT_STORE_PROV_MSG, kEncodings, 0, 0, message.get()));
    const CertContext signer(
        certificates ? CertFindCertificateInStore(
                           certificates.get(), kEncodings, 0, CERT_FIND_SUBJECT_CERT,
                           reinterpret_cast<const CERT_INFO*>(signerInfo.data()), nullptr)
                     : nullptr);
    if (!signer) {
        problem = "its signature does not carry its signer's certificate: error " +
                  std::to_string(GetLastError());
        return {};
    }
    return {signer.get()->pbCertEncoded, signer.get()->pbCertEncoded + signer.get()->cbCertEncoded};
}

// The signer certificate of the open program with the given certificate table.
std::vector<unsigned char> signerAt(HANDLE file, const IMAGE_DATA_DIRECTORY& table,
                                    std::string& problem) {
    std::vector<BYTE> signedData;
    if (table.Size == 0 || !signedDataAt(file, table, signedData, problem)) {
        return {};
    }
    return signerOfSignedData(signedData, problem);
}

FileHandle openForReading(const std::filesystem::path& file) {
    return FileHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// WinVerifyTrust's verdict on the open file: no window, no revocation lookups on the network
// (an install must not hang on an unreachable list server).
LONG verifyTrust(const std::filesystem::path& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

// The running program's signer, read through its own file held since start-up (nobody can
// write, rename or delete it meanwhile); empty with no problem when the image in memory carries
// no signature. The file must name the same certificate table as the image.
std::vector<unsigned char> runningProgramSigner(std::string& problem) {
    const IMAGE_DATA_DIRECTORY running = runningCertificateTable();
    if (running.Size == 0) {
        return {};
    }
    const HANDLE program = ownProgramFile();
    if (!program) {
        problem = "this program's own file is not held open";
        return {};
    }
    IMAGE_DATA_DIRECTORY onDisk{};
    if (!fileCertificateTable(program, onDisk, problem)) {
        return {};
    }
    if (onDisk.VirtualAddress != running.VirtualAddress || onDisk.Size != running.Size) {
        problem = pathToAnsi(ownProgramPath()) + " is no longer the program that runs";
        return {};
    }
    std::vector<unsigned char> signer = signerAt(program, onDisk, problem);
    if (signer.empty() && problem.empty()) {
        problem = "this program's signature has no signer";
    }
    return signer;
}

}  // namespace

std::vector<unsigned char> signerCertificateOf(const std::filesystem::path& program,
                                               std::string& problem) {
    const FileHandle file = openForReading(program);
    if (!file) {
        problem = "it cannot be opened: error " + std::to_string(GetLastError());
        return {};
    }
    IMAGE_DATA_DIRECTORY table{};
    if (!fileCertificateTable(file.get(), table, problem)) {
        return {};
    }
    return signerAt(file.get(), table, problem);
}

std::string signedCopyProblem(const std::filesystem::path& copy,
                              const std::vector<unsigned char>& signer) {
    const FileHandle file = openForReading(copy);
    if (!file) {
        return "it cannot be opened: error " + std::to_string(GetLastError());
    }
    // The verdict and the signer come from one open file: nobody can change it in between.
    if (const LONG verdict = verifyTrust(copy, file.get()); verdict != ERROR_SUCCESS) {
        return "WinVerifyTrust refuses it: " + hex(verdict);
    }
    IMAGE_DATA_DIRECTORY table{};
    std::string problem;
    if (!fileCertificateTable(file.get(), table, problem)) {
        return problem;
    }
    const std::vector<unsigned char> copySigner = signerAt(file.get(), table, problem);
    if (!problem.empty()) {
        return problem;
    }
    if (copySigner != signer) {
        return "another certificate signed it";
    }
    return {};
}

bool keptCopyCarriesOurSignature(const std::filesystem::path& copy, std::string& error) {
    std::string problem;
    const std::vector<unsigned char> signer = runningProgramSigner(problem);
    if (signer.empty() && problem.empty()) {
        return true;  // an unsigned development build: its copy is unsigned too
    }
    if (problem.empty()) {
        problem = signedCopyProblem(copy, signer);
        if (problem.empty()) {
            return true;
        }
    }
    // Not left where a stale Apps & features entry would still start it elevated.
    error = "The installer copy " + pathToAnsi(copy) + " is not signed as this program is (" +
            problem + ")";
    const DWORD deleteError = DeleteFileW(copy.c_str()) ? ERROR_SUCCESS : GetLastError();
    if (deleteError != ERROR_SUCCESS && deleteError != ERROR_FILE_NOT_FOUND) {
        error += "; it cannot be deleted: error " + std::to_string(deleteError);
    }
    return false;
}

}  // namespace tavro
