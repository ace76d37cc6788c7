#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/callbacks.h"
#include "net/request_timeouts.h"

namespace tavro {

// Bytes that reached the target file at offset, in the order they were written; called on the
// transferring thread after each successful write.
using WrittenBytesCallback =
    std::function<void(std::uint64_t offset, const char* data, std::size_t size)>;

// Opens target for writing, new or emptied, and gives its handle (INVALID_HANDLE_VALUE with the
// thread's last error set when it cannot); may throw to refuse the target. Lets a caller that
// holds the target's folder open the file relative to that folder.
using TargetOpener = std::function<void*(const std::filesystem::path& target)>;

// Timeouts of the download GET: the values WinHTTP documents as its defaults on Windows, set
// explicitly because Wine otherwise waits for ever for the response headers of a silent server.
inline constexpr RequestTimeouts kTransferTimeouts{0, 60000, 30000, 30000, 90000};

// GETs url, or only bytes rangeStart..rangeEnd of it when rangeEnd is not 0, into target
// (created or truncated). Holds before each read while *paused, stops with "Cancelled" when
// *cancelled. progress gets (0, Content-Length) once first for a whole-resource request, then
// (bytes, Content-Length) for the bytes of each write to the file: a byte counts once it is in
// the file. Returns true only when the whole body reached the file: a status other than 2xx, a
// range answered without 206 and the matching Content-Range, a body shorter than announced, and a
// failed write or close are all failures, with the reason in error. written, when given, sees
// every byte that reached the file (a digest taken as the bytes arrive). byteLimit, when not 0,
// is the most the file may receive: a response that announces more fails before any byte is
// written, and one that sends more fails before the byte past the limit is written.
bool downloadToFile(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                    const std::filesystem::path& target, const std::atomic<bool>* paused,
                    const std::atomic<bool>* cancelled, ByteProgressCallback progress,
                    std::string& error, const RequestTimeouts& timeouts = kTransferTimeouts,
                    const WrittenBytesCallback& written = {}, std::uint64_t byteLimit = 0,
                    const TargetOpener& openTarget = {});

}  // namespace tavro
