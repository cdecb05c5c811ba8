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

}  // namespace
}  // namespace brenvik
