// Downloads handed to a real aria2c over JSON-RPC: the photos of a Renren album whose
// picture host refuses requests without the album's Referer and the login cookie.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "cli/LocalRenren.h"
#include "download/Aria2Handoff.h"
#include "net/TextKit.h"
#include "support/LocalAria2.h"

namespace brenvik {
namespace {

using test::ReadFile;

constexpr const char* kSecret = "s3cret";

class Aria2DaemonTest : public test::LocalRenrenCliTest {
  protected:
    test::ProcessResult Cli(const std::string& rpc, const std::string& secret,
                            std::vector<std::string> extra) {
        return test::RunProcess(Command(rpc, secret, std::move(extra)));
    }
    std::vector<std::string> Command(const std::string& rpc, const std::string& secret,
                                     std::vector<std::string> extra) const {
        extra.insert(extra.begin(),
                     {"-a", "1", "--skip", "--aria2-rpc", rpc, "--aria2-secret", secret});
        return LocalRenrenCliTest::Command(std::move(extra));
    }

    test::LocalAria2 aria2{kSecret, home.Path()};
};

TEST_F(Aria2DaemonTest, WaitedPhotosArriveUnderTheirNamesAndASecondRunQueuesNothing) {
    const auto first = Cli(aria2.Rpc(), kSecret, {"--wait"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadFile(Album() / (std::to_string(i + 1) + ".jpg")),
                  test::PictureBytes("/101/" + std::to_string(i) + ".jpg"));
    }
    EXPECT_EQ(Cli(aria2.Rpc(), kSecret, {"--wait"}).exitCode, 0);
    EXPECT_EQ(site.PictureRequests().size(), 3u) << "the record holds every photo";
}

TEST_F(Aria2DaemonTest, WithoutWaitingPhotosAreQueuedUnderFreeNamesAndNothingIsRecorded) {
    std::filesystem::create_directories(Album());
    std::ofstream(Album() / "2.jpg") << "mine";
    const auto result = Cli(aria2.Rpc(), kSecret, {});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE((result.out + result.err).find("已交给aria2：3张"), std::string::npos) << result.err;
    for (int i = 0; i < 200 && ReadFile(Album() / "2 (1).jpg").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ReadFile(Album() / "2 (1).jpg"), test::PictureBytes("/101/1.jpg")) << "on its own";
    EXPECT_EQ(ReadFile(Album() / "2.jpg"), "mine");
    EXPECT_EQ(ReadFile(Album() / "pic.zvt").find(site.Picture(1)), std::string::npos);
}

TEST_F(Aria2DaemonTest, TheDaemonSideFolderStandsForTheSavePath) {
    const test::TempDir elsewhere;
    const auto result = Cli(aria2.Rpc(), kSecret, {"--wait", "--aria2-dir", elsewhere.Path()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(elsewhere.Path() / "张三" / "旅行" / "3.jpg"),
              test::PictureBytes("/101/2.jpg"));
    EXPECT_FALSE(std::filesystem::exists(Album() / "3.jpg"));
}

TEST_F(Aria2DaemonTest, AStopEndsTheWaitAndTheDaemonKeepsItsDownloads) {
    // The daemon's requests go to a proxy that takes connections and never answers.
    const int port = test::FreePort();
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 16), 0);
    const test::LocalAria2 stalled(
        kSecret, home.Path(),
        {"--no-proxy=", "--all-proxy=http://127.0.0.1:" + std::to_string(port)});
    test::Process cli(Command(stalled.Rpc(), kSecret, {"--wait"}));
    const Aria2Rpc rpc(stalled.Rpc(), kSecret);
    std::string failure;
    for (int i = 0; i < 400; ++i) {
        const auto answers = rpc.Calls({{"aria2.getGlobalStat"}}, failure);
        if (!answers.empty() && answers[0].result.value("numActive", "") == "3") {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    cli.Signal(SIGINT);
    const auto result = cli.Wait(std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 128 + SIGINT) << result.err;
    EXPECT_NE(result.err.find(kAria2StopNotice), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(Album() / "pic.zvt").find(site.Picture(0)), std::string::npos);
    const auto after = rpc.Calls({{"aria2.getGlobalStat"}}, failure);
    ASSERT_EQ(after.size(), 1u) << failure;
    EXPECT_EQ(after[0].result.value("numActive", ""), "3") << "still the daemon's";
    ::close(silent);
}

TEST_F(Aria2DaemonTest, LoginCookiesForADaemonElsewhereOverPlainHttpAreWarnedOfOnce) {
    const std::string port = std::to_string(aria2.Port());
    const std::string nas = "http://nas.example:" + port + "/jsonrpc";
    const auto result =
        Cli(nas, kSecret, {"--wait", "--connect-to", "nas.example:" + port + ":127.0.0.1:" + port});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string warning = "登录Cookie将以未加密的http发往另一台机器上的aria2 (" + nas + ")";
    EXPECT_EQ(CountOccurrences(result.err, warning), 1u) << result.err;
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
