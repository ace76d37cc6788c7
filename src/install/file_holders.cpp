#include "install/file_holders.h"

#include <windows.h>
#include <restartmanager.h>

#include <vector>

#include "core/text_convert.h"

namespace tavro {

namespace {

// A Restart Manager session, ended when it goes.
class RestartSession {
  public:
    RestartSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1]{};
        started_ = RmStartSession(&handle_, 0, key) == ERROR_SUCCESS;
    }
    ~RestartSession() {
        if (started_) {
            RmEndSession(handle_);
        }
    }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;

    bool started() const { return started_; }
    DWORD handle() const { return handle_; }

  private:
    DWORD handle_ = 0;
    bool started_ = false;
};

}  // namespace

std::string programsHolding(const std::wstring& path) {
    const RestartSession session;
    if (!session.started()) {
        return {};
    }
    LPCWSTR files[] = {path.c_str()};
    if (RmRegisterResources(session.handle(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<RM_PROCESS_INFO> found(8);
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT needed = 0;
        UINT count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        const DWORD result = RmGetList(session.handle(), &needed, &count, found.data(), &reasons);
        if (result == ERROR_MORE_DATA) {
            found.resize(needed);
            continue;
        }
        if (result != ERROR_SUCCESS) {
            return {};
        }
        std::string text;
        for (UINT i = 0; i < count; ++i) {
            text += (text.empty() ? "" : ", ") + toUtf8(found[i].strAppName) + " (" +
                    std::to_string(found[i].Process.dwProcessId) + ")";
        }
        return text;
    }
    return {};
}

}  // namespace tavro
