#include "net/proxy_lists.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(ProxyLists, SchemeEntriesAndSharedEntries) {
    EXPECT_EQ(proxyForScheme(L"proxy:3128", L"https"), L"proxy:3128");
    EXPECT_EQ(proxyForScheme(L"http=a:1;https=b:2", L"https"), L"b:2");
    EXPECT_EQ(proxyForScheme(L"HTTP=a:1 https=b:2", L"http"), L"a:1");
    EXPECT_EQ(proxyForScheme(L"ftp=f:21", L"http"), L"");  // nothing for http: direct
    EXPECT_EQ(proxyForScheme(L"", L"http"), L"");
}

TEST(ProxyLists, BypassEntries) {
    EXPECT_TRUE(bypassesProxy(L"localhost", 443, L"*.example;localhost"));
    EXPECT_TRUE(bypassesProxy(L"API1.a.Example", 443, L"*.example"));
    EXPECT_FALSE(bypassesProxy(L"example", 443, L"*.example"));
    EXPECT_TRUE(bypassesProxy(L"intranet", 80, L"<local>"));
    EXPECT_FALSE(bypassesProxy(L"127.0.0.1", 80, L"<local>"));
    EXPECT_TRUE(bypassesProxy(L"10.1.2.3", 80, L"10.*, other"));
    // A port or scheme on an entry: only that port matches.
    EXPECT_TRUE(bypassesProxy(L"host", 8080, L"http://host:8080"));
    EXPECT_FALSE(bypassesProxy(L"host", 8081, L"host:8080"));
    EXPECT_FALSE(bypassesProxy(L"host", 80, L""));
}

}  // namespace
}  // namespace tavro
