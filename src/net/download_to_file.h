#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/callbacks.h"

namespace tavro {

// Timeouts of the download GET, in milliseconds. The values are the ones WinHTTP documents as
// its defaults on Windows; they are set explicitly because Wine otherwise waits for ever for the
// response headers of a silent server.
struct TransferTimeouts {
    std::uint32_t resolveMs = 0;  // no limit
    std::uint32_t connectMs = 60000;
    std::uint32_t sendMs = 30000;
    std::uint32_t receiveMs = 30000;
    std::uint32_t responseHeadersMs = 90000;
};

// GETs url, or only bytes rangeStart..rangeEnd of it when rangeEnd is not 0, into target
// (created or truncated). Holds before each read while *paused, stops with "Cancelled" when
// *cancelled. progress gets (bytes, Content-Length) for every chunk, and (0, Content-Length) once
// first for a whole-resource request. Returns true only when the whole body reached the file:
// a status other than 2xx, a range answered without 206 and the matching Content-Range, a body
// shorter than announced, and a failed write or close are all failures, with the reason in error.
bool downloadToFile(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                    const std::filesystem::path& target, const std::atomic<bool>* paused,
                    const std::atomic<bool>* cancelled, ByteProgressCallback progress,
                    std::string& error);

// The same with other timeouts (tests use short ones).
bool downloadToFile(const std::string& url, std::uint64_t rangeStart, std::uint64_t rangeEnd,
                    const std::filesystem::path& target, const std::atomic<bool>* paused,
                    const std::atomic<bool>* cancelled, ByteProgressCallback progress,
                    std::string& error, const TransferTimeouts& timeouts);

}  // namespace tavro
