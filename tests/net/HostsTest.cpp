#include "net/Hosts.h"

#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "support/TestServer.h"

namespace brenvik {
namespace {

TEST(HostTable, RolesAreUniqueAndFilled) {
    std::set<std::string_view> roles;
    for (const auto& entry : BuiltInHosts()) {
        EXPECT_TRUE(roles.insert(entry.role).second) << entry.role;
        EXPECT_FALSE(entry.host.empty()) << entry.role;
    }
    HostTable table;
    EXPECT_EQ(table.Get("baidu.album"), "xiangce.baidu.com");
    EXPECT_EQ(table.Get("no.such.role"), "");
}

TEST(HostTable, OverrideFileReplacesEntriesAndReportsUnknownKeys) {
    test::TempDir dir;
    std::ofstream(dir / "hosts.ini") << "[hosts]\n"
                                        "Baidu.Album = album.example.test\n"
                                        "qzone.route=\n"
                                        "qzone.rout = typo.example.test\n"
                                        "garbage\n";
    HostTable table;
    const auto problems = table.LoadOverrides(dir / "hosts.ini");
    EXPECT_EQ(table.Get("baidu.album"), "album.example.test");
    EXPECT_EQ(table.Get("qzone.route"), "r.qzone.qq.com");
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("garbage"), std::string::npos);
    EXPECT_NE(problems[1].find("qzone.route"), std::string::npos);
    EXPECT_NE(problems[2].find("qzone.rout"), std::string::npos);
    EXPECT_TRUE(table.LoadOverrides(dir / "absent.ini").empty());
    table.ResetToBuiltIn();
    EXPECT_EQ(table.Get("baidu.album"), "xiangce.baidu.com");
}

TEST(HostTable, OnlyWebSchemesAreTakenAndBadLinesAreShownSafely) {
    test::TempDir dir;
    std::ofstream(dir / "hosts.ini") << "[hosts]\n"
                                        "baidu.album = file:///etc\n"
                                        "qzone.route = gopher://x.example.test\n"
                                        "sina.blog = HTTP://ok.example.test:81\n"
                                     << std::string(8, '\x1B') + "\x07\xFF bin\n"
                                     << "j1\nj2\nj3\nj4\nj5\n";
    HostTable table;
    const auto problems = table.LoadOverrides(dir / "hosts.ini");
    EXPECT_EQ(table.Get("baidu.album"), "xiangce.baidu.com") << "the built-in host stays";
    EXPECT_EQ(table.Get("qzone.route"), "r.qzone.qq.com");
    EXPECT_EQ(table.Get("sina.blog"), "HTTP://ok.example.test:81");
    ASSERT_EQ(problems.size(), 8u);
    EXPECT_EQ(problems[0], "hosts.ini: 无法识别的行: \xEF\xBF\xBD bin");
    EXPECT_EQ(problems[5], "hosts.ini: 另有1行无法识别");
    EXPECT_NE((problems[6] + problems[7]).find("baidu.album"), std::string::npos);
    EXPECT_NE((problems[6] + problems[7]).find("qzone.route"), std::string::npos);
}

}  // namespace
}  // namespace brenvik
