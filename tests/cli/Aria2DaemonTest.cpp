// Downloads handed to a real aria2c over JSON-RPC: the photos of a Renren album whose
// picture host refuses requests without the album's Referer and the login cookie.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "cli/LocalRenren.h"
#include "support/LocalAria2.h"
#include "support/Nginx.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using test::ReadFile;

constexpr const char* kSecret = "s3cret";

class Aria2DaemonTest : public ::testing::Test {
  protected:
    Aria2DaemonTest() { site.WriteCookies(home / "cookies-in.txt"); }
    test::ProcessResult Cli(const std::string& rpc, const std::string& secret,
                            std::vector<std::string> extra) {
        extra.insert(extra.begin(),
                     {"--home", (home / "data").string(), "--cookies",
                      (home / "cookies-in.txt").string(), "-o", save.Path().string(), "-a", "1",
                      "--skip", "--aria2-rpc", rpc, "--aria2-secret", secret});
        extra.push_back("https://www.renren.com/zhangsan");
        return test::RunProcess(test::CliCommand(BRENVIK_CLI_PATH, site.Routes(), extra));
    }
    std::filesystem::path Album() const { return save.Path() / "张三" / "旅行"; }
    std::vector<std::string> Pictures() const {
        std::vector<std::string> files;
        for (const std::string& file : save.Files()) {
            if (file.ends_with(".jpg")) {
                files.push_back(file);
            }
        }
        return files;
    }

    test::LocalRenren site;
    test::TempDir home;
    test::TempDir save;
    test::LocalAria2 aria2{kSecret, home.Path()};
};

TEST_F(Aria2DaemonTest, WaitedPhotosArriveUnderTheirNamesAndASecondRunQueuesNothing) {
    const auto first = Cli(aria2.Rpc(), kSecret, {"--wait"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadFile(Album() / (std::to_string(i + 1) + ".jpg")),
                  test::PictureBytes("/101/" + std::to_string(i) + ".jpg"));
    }
    const auto second = Cli(aria2.Rpc(), kSecret, {"--wait"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(site.PictureRequests().size(), 3u) << "the record holds every photo";
    EXPECT_EQ(Pictures().size(), 3u);
}

TEST_F(Aria2DaemonTest, WithoutWaitingThePhotosAreQueuedAndNothingIsRecorded) {
    const auto result = Cli(aria2.Rpc(), kSecret, {});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE((result.out + result.err).find("已交给aria2：3张"), std::string::npos) << result.err;
    for (int i = 0; i < 200 && Pictures().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(Pictures().size(), 3u) << "the daemon fetched them on its own";
    EXPECT_EQ(ReadFile(Album() / "pic.zvt").find(site.Picture(1)), std::string::npos);
}

TEST_F(Aria2DaemonTest, TheDaemonSideFolderStandsForTheSavePath) {
    const test::TempDir elsewhere;
    const auto result = Cli(aria2.Rpc(), kSecret, {"--wait", "--aria2-dir", elsewhere.Path()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(elsewhere.Path() / "张三" / "旅行" / "3.jpg"),
              test::PictureBytes("/101/2.jpg"));
    EXPECT_TRUE(Pictures().empty());
}

TEST_F(Aria2DaemonTest, AWrongSecretOrADeadDaemonIsAClearErrorAndNothingIsRecorded) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/jsonrpc";
    const struct {
        std::string rpc;
        std::string secret;
        std::string said;
    } kCases[] = {
        {aria2.Rpc(), "wrong", "aria2拒绝了密钥 (" + aria2.Rpc() + ")"},
        {dead, kSecret, "无法连接aria2 (" + dead + ")"},
    };
    for (const auto& each : kCases) {
        const auto result = Cli(each.rpc, each.secret, {"--wait"});
        EXPECT_NE(result.exitCode, 0) << each.rpc;
        EXPECT_NE(result.err.find(each.said), std::string::npos) << result.err;
        EXPECT_EQ(ReadFile(Album() / "pic.zvt"), "") << each.rpc;
    }
    EXPECT_TRUE(site.PictureRequests().empty());
}

}  // namespace
}  // namespace brenvik
