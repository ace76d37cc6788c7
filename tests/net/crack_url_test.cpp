#include "net/crack_url.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(CrackUrl, BaseUrlWithoutPathGetsSlashAndSchemeDefaults) {
    UrlParts parts;
    std::string error;
    ASSERT_TRUE(crackUrl("https://api1.tavro-a.example", parts, error));
    EXPECT_EQ(parts.host, L"api1.tavro-a.example");
    EXPECT_EQ(parts.path, L"/");
    EXPECT_EQ(parts.port, 443);
    EXPECT_TRUE(parts.secure);
    EXPECT_TRUE(error.empty());

    ASSERT_TRUE(crackUrl("http://downloads.example/Tavro.zip", parts, error));
    EXPECT_EQ(parts.port, 80);
    EXPECT_FALSE(parts.secure);
    EXPECT_EQ(parts.path, L"/Tavro.zip");
}

TEST(CrackUrl, PathKeepsQueryAndExplicitPortWins) {
    UrlParts parts;
    std::string error;
    ASSERT_TRUE(crackUrl("http://127.0.0.1:8123/api/Tavro/IsUp?probe=1&x=%20", parts, error));
    EXPECT_EQ(parts.host, L"127.0.0.1");
    EXPECT_EQ(parts.port, 8123);
    EXPECT_EQ(parts.path, L"/api/Tavro/IsUp?probe=1&x=%20");
    ASSERT_TRUE(crackUrl("https://host.example:8443", parts, error));
    EXPECT_EQ(parts.port, 8443);
    EXPECT_TRUE(parts.secure);
}

TEST(CrackUrl, MissingOrForeignSchemeFails) {
    for (const char* url : {"", "/api/Software/LatestVersion", "api1.tavro-a.example/x",
                            "ftp://host.example/file.zip"}) {
        UrlParts parts;
        std::string error;
        EXPECT_FALSE(crackUrl(url, parts, error)) << url;
        EXPECT_EQ(error, "WinHttpCrackUrl failed") << url;
    }
}

}  // namespace
}  // namespace tavro
