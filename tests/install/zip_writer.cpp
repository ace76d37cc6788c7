#include "install/zip_writer.h"

#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace tavro::test {

namespace {

void put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::string rawDeflate(const std::string& content) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string packed(deflateBound(&stream, static_cast<uLong>(content.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    return packed;
}

}  // namespace

void ZipWriter::addFile(const std::string& utf8Name, const std::string& content, bool deflate) {
    Entry entry;
    entry.name = utf8Name;
    entry.method = deflate ? 8 : 0;
    entry.crc = crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
                      static_cast<uInt>(content.size()));
    entry.size = static_cast<std::uint32_t>(content.size());
    entry.packed = deflate ? rawDeflate(content) : content;
    entries_.push_back(std::move(entry));
}

void ZipWriter::addFolder(const std::string& utf8Name) {
    Entry entry;
    entry.name = utf8Name.empty() || utf8Name.back() != '/' ? utf8Name + "/" : utf8Name;
    entries_.push_back(std::move(entry));
}

std::string ZipWriter::bytes() const {
    std::string out;
    std::string directory;
    const std::uint32_t dosTime = 0x6000;  // 12:00:00
    const std::uint32_t dosDate = 0x5A21;  // 2025-01-01
    for (const Entry& entry : entries_) {
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        put32(out, 0x04034b50);
        put16(out, 20);      // version needed
        put16(out, 0x0800);  // names are UTF-8
        put16(out, entry.method);
        put16(out, dosTime);
        put16(out, dosDate);
        put32(out, entry.crc);
        put32(out, static_cast<std::uint32_t>(entry.packed.size()));
        put32(out, entry.size);
        put16(out, static_cast<std::uint32_t>(entry.name.size()));
        put16(out, 0);
        out += entry.name;
        out += entry.packed;

        put32(directory, 0x02014b50);
        put16(directory, 0x0314);  // made by: UNIX, 2.0 (any value does)
        put16(directory, 20);
        put16(directory, 0x0800);
        put16(directory, entry.method);
        put16(directory, dosTime);
        put16(directory, dosDate);
        put32(directory, entry.crc);
        put32(directory, static_cast<std::uint32_t>(entry.packed.size()));
        put32(directory, entry.size);
        put16(directory, static_cast<std::uint32_t>(entry.name.size()));
        put16(directory, 0);                                    // extra
        put16(directory, 0);                                    // comment
        put16(directory, 0);                                    // disk
        put16(directory, 0);                                    // internal attributes
        put32(directory, entry.name.back() == '/' ? 0x10 : 0);  // external: MS-DOS folder flag
        put32(directory, offset);
        directory += entry.name;
    }
    const std::uint32_t directoryOffset = static_cast<std::uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(entries_.size()));
    put16(out, static_cast<std::uint32_t>(entries_.size()));
    put32(out, static_cast<std::uint32_t>(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

void ZipWriter::save(const std::filesystem::path& path) const {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string content = bytes();
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) {
        throw std::runtime_error("cannot write the test archive");
    }
}

}  // namespace tavro::test
