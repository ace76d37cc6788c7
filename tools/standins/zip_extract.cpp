#include "zip_extract.h"

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "standin_common.h"

namespace standin {

namespace {

// Owns a Win32 handle for the few calls here.
class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

class View {
  public:
    explicit View(const void* data) : data_(data) {}
    ~View() {
        if (data_ != nullptr) {
            UnmapViewOfFile(data_);
        }
    }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    const unsigned char* bytes() const { return static_cast<const unsigned char*>(data_); }

  private:
    const void* data_;
};

std::uint16_t read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Entry {
    std::wstring relative;  // backslash-separated, checked to stay inside the destination
    bool folder = false;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t dataOffset = 0;
    std::uint32_t packedSize = 0;
    std::uint32_t size = 0;
};

std::wstring decodeName(const unsigned char* name, size_t length, bool utf8Flag) {
    if (length == 0) {
        return {};
    }
    const UINT codePage = utf8Flag ? CP_UTF8 : 437;
    const DWORD flags = utf8Flag ? MB_ERR_INVALID_CHARS : 0;
    const char* text = reinterpret_cast<const char*>(name);
    const int needed =
        MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), wide.data(), needed);
    return wide;
}

// Turns an entry name into a path below the destination (backslash-separated; empty for the
// destination itself). false when the name is absolute, names a drive or a stream, or climbs
// out with "..".
bool safeRelative(const std::wstring& name, std::wstring& relative, bool& folder) {
    folder = !name.empty() && (name.back() == L'/' || name.back() == L'\\');
    relative.clear();
    if (name.empty() || name.front() == L'/' || name.front() == L'\\' ||
        name.find(L':') != std::wstring::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"/\\", start);
        if (end == std::wstring::npos) {
            end = name.size();
        }
        const std::wstring part = name.substr(start, end - start);
        if (part == L"..") {
            return false;
        }
        if (!part.empty() && part != L".") {
            if (!relative.empty()) {
                relative += L'\\';
            }
            relative += part;
        }
        start = end + 1;
    }
    return !relative.empty() || folder;
}

std::string describe(const std::wstring& text) {
    return utf8(text);
}

bool createFolders(const std::wstring& path) {
    // Creates every missing folder of path, left to right.
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
            const std::wstring prefix = path.substr(0, i);
            if (prefix.empty() || (prefix.size() == 2 && prefix[1] == L':')) {
                continue;
            }
            if (!CreateDirectoryW(prefix.c_str(), nullptr)) {
                const DWORD error = GetLastError();
                const DWORD attributes = GetFileAttributesW(prefix.c_str());
                if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    return false;
                }
            }
        }
    }
    return true;
}

std::string inflateEntry(const unsigned char* packed, const Entry& entry,
                         std::vector<unsigned char>& out) {
    out.assign(entry.size, 0);
    if (entry.method == 0) {
        if (entry.packedSize != entry.size) {
            return "stored entry sizes differ";
        }
        if (entry.size != 0) {
            std::memcpy(out.data(), packed, entry.size);
        }
        return {};
    }
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return "inflateInit2 failed";
    }
    stream.next_in = const_cast<unsigned char*>(packed);
    stream.avail_in = entry.packedSize;
    unsigned char spare = 0;
    stream.next_out = entry.size != 0 ? out.data() : &spare;
    stream.avail_out = entry.size;
    const int result = inflate(&stream, Z_FINISH);
    const uLong produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != entry.size) {
        return "deflate data is corrupt";
    }
    return {};
}

}  // namespace

std::string extractZip(const std::wstring& archive, const std::wstring& destination,
                       bool overwrite) {
    Handle file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return "cannot open the archive " + describe(archive);
    }
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.get(), &fileSize)) {
        return "cannot read the archive size";
    }
    const std::uint64_t size = static_cast<std::uint64_t>(fileSize.QuadPart);
    if (size < 22) {
        return "the archive is too short to be a zip file";
    }
    Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) {
        return "cannot map the archive";
    }
    View view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    const unsigned char* data = view.bytes();
    if (data == nullptr) {
        return "cannot map the archive";
    }

    // End of central directory: the last signature within the final 64 KiB + 22 bytes.
    std::uint64_t eocd = size;
    const std::uint64_t lowest = size > 65557 ? size - 65557 : 0;
    for (std::uint64_t at = size - 22 + 1; at-- > lowest;) {
        if (read32(data + at) == 0x06054b50 && at + 22 + read16(data + at + 20) == size) {
            eocd = at;
            break;
        }
    }
    if (eocd == size) {
        return "end of central directory not found (corrupt or truncated archive)";
    }
    const unsigned char* end = data + eocd;
    if (read16(end + 4) != 0 || read16(end + 6) != 0) {
        return "multi-disk archives are not supported";
    }
    const std::uint32_t count = read16(end + 10);
    const std::uint32_t directorySize = read32(end + 12);
    const std::uint32_t directoryOffset = read32(end + 16);
    if (count == 0xFFFF || directoryOffset == 0xFFFFFFFFu) {
        return "zip64 archives are not supported by this stand-in";
    }
    if (static_cast<std::uint64_t>(directoryOffset) + directorySize > eocd) {
        return "central directory lies outside the archive";
    }

    std::vector<Entry> entries;
    std::uint64_t at = directoryOffset;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 46 > static_cast<std::uint64_t>(directoryOffset) + directorySize) {
            return "central directory is truncated";
        }
        const unsigned char* header = data + at;
        if (read32(header) != 0x02014b50) {
            return "bad central directory signature";
        }
        const std::uint16_t flags = read16(header + 8);
        Entry entry;
        entry.method = read16(header + 10);
        entry.crc = read32(header + 16);
        entry.packedSize = read32(header + 20);
        entry.size = read32(header + 24);
        const std::uint16_t nameLength = read16(header + 28);
        const std::uint16_t extraLength = read16(header + 30);
        const std::uint16_t commentLength = read16(header + 32);
        const std::uint32_t localOffset = read32(header + 42);
        const std::uint64_t next = at + 46 + nameLength + extraLength + commentLength;
        if (next > static_cast<std::uint64_t>(directoryOffset) + directorySize) {
            return "central directory is truncated";
        }
        const std::wstring name = decodeName(header + 46, nameLength, (flags & 0x0800) != 0);
        if (flags & 0x0001) {
            return "encrypted entries are not supported: " + describe(name);
        }
        if (entry.method != 0 && entry.method != 8) {
            return "unsupported compression method in " + describe(name);
        }
        if (!safeRelative(name, entry.relative, entry.folder)) {
            return "the entry '" + describe(name) + "' would be outside the destination";
        }
        if (static_cast<std::uint64_t>(localOffset) + 30 > directoryOffset) {
            return "local header lies outside the archive";
        }
        const unsigned char* local = data + localOffset;
        if (read32(local) != 0x04034b50) {
            return "bad local header signature for " + describe(name);
        }
        entry.dataOffset =
            static_cast<std::uint64_t>(localOffset) + 30 + read16(local + 26) + read16(local + 28);
        if (entry.dataOffset + entry.packedSize > directoryOffset) {
            return "data of " + describe(name) + " is truncated";
        }
        entries.push_back(std::move(entry));
        at = next;
    }

    // Everything was checked; now write, folders and files in archive order.
    const std::wstring root = destination;
    if (!createFolders(root)) {
        return "cannot create the destination " + describe(root);
    }
    std::vector<unsigned char> content;
    for (const Entry& entry : entries) {
        const std::wstring target = entry.relative.empty() ? root : root + L"\\" + entry.relative;
        if (entry.folder) {
            if (!createFolders(target)) {
                return "cannot create the folder " + describe(target);
            }
            continue;
        }
        const size_t slash = target.find_last_of(L'\\');
        if (!createFolders(target.substr(0, slash))) {
            return "cannot create the folder for " + describe(target);
        }
        const std::string problem = inflateEntry(data + entry.dataOffset, entry, content);
        if (!problem.empty()) {
            return problem + ": " + describe(entry.relative);
        }
        if (crc32(0L, content.data(), static_cast<uInt>(content.size())) != entry.crc) {
            return "CRC mismatch: " + describe(entry.relative);
        }
        Handle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr,
                               overwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
        if (!out.valid()) {
            return "cannot write " + describe(target) + " (error " +
                   std::to_string(GetLastError()) + ")";
        }
        DWORD written = 0;
        if (!content.empty() &&
            (!WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                        nullptr) ||
             written != content.size())) {
            return "cannot write " + describe(target);
        }
    }
    return {};
}

}  // namespace standin
