#include "net/download_to_file.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "net/header_values.h"
#include "net/user_proxy.h"
#include "net/winhttp_session.h"

namespace tavro {

namespace {

constexpr auto kPausePoll = std::chrono::milliseconds(150);
// Chunks are gathered up to this size before they go to the file, so a transfer makes few
// write calls however small the platform's reads are.
constexpr std::size_t kWriteBufferBytes = 256 * 1024;
// A slow transfer writes (and so reports) what it has at least this often.
constexpr auto kWriteInterval = std::chrono::milliseconds(100);

// The target file, written through a buffer that the reads fill directly. Every write and the
// close are checked, and each write reports the bytes that reached the file.
class BufferedFile {
  public:
    BufferedFile(std::function<void(std::uint64_t bytes)> counted,
                 const WrittenBytesCallback& written)
        : counted_(std::move(counted)), written_(written) {}

    bool open(const std::filesystem::path& path, const TargetOpener& opener) {
        if (opener) {
            file_.reset(opener(path));
            lastWrite_ = std::chrono::steady_clock::now();
            return static_cast<bool>(file_);
        }
        // CREATE_NEW where the name is free. Wine carries out CREATE_ALWAYS by truncating the file
        // to zero, even a new one, and on ext4 (where Wine keeps its files) a truncation to zero
        // makes the last close write the whole file out: a 64 MiB part took up to 80 ms to close,
        // and its deletion after the merge waited for those writes. A new file's pages stay in
        // memory until they are dropped.
        file_.reset(createFile(path, CREATE_NEW));
        if (!file_ && GetLastError() == ERROR_FILE_EXISTS) {
            file_.reset(createFile(path, CREATE_ALWAYS));  // also replaces a link at the name
        }
        lastWrite_ = std::chrono::steady_clock::now();
        return static_cast<bool>(file_);
    }

    // Room for size more bytes at the end of the buffer (written out first when it is full);
    // nullptr when that write fails.
    char* room(std::size_t size) {
        if (used_ + size > buffer_.size()) {
            if (!flush()) {
                return nullptr;
            }
            if (size > buffer_.size()) {
                buffer_.resize(std::max(size, kWriteBufferBytes));
            }
        }
        return buffer_.data() + used_;
    }

    // The first size bytes of the room are now data; written out when the last write is
    // kWriteInterval ago. False when that write fails.
    bool commit(std::size_t size) {
        used_ += size;
        return std::chrono::steady_clock::now() - lastWrite_ < kWriteInterval || flush();
    }

    // Writes what is buffered; false when a write fails.
    bool flush() {
        lastWrite_ = std::chrono::steady_clock::now();
        const char* data = buffer_.data();
        std::size_t size = used_;
        used_ = 0;
        while (size > 0) {
            const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD written = 0;
            const bool ok = WriteFile(file_.get(), data, part, &written, nullptr) != 0;
            if (written > 0) {
                if (written_) {
                    written_(offset_, data, written);
                }
                offset_ += written;
                counted_(written);
            }
            if (!ok || written != part) {
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    // Writes what is buffered and closes the file; false when either fails.
    bool close() {
        const bool flushed = flush();
        const HANDLE handle = file_.release();
        const bool closed = CloseHandle(handle) != 0;
        return flushed && closed;
    }

  private:
    // Never through a link at the name: the link itself is what CREATE_ALWAYS replaces.
    static HANDLE createFile(const std::filesystem::path& path, DWORD disposition) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }

    const std::function<void(std::uint64_t)> counted_;
    const WrittenBytesCallback& written_;
    std::uint64_t offset_ = 0;
    FileHandle file_;
    std::vector<char> buffer_ = std::vector<char>(kWriteBufferBytes);
    std::size_t used_ = 0;
    std::chrono::steady_clock::time_point lastWrite_;
};

// Checks that the response is what was asked for: a 2xx status, and for a range request 206 with
// a Content-Range naming exactly that range. Empty when it is, else the reason.
std::string responseProblem(HINTERNET request, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                            const std::string& proxy) {
    const std::int32_t status = queryStatusCode(request);
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        return proxyAuthenticationText(proxy);
    }
    if (status < 200 || status > 299) {
        return "HTTP status " + std::to_string(status);
    }
    if (rangeEnd == 0) {
        return {};
    }
    if (status != 206) {
        return "Range not honoured: HTTP status " + std::to_string(status);
    }
    std::wstring value;
    if (!queryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE, 256, value)) {
        return "Range not honoured: no Content-Range";
    }
    const std::optional<ContentRange> range = parseContentRange(value);
    if (!range || range->first != rangeStart || range->last != rangeEnd) {
        return "Range not honoured: Content-Range " + toUtf8(value);
    }
    return {};
}

// Sends the request and receives the response headers; false with the reason in error.
bool sendRequest(HINTERNET request, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                 const std::string& proxy, std::string& error) {
    if (rangeEnd != 0) {
        const std::wstring line =
            L"Range: bytes=" + std::to_wstring(rangeStart) + L"-" + std::to_wstring(rangeEnd);
        WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD);
    }
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        const DWORD code = GetLastError();
        error = throughProxy("Download request failed: " + std::to_string(code), proxy);
        return false;
    }
    return true;
}

std::string overLimitText(std::uint64_t byteLimit) {
    return "the host sends more than the " + std::to_string(byteLimit) + " bytes expected";
}

void waitWhilePaused(const std::atomic<bool>* paused, const std::atomic<bool>* cancelled) {
    while (paused->load() && !cancelled->load()) {
        std::this_thread::sleep_for(kPausePoll);
    }
}

// Reads the body of the response into target, setting error to the reason when something
// fails. (The caller turns a cancel into "Cancelled".)
void receiveBody(HINTERNET request, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                 const std::filesystem::path& target, const std::atomic<bool>* paused,
                 const std::atomic<bool>* cancelled, const ByteProgressCallback& progress,
                 const WrittenBytesCallback& written, std::uint64_t byteLimit,
                 const TargetOpener& openTarget, std::string& error) {
    std::uint64_t contentLength = 0;
    std::wstring text;
    if (queryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, 128, text)) {
        contentLength = parseContentLength(text);
    }
    if (byteLimit != 0 && contentLength > byteLimit) {
        error = overLimitText(byteLimit) + ": it announces " + std::to_string(contentLength);
        return;
    }
    if (progress && rangeStart == 0 && rangeEnd == 0 && contentLength != 0) {
        progress(0, contentLength);
    }
    // What the body must hold: the range asked for, or what the server announced.
    const std::uint64_t expected = rangeEnd != 0 ? rangeEnd - rangeStart + 1 : contentLength;

    BufferedFile file(
        [&progress, contentLength](std::uint64_t bytes) {
            if (progress) {
                progress(bytes, contentLength);
            }
        },
        written);
    const auto cannotWrite = [&error, &target] { error = "Cannot write " + pathText(target); };
    if (!file.open(target, openTarget)) {
        cannotWrite();
        return;
    }
    std::uint64_t received = 0;
    bool complete = false;
    while (!cancelled->load()) {
        if (paused->load()) {
            if (!file.flush()) {  // what has arrived is in the file, and counted, during the wait
                cannotWrite();
                break;
            }
            waitWhilePaused(paused, cancelled);
        }
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = "WinHttpQueryDataAvailable failed";
            break;
        }
        if (available == 0) {
            complete = true;
            break;
        }
        if (byteLimit != 0 && available > byteLimit - received) {
            error = overLimitText(byteLimit);
            break;
        }
        char* room = file.room(available);
        if (!room) {
            cannotWrite();
            break;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, room, available, &read)) {
            error = "WinHttpReadData failed";
            break;
        }
        if (read == 0) {
            complete = true;
            break;
        }
        received += read;
        if (!file.commit(read)) {
            cannotWrite();
            break;
        }
    }
    if (!file.close() && error.empty()) {
        cannotWrite();
    }
    if (complete && error.empty() && expected != 0 && received != expected) {
        error = "Transfer ended after " + std::to_string(received) + " of " +
                std::to_string(expected) + " bytes";
    }
}

}  // namespace

bool downloadToFile(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                    const std::filesystem::path& target, const std::atomic<bool>* paused,
                    const std::atomic<bool>* cancelled, ByteProgressCallback progress,
                    std::string& error, const RequestTimeouts& timeouts,
                    const WrittenBytesCallback& written, std::uint64_t byteLimit,
                    const TargetOpener& openTarget) {
    {
        const RequestHandles handles = openRequest(url, L"GET", timeouts, error);
        if (!handles.request) {
            return false;
        }
        HINTERNET request = handles.request.get();
        if (!sendRequest(request, rangeStart, rangeEnd, handles.proxy, error)) {
            return false;
        }
        error = responseProblem(request, rangeStart, rangeEnd, handles.proxy);
        if (error.empty()) {
            receiveBody(request, rangeStart, rangeEnd, target, paused, cancelled, progress, written,
                        byteLimit, openTarget, error);
        }
    }  // request, connection, session close in that order
    if (cancelled->load()) {
        error = "Cancelled";
        return false;
    }
    return error.empty();
}

}  // namespace tavro
