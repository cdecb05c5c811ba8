// brenvik-cli against an image host that refuses everything: the album is given up after
// the limit with one message, and the next album still downloads.
#include <atomic>
#include <fstream>

#include <gtest/gtest.h>

#include "download/HostGuard.h"
#include "sites/QzoneServers.h"
#include "support/LocalSites.h"
#include "support/Process.h"

namespace brenvik {
namespace {

using test::QzoneAlbum;
using test::QzonePhoto;
using test::QzoneServers;

constexpr const char* kRefused403 =
    "图片服务器连续拒绝访问(403)，已停止下载本相册，请检查登录或稍后再试";

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

TEST(CliPoliteDownloads, ARefusingImageHostIsGivenUpAndTheNextAlbumDownloads) {
    QzoneServers servers;
    std::atomic<int> refused{0};
    for (const char* path : {"/img", "/r/img", "/b/img"}) {
        servers.server.On("b1.qpic.cn", path, [&](const httplib::Request&, httplib::Response& res) {
            ++refused;
            res.status = 403;
            res.set_content("<html>hot-link guard</html>", "text/html");
        });
    }
    QzoneAlbum guarded{"A1", "旅行", "1", {}};
    for (int i = 0; i < 50; ++i) {
        guarded.photos.push_back({.name = "p" + std::to_string(i),
                                  .raw = servers.Image("b1.qpic.cn", "g" + std::to_string(i))});
    }
    QzoneAlbum open{"A2",
                    "私密",
                    "3",
                    {{.name = "一", .raw = servers.Image("a1.qpic.cn", "o1")},
                     {.name = "二", .raw = servers.Image("a1.qpic.cn", "o2")}}};
    servers.albums = {guarded, open};

    test::TempDir home;
    test::TempDir save;
    std::ofstream(home / "browser-cookies.txt")
        << "# Netscape HTTP Cookie File\n"
        << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << QzoneServers::kSkey << "\n"
        << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
    const auto result = test::RunProcess(test::CliCommand(
        BRENVIK_CLI_PATH, servers.Routes(),
        {"--home", (home / "data").string(), "--cookies", (home / "browser-cookies.txt").string(),
         "-a", "1-2", "-o", save.Path().string(), "--json", "12345"}));

    EXPECT_EQ(result.exitCode, 1) << "some images failed\n" << result.err;
    EXPECT_EQ(Occurrences(result.err, std::string("[提示] ") + kRefused403 + "\n"), 1u)
        << result.err;
    EXPECT_EQ(refused, kFailuresBeforeGivingUp) << "not one request more than the limit";
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"私密/pic.zvt", "私密/一.jpg", "私密/二.jpg"}));
    EXPECT_NE(result.out.find("\"failed\":50"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace brenvik
