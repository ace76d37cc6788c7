#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace tavro::test {

// The whole file; throws std::runtime_error when it cannot be opened.
std::string readFile(const std::filesystem::path& path);
// Creates the file's folders, then the file with exactly content; throws when it cannot.
void writeFile(const std::filesystem::path& path, const std::string& content);
// size deterministic bytes without short repeats, so a misplaced block changes the content.
std::string pattern(std::size_t size);

// A fresh, empty folder under the temporary folder, named after the running test, removed again
// with everything in it.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace tavro::test
