#include "app/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "core/last_error.h"
#include "core/own_program.h"
#include "core/unique_resource.h"
#include "core/win_handles.h"

namespace tavro {

namespace {

struct SidTraits : KeepsLastError {
    using type = PSID;
    static type invalid() noexcept { return nullptr; }
    static void close(type sid) noexcept { FreeSid(sid); }
};
using SidHandle = UniqueResource<SidTraits>;

}  // namespace

bool isProcessAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    SidHandle administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.put())) {
        return false;
    }
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators.get(), &member)) {
        return false;
    }
    return member == 1;
}

bool startElevatedCopy(const std::wstring& parameters) {
    const std::wstring program = ownProgramPath();
    if (program.empty()) {
        return false;
    }
    const HINSTANCE result = ShellExecuteW(nullptr, L"runas", program.c_str(), parameters.c_str(),
                                           nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

ElevatedRun runElevatedCopy(const std::wstring& parameters) {
    ElevatedRun run;
    const std::wstring program = ownProgramPath();
    if (program.empty()) {
        run.error = ERROR_FILE_NOT_FOUND;
        return run;
    }
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execute.lpVerb = L"runas";
    execute.lpFile = program.c_str();
    execute.lpParameters = parameters.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute)) {
        run.error = GetLastError();
        return run;
    }
    const KernelHandle process(execute.hProcess);
    if (!process) {
        run.error = ERROR_INVALID_HANDLE;  // started, but the shell gave no process to wait on
        return run;
    }
    run.started = true;
    WaitForSingleObject(process.get(), INFINITE);
    if (!GetExitCodeProcess(process.get(), &run.exitCode)) {
        run.error = GetLastError();
        run.started = false;
    }
    return run;
}

namespace {

// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY and its place in PROCESS_MITIGATION_POLICY, which
// older SDKs lack.
constexpr int kRedirectionTrustPolicy = 16;
struct RedirectionTrustPolicy {
    DWORD flags;  // bit 0: EnforceRedirectionTrust
};

using SetMitigationPolicyCall = BOOL(WINAPI*)(int, PVOID, SIZE_T);

}  // namespace

bool enforceRedirectionTrust() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto set = reinterpret_cast<SetMitigationPolicyCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")));
    RedirectionTrustPolicy policy{1};
    return set != nullptr && set(kRedirectionTrustPolicy, &policy, sizeof(policy)) != FALSE;
}

}  // namespace tavro
