// What a hostile or broken server must not achieve through the fetcher: reach the local
// machine through a redirect, keep an exchange alive for ever, fill memory or the disk,
// or outlive the user's stop.
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "net/AtomicFile.h"
#include "net/CookieStore.h"
#include "net/Routing.h"
#include "net/TransferStop.h"
#include "net/PageFetcher.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using test::RawServer;
using test::TempDir;
using test::TestServer;

// Loose bound for "ended instead of hanging"; the scripted servers below go on far longer.
constexpr double kPromptSeconds = 10.0;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sends until the peer goes away, the server shuts down or the time is up; false once
// sending failed.
bool SendFor(int fd, RawServer& self, const std::string& piece, std::chrono::milliseconds gap,
             std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(piece.size())) {
            return false;
        }
        if (gap.count() > 0) {
            self.Sleep(gap);
        }
    }
    return true;
}

class FetchSafetyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CookieStore::Shared().Clear();
        ResetRoutingFromEnvironment();
    }
    void TearDown() override { ResetRoutingFromEnvironment(); }
};

// --- Redirects ----------------------------------------------------------------------

TEST_F(FetchSafetyTest, RedirectToAnInternalAddressIsRefused) {
    TestServer internal;  // stands for a service on the user's machine
    internal.Serve("", "/secret", "internal answer", "image/jpeg");
    TestServer site;
    site.On("img.example.test", "/a.jpg", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(internal.Base() + "/secret", 302);
    });
    ASSERT_TRUE(AddConnectTo(site.RouteFor("img.example.test")));
    TempDir dir;

    URLRequest image("http://img.example.test/a.jpg", dir / "a.jpg", 5000);
    image.pauseSeconds = 0;
    FetchResponse response;
    EXPECT_FALSE(Fetch(image, response, kFetchWorker));
    EXPECT_TRUE(dir.Files().empty());

    URLRequest page("http://img.example.test/a.jpg", "", 5000);
    page.pauseSeconds = 0;
    EXPECT_FALSE(Fetch(page, response, 0));
    EXPECT_EQ(response.body.find("internal answer"), std::string::npos);
    EXPECT_EQ(internal.RequestCount(), 0u) << "the internal service was never asked";
}

TEST_F(FetchSafetyTest, RedirectsWithinTheUsersRoutesAreFollowed) {
    TestServer site;
    site.On("img.example.test", "/a.jpg", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("http://cdn.example.test/real.jpg", 302);
    });
    site.Serve("cdn.example.test", "/real.jpg", "jpeg bytes", "image/jpeg");
    ASSERT_TRUE(AddConnectTo(site.RouteFor("img.example.test")));
    ASSERT_TRUE(AddConnectTo(site.RouteFor("cdn.example.test")));
    TempDir dir;
    URLRequest image("http://img.example.test/a.jpg", dir / "a.jpg", 5000);
    FetchResponse response;
    ASSERT_TRUE(Fetch(image, response, kFetchWorker));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(site.Requests().back().host, "cdn.example.test");
}

TEST_F(FetchSafetyTest, HttpsNeverContinuesInTheClear) {
    TestServer secure(/*https=*/true);
    TestServer plain;
    secure.On("b1.qpic.cn", "/a.jpg", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("http://a1.qpic.cn/a.jpg", 302);
    });
    secure.On("b1.qpic.cn", "/b.jpg", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("https://a1.qpic.cn/a.jpg", 302);
    });
    secure.Serve("a1.qpic.cn", "/a.jpg", "secure jpeg", "image/jpeg");
    plain.Serve("a1.qpic.cn", "/a.jpg", "plain jpeg", "image/jpeg");
    ASSERT_TRUE(AddConnectTo(secure.RouteFor("b1.qpic.cn")));
    ASSERT_TRUE(AddConnectTo("a1.qpic.cn:443:127.0.0.1:" + std::to_string(secure.Port())));
    ASSERT_TRUE(AddConnectTo("a1.qpic.cn:80:127.0.0.1:" + std::to_string(plain.Port())));
    SetExtraCaFile(test::TestCertificate::Get().certFile.string());
    TempDir dir;
    URLRequest image("https://b1.qpic.cn/a.jpg", dir / "a.jpg", 5000);
    image.pauseSeconds = 0;
    FetchResponse response;
    EXPECT_FALSE(Fetch(image, response, kFetchWorker));
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_EQ(plain.RequestCount(), 0u);

    image.address = "https://b1.qpic.cn/b.jpg";  // the same hop over https is fine
    ASSERT_TRUE(Fetch(image, response, kFetchWorker));
    EXPECT_EQ(response.body, "secure jpeg");
}

// Behind a proxy the connection always reaches the proxy, whatever the address: the
// redirect's host name decides then.
TEST_F(FetchSafetyTest, BehindAProxyTheHostNameDecides) {
    std::atomic<int> localAsked{0};
    RawServer proxy([&localAsked](int fd, const std::string& head, RawServer&) {
        localAsked += head.find("localhost:1") != std::string::npos;
        const auto redirect = [fd](const std::string& to) {
            RawServer::Send(fd, "HTTP/1.1 302 Found\r\nLocation: " + to +
                                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        };
        if (head.starts_with("GET http://img.example.test/a.jpg ")) {
            redirect("http://cdn.example.test/b.jpg");
        } else if (head.starts_with("GET http://img.example.test/local.jpg ")) {
            redirect("http://localhost:1/secret");
        } else {
            RawServer::Send(fd,
                            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: "
                            "close\r\n\r\njpeg");
        }
    });
    ASSERT_EQ(::setenv("http_proxy", proxy.Base().c_str(), 1), 0);
    TempDir dir;
    URLRequest image("http://img.example.test/a.jpg", dir / "a.jpg", 5000);
    image.pauseSeconds = 0;
    FetchResponse response;
    EXPECT_TRUE(Fetch(image, response, kFetchWorker)) << "an outside name is followed";
    image.address = "http://img.example.test/local.jpg";
    image.savePath = dir / "local.jpg";
    EXPECT_FALSE(Fetch(image, response, kFetchWorker)) << "a local name is not";
    ::unsetenv("http_proxy");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(localAsked, 0) << "the local address was never asked for";
}

TEST(InternalAddresses, LocalAndPrivateRangesOnly) {
    for (const char* ip :
         {"127.0.0.1", "127.255.0.9", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
          "169.254.169.254", "0.0.0.0", "100.64.0.1", "::1", "::", "fe80::1", "fd00::5", "fc12::1",
          "::ffff:127.0.0.1", "::ffff:192.168.0.1", "not an address"}) {
        EXPECT_TRUE(IsInternalAddress(ip)) << ip;
    }
    for (const char* ip : {"8.8.8.8", "172.32.0.1", "172.15.255.255", "192.169.0.1", "100.128.0.1",
                           "2001:db8::1", "::ffff:8.8.8.8", "11.0.0.1"}) {
        EXPECT_FALSE(IsInternalAddress(ip)) << ip;
    }
}

TEST(InternalAddresses, HostNamesJudgedWithoutAnAddress) {
    for (const char* host : {"localhost", "LOCALHOST", "app.localhost", "127.0.0.1", "10.0.0.8",
                             "[::1]", "[fe80::1]"}) {
        EXPECT_TRUE(IsInternalHostName(host)) << host;
    }
    for (const char* host : {"b1.qpic.cn", "localhost.example.com", "8.8.8.8", "[2001:db8::1]"}) {
        EXPECT_FALSE(IsInternalHostName(host)) << host;
    }
}

TEST(InternalAddresses, ConnectToRulesNameTheirHostsAndPorts) {
    Routing routing;
    routing.connectTo = {"photo.example.test::127.0.0.1:8080", "img.example.test:443:127.0.0.1:9",
                         "[::1]:80:127.0.0.1:7"};
    EXPECT_TRUE(RoutedByRule(routing, "photo.example.test", 80));
    EXPECT_TRUE(RoutedByRule(routing, "PHOTO.example.test", 443));
    EXPECT_TRUE(RoutedByRule(routing, "img.example.test", 443));
    EXPECT_FALSE(RoutedByRule(routing, "img.example.test", 80));
    EXPECT_TRUE(RoutedByRule(routing, "[::1]", 80));
    EXPECT_FALSE(RoutedByRule(routing, "127.0.0.1", 8080));
    routing.connectTo.push_back("::127.0.0.1:1");  // any host, any port
    EXPECT_TRUE(RoutedByRule(routing, "127.0.0.1", 8080));
}

// --- Stop ---------------------------------------------------------------------------

// Runs the fetch on this thread under a stop test that turns true once `ready` says so.
bool FetchUntilStopped(const URLRequest& request, unsigned flags, FetchResponse& response,
                       const std::function<bool()>& ready, double& secondsAfterStop) {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::chrono::steady_clock::time_point stoppedAt{};
    std::thread asker([&] {
        while (!done && !ready()) {
            std::this_thread::sleep_for(20ms);
        }
        stoppedAt = std::chrono::steady_clock::now();
        stop = true;
    });
    bool ok = false;
    {
        const StopScope scope([&stop] { return stop.load(); });
        ok = Fetch(request, response, flags);
    }
    done = true;
    asker.join();
    secondsAfterStop = stop ? SecondsSince(stoppedAt) : -1;
    return ok;
}

TEST_F(FetchSafetyTest, StopEndsANeverEndingImageAndRemovesItsFile) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n");
        SendFor(fd, self, std::string(4096, 'i'), 50ms, 60s);
    });
    TempDir dir;
    URLRequest request(raw.Base() + "/endless.jpg", dir / "endless.jpg", 30000);
    request.attempts = 2;
    request.pauseSeconds = 5;
    FetchResponse response;
    double afterStop = -1;
    const bool ok = FetchUntilStopped(
        request, kFetchWorker, response, [&] { return !dir.Files().empty(); }, afterStop);
    EXPECT_FALSE(ok);
    EXPECT_GE(afterStop, 0.0) << "the temporary file appeared and the stop was asked";
    EXPECT_LT(afterStop, kPromptSeconds);
    EXPECT_TRUE(dir.Files().empty()) << "the temporary file is gone";
    EXPECT_EQ(raw.Connections(), 1) << "no second attempt after a stop";
}

TEST_F(FetchSafetyTest, StopEndsASlowlorisPage) {
    std::atomic<int> bytesSent{0};
    RawServer raw([&](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 60; ++i) {
            RawServer::Send(fd, "x");
            ++bytesSent;
            self.Sleep(2s);
        }
    });
    URLRequest request(raw.Base() + "/list", "", 120000);
    FetchResponse response;
    double afterStop = -1;
    EXPECT_FALSE(FetchUntilStopped(
        request, 0, response, [&] { return bytesSent > 0; }, afterStop));
    EXPECT_GE(afterStop, 0.0);
    EXPECT_LT(afterStop, kPromptSeconds);
}

// The end a second Ctrl-C brings: it cannot wait for transfers, yet their temporary files
// go, and none can appear afterwards. Runs in a child process, since it ends the process.
TEST(TemporaryFilesDeathTest, AnAbruptEndStillRemovesTemporaryFiles) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto abruptEnd = [] {
        RawServer raw([](int fd, const std::string&, RawServer& self) {
            RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n");
            SendFor(fd, self, std::string(4096, 'i'), 50ms, 60s);
        });
        TempDir dir;
        std::thread([&] {
            FetchResponse response;
            Fetch(URLRequest(raw.Base() + "/endless.jpg", dir / "endless.jpg", 30000), response,
                  kFetchWorker);
        }).detach();
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (dir.Files().empty() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
        }
        const bool temporaryAppeared = !dir.Files().empty();
        RemoveTemporariesForExit();
        const bool removed = dir.Files().empty();
        const bool refused = CreateTemporary(dir / "late.part") < 0;
        const bool stillNone = dir.Files().empty();
        std::fprintf(stderr, "appeared=%d removed=%d refused=%d none=%d\n", temporaryAppeared,
                     removed, refused, stillNone);
        std::error_code ec;
        std::filesystem::remove_all(dir.Path(), ec);
        std::_Exit(temporaryAppeared && removed && refused && stillNone ? 0 : 1);
    };
    EXPECT_EXIT(abruptEnd(), ::testing::ExitedWithCode(0), "appeared=1 removed=1 refused=1 none=1");
}

// --- Deadlines and ceilings ---------------------------------------------------------

TEST_F(FetchSafetyTest, TricklingPageEndsAtItsTimeOut) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        SendFor(fd, self, "x", 200ms, 60s);  // never quiet long enough for a read time-out
    });
    URLRequest request(raw.Base() + "/list", "", 2000);
    FetchResponse response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_LT(SecondsSince(start), kPromptSeconds);
    EXPECT_FALSE(response.body.empty()) << "what arrived before the deadline stays";
}

TEST_F(FetchSafetyTest, NeverEndingPageStopsAtThePageCeiling) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd,
                        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n");
        SendFor(fd, self, std::string(1 << 20, 'p'), 0ms, 30s);
    });
    URLRequest request(raw.Base() + "/list", "", 60000);
    FetchResponse response;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_LE(response.body.size(), kMaxPageBytes + (1u << 20));
    EXPECT_GT(response.received, 0u);

    RawServer announced([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n" + std::string(4096, 'p'));
        self.Sleep(30s);
    });
    request.address = announced.Base() + "/list";
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_TRUE(response.body.empty()) << "a length over the ceiling is refused unread";
}

TEST_F(FetchSafetyTest, ImageWithoutMaximumStopsAtTheDefaultCeiling) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd,
                        "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n");
        // Ends, as a file, a quarter above the ceiling.
        const std::string piece(1 << 20, 'i');
        for (std::size_t sent = 0; sent < kDefaultMaxImageBytes * 5 / 4; sent += piece.size()) {
            if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) {
                return;
            }
        }
        (void)self;
    });
    TempDir dir;
    URLRequest request(raw.Base() + "/huge.jpg", dir / "huge.jpg", 30000);
    FetchResponse response;
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_LE(response.received, kDefaultMaxImageBytes + (1u << 20));

    RawServer announced([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: 314572800\r\n\r\n" + std::string(4096, 'i'));
        self.Sleep(30s);
    });
    request.address = announced.Base() + "/huge.jpg";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_LT(SecondsSince(start), kPromptSeconds);
    EXPECT_TRUE(dir.Files().empty());

    // A maximum the user set is theirs: the same length passes the header check then.
    request.maxSizeKiB = 400 * 1024;
    request.readTimeoutMs = 500;
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(response.received, 4096u) << "the body was read: the user's limit allowed it";
}

}  // namespace
}  // namespace brenvik
