#include "download/file_sha256.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tavro {
namespace {

namespace fs = std::filesystem;

std::string pattern(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>((i * 131 + i / 977) % 251);
    }
    return body;
}

TEST(FileSha256, KnownDigestsAcrossReadBlocksAndAMissingFile) {
    const fs::path file = fs::temp_directory_path() / "tavro-sha256-test.bin";
    // Worked out apart from the program; the last one spans four 1 MiB reads.
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {pattern(3 * 1048576 + 5),
         "3d5e90e239d785b88c6961e5a31a0fda82ca1bd2da1f65ba62a50c98494ce101"},
    };
    for (const auto& [content, digest] : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        std::string error;
        EXPECT_EQ(sha256OfFile(file, error), digest) << content.size();
        EXPECT_EQ(error, "");
    }
    fs::remove(file);
    std::string error;
    EXPECT_EQ(sha256OfFile(file, error), "");
    EXPECT_EQ(error, "CreateFileW failed: error 2");
}

}  // namespace
}  // namespace tavro
