// Downloads that stay polite and protect themselves: hosts that refuse everything are given
// up for the album, "come back later" is waited out, and no host gets more requests at once
// than the user chose.
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "session/Session.h"
#include "download/AlbumJobTest.h"
#include "download/Collect.h"
#include "download/DownloadWorkers.h"
#include "download/DownloadJob.h"
#include "download/HostGuard.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "settings/Settings.h"
#include "support/FakeFrontEnd.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kRefused403 =
    "图片服务器连续拒绝访问(403)，已停止下载本相册，请检查登录或稍后再试";

std::string ImageBytes(const std::string& id) {
    std::string bytes = "\xFF\xD8\xFF\xE0 " + id + " ";
    bytes.resize(1500, 'p');
    return bytes;
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An image host whose answer to each request the test decides; it counts the requests that
// run at once and keeps when each arrived.
class ImageHost {
  public:
    // The answer for the id's n-th request (1-based); true serves the image.
    using Rule = std::function<bool(const std::string& id, int n, httplib::Response& res)>;

    ImageHost() {
        server.On("", "/img", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string id = req.get_param_value("id");
            int n = 0;
            {
                std::lock_guard lock(mutex);
                n = ++seen[id];
                arrivals[id].push_back(Clock::now());
            }
            const int now = ++inFlight;
            int most = maxInFlight.load();
            while (now > most && !maxInFlight.compare_exchange_weak(most, now)) {
            }
            server.Stall(delay);
            --inFlight;
            if (!rule || rule(id, n, res)) {
                res.status = 200;
                res.set_content(ImageBytes(id), "image/jpeg");
            }
        });
    }
    std::string Url(const std::string& id) const { return server.Base() + "/img?id=" + id; }
    std::chrono::steady_clock::duration GapBetweenFirstTwo(const std::string& id) {
        std::lock_guard lock(mutex);
        const auto& times = arrivals[id];
        return times.size() < 2 ? Clock::duration::zero() : times[1] - times[0];
    }

    test::TestServer server;
    Rule rule;
    std::chrono::milliseconds delay{0ms};
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    std::mutex mutex;
    std::map<std::string, int> seen;
    std::map<std::string, std::vector<Clock::time_point>> arrivals;
};

bool Refuse(int status, httplib::Response& res) {
    res.status = status;
    res.set_content("<html>no</html>", "text/html");
    return false;
}

class PoliteDownloadTest : public test::AlbumJobTest {
  protected:
    // An album of `count` photos "p0".."p<count-1>"; `address` makes each photo's entry.
    int AddAlbumOf(const std::string& name, int count,
                   const std::function<std::string(const std::string& id)>& address) {
        std::vector<test::TestPhoto> list;
        for (int i = 0; i < count; ++i) {
            list.push_back({address(name + std::to_string(i)), "p" + std::to_string(i)});
        }
        return AddTestAlbum(name, std::move(list));
    }
    std::size_t ImagesIn(const std::string& album) {
        std::size_t count = 0;
        for (const auto& file : save.Files()) {
            count += file.starts_with(album + "/") && file.ends_with(".jpg");
        }
        return count;
    }
};

// ---- The breaker ----

TEST(HostGuard, ARunOfFailuresGivesUpAHostAndASuccessStartsTheCountAgain) {
    HostGuard guard(5);
    const auto fail = [&](const std::string& host, int times, long status) {
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(guard.Enter(host));
            guard.Leave(host, HostGuard::Result::Failed, status);
        }
    };
    fail("a.example", kFailuresBeforeGivingUp - 1, 403);
    ASSERT_TRUE(guard.Enter("a.example"));
    guard.Leave("a.example", HostGuard::Result::Succeeded, 200);
    fail("a.example", kFailuresBeforeGivingUp - 1, 403);
    ASSERT_TRUE(guard.Enter("a.example"));
    guard.Leave("a.example", HostGuard::Result::Stopped, 0);
    EXPECT_FALSE(guard.GivenUp("a.example")) << "a success between, and a stop is no failure";

    fail("a.example", 1, 0);  // no answer at all keeps the status seen before
    EXPECT_TRUE(guard.GivenUp("a.example"));
    EXPECT_FALSE(guard.Enter("a.example"));
    EXPECT_FALSE(guard.GivenUp("b.example"));
    EXPECT_TRUE(guard.Enter("b.example")) << "other hosts go on";
    ASSERT_EQ(guard.GivenUpHosts().size(), 1u);
    EXPECT_EQ(guard.GivenUpHosts()[0].host, "a.example");
    EXPECT_EQ(guard.GivenUpHosts()[0].status, 403);
}

TEST(HostGuard, NoMoreRequestsAtOnceThanTheCapOrThanCouldStillFail) {
    // A stop test that always says yes makes Enter refuse instead of waiting, so what would
    // have to wait shows without any timing.
    HostGuard guard(2);
    ASSERT_TRUE(guard.Enter("a.example"));
    ASSERT_TRUE(guard.Enter("a.example"));
    {
        const StopScope stop([] { return true; });
        EXPECT_FALSE(guard.Enter("a.example")) << "the cap is reached";
        EXPECT_TRUE(guard.Enter("b.example"));
    }
    guard.Leave("a.example", HostGuard::Result::Succeeded, 200);
    EXPECT_TRUE(guard.Enter("a.example")) << "a finished request frees its place";

    HostGuard nearLimit(8);
    for (int i = 0; i < kFailuresBeforeGivingUp - 2; ++i) {
        ASSERT_TRUE(nearLimit.Enter("a.example"));
        nearLimit.Leave("a.example", HostGuard::Result::Failed, 403);
    }
    ASSERT_TRUE(nearLimit.Enter("a.example"));
    ASSERT_TRUE(nearLimit.Enter("a.example"));
    const StopScope stop([] { return true; });
    EXPECT_FALSE(nearLimit.Enter("a.example")) << "two under way could end the run";
}

TEST(HostGuard, HostKeys) {
    EXPECT_EQ(HostKey("https://User:pw@Img.Example.COM:8443/a/b.jpg?x=1"), "img.example.com:8443");
    EXPECT_EQ(HostKey("http://b1.qpic.cn/img?id=1"), "b1.qpic.cn");
    EXPECT_EQ(HostKey("http://b1.qpic.cn?id=1"), "b1.qpic.cn");
    EXPECT_EQ(HostKey("//cdn.example/x"), "cdn.example");
}

TEST_F(PoliteDownloadTest, AHostThatRefusesEverythingIsGivenUpAndTheNextAlbumDownloads) {
    ImageHost refusing;
    refusing.rule = [](const std::string&, int, httplib::Response& res) {
        return Refuse(403, res);
    };
    ImageHost fine;
    const int first = AddAlbumOf("Refused", 60, [&](const auto& id) { return refusing.Url(id); });
    const int second = AddAlbumOf("Fine", 4, [&](const auto& id) { return fine.Url(id); });
    const int third = AddAlbumOf("Again", 30, [&](const auto& id) { return refusing.Url(id); });
    const auto outcome = Run({first, second, third});

    EXPECT_EQ(refusing.server.RequestCount(), 2u * kFailuresBeforeGivingUp)
        << "each album asks the refusing host exactly the limit";
    EXPECT_EQ(front.infos, std::vector<std::string>{kRefused403})
        << "one box for the reason, not one per album or photo";
    EXPECT_EQ(ImagesIn("Fine"), 4u);
    EXPECT_EQ(ReadFirstAddress(save / "Fine"), fine.Url("Fine0"));
    EXPECT_EQ(ImagesIn("Refused") + ImagesIn("Again"), 0u);
    EXPECT_EQ(ReadFirstAddress(save / "Refused"), "") << "the album is not complete";
    EXPECT_EQ(outcome.failed, 90) << "photos never asked for count as failed";
    EXPECT_EQ(front.Control(kControlJobStatus), "下载完毕：3个相册，已保存4张，失败90张");
    bool sawAllDone = false;
    for (const auto& [id, text] : front.controlHistory) {
        sawAllDone |= text == "已下载60/60......";
    }
    EXPECT_TRUE(sawAllDone) << "the progress counts the photos given up as done";
}

TEST_F(PoliteDownloadTest, PhotosGivenUpAreFetchedByALaterRun) {
    SetFlags(kFlagSkipDownloaded);
    std::atomic<bool> refuse{true};
    ImageHost host;
    host.rule = [&](const std::string&, int, httplib::Response& res) {
        return !refuse || Refuse(403, res);
    };
    const int album = AddAlbumOf("Later", 30, [&](const auto& id) { return host.Url(id); });
    Run({album});
    ASSERT_EQ(front.infos, std::vector<std::string>{kRefused403});
    EXPECT_EQ(ReadBytes(save / "Later" / "pic.zvt"), "") << "nothing recorded as downloaded";

    refuse = false;
    host.server.ClearRequests();
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(host.server.RequestCount(), 30u);
    EXPECT_EQ(ImagesIn("Later"), 30u);
    EXPECT_EQ(ReadBytes(save / "Later" / "p29.jpg"), ImageBytes("Later29"));
}

TEST_F(PoliteDownloadTest, AGivenUpHostLeavesItsFallbacksToTheirOwnHost) {
    ImageHost refusing;
    refusing.rule = [](const std::string&, int, httplib::Response& res) {
        return Refuse(404, res);
    };
    ImageHost fallback;
    const int album = AddAlbumOf(
        "Mirror", 30, [&](const auto& id) { return refusing.Url(id) + "\r\n" + fallback.Url(id); });
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ImagesIn("Mirror"), 30u);
    EXPECT_EQ(refusing.server.RequestCount(), std::size_t{kFailuresBeforeGivingUp});
    EXPECT_EQ(fallback.server.RequestCount(), 30u);
    EXPECT_EQ(front.infos,
              std::vector<std::string>{
                  "图片服务器连续拒绝访问(404)，已停止下载本相册，请检查登录或稍后再试"});
}

TEST_F(PoliteDownloadTest, FailuresWithSuccessesBetweenNeverGiveUpTheHost) {
    ImageHost flaky;
    // Every photo fails once, more failures in all than the limit, never that many in a row.
    flaky.rule = [](const std::string&, int n, httplib::Response& res) {
        return n > 1 || Refuse(503, res);
    };
    const int album = AddAlbumOf("Flaky", 25, [&](const auto& id) { return flaky.Url(id); });
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ImagesIn("Flaky"), 25u);
    EXPECT_EQ(flaky.server.RequestCount(), 50u);
    EXPECT_TRUE(front.infos.empty());
    EXPECT_EQ(front.Control(kControlJobStatus), "下载完毕：1个相册，已保存25张");
}

// ---- Come back later ----

TEST_F(PoliteDownloadTest, RetryAfterIsWaitedOutThenTheImageArrives) {
    ImageHost busy;
    busy.rule = [](const std::string&, int n, httplib::Response& res) {
        if (n > 1) {
            return true;
        }
        res.set_header("Retry-After", "1");
        return Refuse(429, res);
    };
    const int album = AddAlbumOf("Busy", 4, [&](const auto& id) { return busy.Url(id); });
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ImagesIn("Busy"), 4u);
    EXPECT_EQ(busy.server.RequestCount(), 8u) << "asked again once each, no attempt spent";
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(busy.GapBetweenFirstTwo("Busy" + std::to_string(i)), 950ms)
            << "waited as told before asking again";
    }
    EXPECT_TRUE(front.infos.empty());
}

TEST_F(PoliteDownloadTest, AStopEndsARetryAfterWaitAtOnce) {
    ImageHost busy;
    busy.rule = [](const std::string&, int, httplib::Response& res) {
        res.set_header("Retry-After", "50");
        return Refuse(503, res);
    };
    SetThreads(2);
    const int album = AddAlbumOf("Waiting", 6, [&](const auto& id) { return busy.Url(id); });
    Clock::time_point stoppedAt;
    std::thread stopper([&] {
        while (busy.server.RequestCount() < 2) {
            std::this_thread::sleep_for(5ms);
        }
        std::this_thread::sleep_for(100ms);  // both workers are in their wait
        stoppedAt = Clock::now();
        RequestDownloadStop(session);
    });
    Run({album});
    const auto ended = Clock::now();
    stopper.join();
    EXPECT_LT(ended - stoppedAt, 5s) << "the told wait of 50 s ends with the stop";
    EXPECT_EQ(busy.server.RequestCount(), 2u) << "nothing is asked after the stop";
    EXPECT_EQ(session.downloadState, kDownloadIdle);
}

// ---- Connections per host ----

TEST_F(PoliteDownloadTest, NoHostGetsMoreRequestsAtOnceThanChosen) {
    std::ofstream(home / kExtendedSettingsFile, std::ios::binary)
        << ToGbk("[下载]\r\n每台服务器连接数=2\r\n");
    SetThreads(6);
    ImageHost a;
    ImageHost b;
    a.delay = b.delay = 60ms;
    const int album = AddAlbumOf("Two", 24, [&](const std::string& id) {
        return (id.back() - '0') % 2 ? a.Url(id) : b.Url(id);
    });
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ImagesIn("Two"), 24u);
    EXPECT_LE(a.maxInFlight, 2);
    EXPECT_LE(b.maxInFlight, 2);
    EXPECT_GE(a.maxInFlight + b.maxInFlight, 3) << "the hosts are still asked side by side";
}

}  // namespace
}  // namespace brenvik
