#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavro::test {

// Builds zip archives for tests: stored or deflated entries, UTF-8 names (flag bit 11), folder
// entries. Names are taken as given, so tests can also write hostile ones ("../x", "C:/x").
class ZipWriter {
  public:
    void addFile(const std::string& utf8Name, const std::string& content, bool deflate = true);
    void addFolder(const std::string& utf8Name);  // a trailing '/' is added when missing

    // The complete archive.
    std::string bytes() const;
    void save(const std::filesystem::path& path) const;

  private:
    struct Entry {
        std::string name;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t size = 0;
        std::string packed;
    };
    std::vector<Entry> entries_;
};

}  // namespace tavro::test
