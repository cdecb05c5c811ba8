// The real brenvik-cli binary against local servers, as a user runs it.
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/Session.h"
#include "cli/CliOptions.h"
#include "net/CookieStore.h"
#include "settings/Settings.h"
#include "sites/QzoneServers.h"
#include "support/LocalSites.h"
#include "support/Process.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using test::QzoneAlbum;
using test::QzonePhoto;
using test::QzoneServers;

TEST(CliOptions, ParsesTheContract) {
    const auto parsed = cli::ParseCommandLine({"-s", "qqgroup", "-l", "--albums", "1,3", "-o",
                                               "/tmp/x", "--connect-to", "a::b:1", "--connect-to",
                                               "c::d:2", "--yes", "--json", "-q", "123"});
    ASSERT_TRUE(parsed.options);
    const cli::Options& o = *parsed.options;
    EXPECT_EQ(o.site, 0);
    EXPECT_EQ(o.sub, 1);
    EXPECT_TRUE(o.listOnly && o.json && o.quiet);
    EXPECT_EQ(o.albums, "1,3");
    EXPECT_EQ(o.connectTo.size(), 2u);
    EXPECT_EQ(o.answer, cli::Answer::Yes);
    EXPECT_EQ(o.address, "123");

    EXPECT_FALSE(cli::ParseCommandLine({"-s", "myspace", "x"}).options);
    EXPECT_FALSE(cli::ParseCommandLine({"-s", "21", "x"}).options);
    EXPECT_FALSE(cli::ParseCommandLine({"--sub", "3", "x"}).options);
    EXPECT_FALSE(cli::ParseCommandLine({"--frobnicate", "x"}).options);
    EXPECT_FALSE(cli::ParseCommandLine({}).options);
    EXPECT_FALSE(cli::ParseCommandLine({"a", "b"}).options);
    EXPECT_FALSE(cli::ParseCommandLine({"-o"}).options);
    EXPECT_EQ(cli::ParseCommandLine({"-s", "duitang", "http://x"}).options->site, 18);
    EXPECT_EQ(cli::ParseCommandLine({"-s", "20", "http://x"}).options->site, 20);
}

TEST(CliOptions, AlbumSpecs) {
    EXPECT_EQ(cli::ParseAlbumSelection("all", 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(cli::ParseAlbumSelection("1,3,5-7", 7), (std::vector<int>{0, 2, 4, 5, 6}));
    EXPECT_EQ(cli::ParseAlbumSelection("2", 2), std::vector<int>{1});
    EXPECT_FALSE(cli::ParseAlbumSelection("0", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("4", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("3-1", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("1,,2", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("x", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("", 3));
}

class CliQzoneTest : public ::testing::Test {
  protected:
    CliQzoneTest() {
        QzoneAlbum trip{"A1", "旅行", "1", {}};
        QzonePhoto one{.name = "海边", .raw = servers.Image("b1.qpic.cn", "p1")};
        one.pre = servers.Image("a1.qpic.cn", "p1pre");
        QzonePhoto two{.name = "山顶", .raw = servers.Image("b1.qpic.cn", "p2")};
        two.pre = servers.Image("a1.qpic.cn", "p2pre");
        trip.photos = {one, two};
        QzoneAlbum hidden{
            "A2", "私密", "3", {{.name = "秘密", .raw = servers.Image("b1.qpic.cn", "h1")}}};
        QzoneAlbum locked{
            "A3", "加密", "5", {{.name = "锁", .raw = servers.Image("b1.qpic.cn", "l1")}}};
        servers.albums = {trip, hidden, locked};
        WriteCookies(QzoneServers::kSkey);
    }
    void WriteCookies(const std::string& skey) {
        std::ofstream(home / "browser-cookies.txt", std::ios::trunc)
            << "# Netscape HTTP Cookie File\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << skey << "\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
    }
    std::vector<std::string> Command(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--home", (home / "data").string(), "--cookies",
                                     (home / "browser-cookies.txt").string()});
        return test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(), extra);
    }

    QzoneServers servers;
    test::TempDir home;
    test::TempDir save;
};

TEST_F(CliQzoneTest, ListsPublicPrivateAndEncryptedAlbums) {
    const auto result = test::RunProcess(Command({"-l", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "0001\t旅行\t   2\t\n0002\t私密\t   1\t私密相册\n0003\t加密\t   1\t加密相册\n");
    EXPECT_NE(result.err.find("获取相册列表完成，共3个"), std::string::npos);
}

TEST_F(CliQzoneTest, DownloadsChosenAlbumsIntoNamedFolders) {
    servers.brokenImages.insert("p2");  // the full-size address fails; the preview serves
    const auto result =
        test::RunProcess(Command({"-a", "1-2", "-o", save.Path().string(), "--json", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"旅行/pic.zvt", "旅行/山顶.jpg", "旅行/海边.jpg",
                                        "私密/pic.zvt", "私密/秘密.jpg"}));
    std::ifstream in(save / "旅行" / "山顶.jpg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              QzoneServers::ImageBytes("p2pre"));
    EXPECT_NE(result.out.find("\"download\":{\"albums\":2,\"images\":3,\"failed\":0"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"name\":\"加密\""), std::string::npos);
}

TEST_F(CliQzoneTest, TheImportedSkeyDecidesTheToken) {
    WriteCookies("someone-else");
    const auto result = test::RunProcess(Command({"-l", "--no", "12345"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("是否进行身份验证?\n(验证成功后请重新获取相册列表) -> 否"),
              std::string::npos)
        << result.err;
}

TEST_F(CliQzoneTest, BadInputEndsWithAClearMessage) {
    auto result = test::RunProcess(Command({"12a45"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("请直接输入QQ号进行下载"), std::string::npos);

    result = test::RunProcess(Command({"-a", "9", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("相册序号有误"), std::string::npos);
    EXPECT_TRUE(save.Files().empty());

    result = test::RunProcess(Command({"-s", "nosuchsite", "12345"}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("未知的网站"), std::string::npos);

    result = test::RunProcess(Command({"   "}));
    EXPECT_EQ(result.exitCode, 2);

    std::ofstream(save / "file") << "x";
    result = test::RunProcess(Command({"-o", (save / "file" / "sub").string(), "12345"}));
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find("请检测设置的保存路径是否有误"), std::string::npos);
}

TEST_F(CliQzoneTest, CtrlCStopsTheDownload) {
    std::vector<QzonePhoto> many;
    for (int i = 0; i < 40; ++i) {
        QzonePhoto p{.name = "p" + std::to_string(i),
                     .raw = servers.Image("b1.qpic.cn", "m" + std::to_string(i))};
        many.push_back(p);
    }
    servers.albums[0].photos = many;
    servers.imageDelayMs = 400;
    test::Process cli(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    const auto start = std::chrono::steady_clock::now();
    while (servers.imageRequests < 1 && std::chrono::steady_clock::now() - start < 20s) {
        std::this_thread::sleep_for(10ms);
    }
    cli.Signal(SIGINT);
    const auto result = cli.Wait(20s);
    EXPECT_GE(result.exitCode, 0) << "ended by itself";
    EXPECT_LT(servers.imageRequests, 40);
    const auto files = save.Files();
    EXPECT_EQ(std::count(files.begin(), files.end(), "旅行/pic.zvt"), 0);
    for (const auto& file : files) {
        EXPECT_EQ(file.find(".part"), std::string::npos) << "no half-written file: " << file;
    }
}

// Two runs on one home: each imports cookies of its own, receives a cookie while the
// other runs and remembers its address; nothing of either is lost.
TEST_F(CliQzoneTest, TwoRunsOnOneHomeKeepEveryCookieAndAddress) {
    servers.server.On(
        "r.qzone.qq.com", "/GetRoute", [this](const httplib::Request& req, httplib::Response& res) {
            // Both runs have loaded the home before either gets this answer.
            servers.server.Stall(1500ms);
            res.set_header("Set-Cookie", "route" + req.get_param_value("UIN") + "=1; Path=/");
            res.set_content(servers.RouteAnswer(), "application/json");
        });
    const auto cookieFile = [this](const std::string& run) {
        const auto file = home / ("cookies-" + run + ".txt");
        std::ofstream out(file);
        out << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << QzoneServers::kSkey << "\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
        for (int i = 0; i < 10; ++i) {
            out << ".example.test\tTRUE\t/\tFALSE\t0\t" << run << i << "\tv\n";
        }
        return file.string();
    };
    const auto run = [&](const std::string& name, const std::string& qq) {
        return test::CliCommand(
            BRENVIK_CLI_PATH, servers.Routes(),
            {"--home", (home / "data").string(), "--cookies", cookieFile(name), "-l", qq});
    };
    test::Process first(run("a", "12345"));
    test::Process second(run("b", "67890"));
    const auto firstResult = first.Wait(30s);
    const auto secondResult = second.Wait(30s);
    ASSERT_EQ(firstResult.exitCode, 0) << firstResult.err;
    ASSERT_EQ(secondResult.exitCode, 0) << secondResult.err;

    CookieStore store;
    ASSERT_TRUE(store.Open(home / "data" / "cookies.txt"));
    const std::string sent = store.CookiesFor("https://www.example.test/");
    for (const std::string name : {"a", "b"}) {
        for (int i = 0; i < 10; ++i) {
            EXPECT_NE(sent.find(name + std::to_string(i) + "=v"), std::string::npos)
                << name << i << " in " << sent;
        }
    }
    const std::string route = store.CookiesFor("https://r.qzone.qq.com/");
    EXPECT_NE(route.find("route12345=1"), std::string::npos) << route;
    EXPECT_NE(route.find("route67890=1"), std::string::npos) << route;
    EXPECT_EQ(store.Size(), 24u);

    const SettingsArea settings = LoadSettings(home / "data");
    const auto& recent = settings.recent[kRecentAddresses];
    EXPECT_NE(std::find(recent.begin(), recent.end(), "12345"), recent.end());
    EXPECT_NE(std::find(recent.begin(), recent.end(), "67890"), recent.end());
}

// A home the program may read but not write: it still lists, and says once that
// settings and cookies are not kept.
TEST_F(CliQzoneTest, ReadOnlyHomeSaysSoOnce) {
    ASSERT_EQ(test::RunProcess(Command({"-l", "12345"})).exitCode, 0);
    std::ofstream(home / "browser-cookies.txt", std::ios::app)
        << ".qq.com\tTRUE\t/\tFALSE\t0\tnew\tcookie\n";
    const auto data = home / "data";
    std::filesystem::permissions(
        data, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::vector<std::string> command = Command({"-l", "67890"});
    if (::geteuid() == 0) {
        // Root writes anywhere; without these capabilities it obeys the folder's mode.
        if (!std::filesystem::exists("/usr/bin/setpriv")) {
            std::filesystem::permissions(data, std::filesystem::perms::owner_all);
            GTEST_SKIP() << "running as root without setpriv";
        }
        command.insert(command.begin(), {"/usr/bin/setpriv", "--bounding-set",
                                         "-dac_override,-dac_read_search,-fowner", "--"});
    }
    const auto result = test::RunProcess(command);
    std::filesystem::permissions(data, std::filesystem::perms::owner_all);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("0001\t旅行")) << "the listing itself works";
    const std::string warning = std::string("[提示] ") + kHomeNotWritable + data.string();
    const std::size_t at = result.err.find(warning);
    EXPECT_NE(at, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(kHomeNotWritable, at + warning.size()), std::string::npos)
        << "once: " << result.err;
    const auto& recent = LoadSettings(data).recent[kRecentAddresses];
    EXPECT_EQ(std::find(recent.begin(), recent.end(), "67890"), recent.end());
}

}  // namespace
}  // namespace brenvik
