#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "net/AtomicFile.h"
#include "net/CookieStore.h"
#include "net/Routing.h"
#include "net/TextKit.h"
#include "net/PageFetcher.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using test::RawServer;
using test::TestServer;

// The cookies of a Cookie header in one order, whichever the client sent.
std::string SortedCookies(const std::string& header) {
    Pieces pairs;
    SplitAll(header, "; ", pairs);
    std::sort(pairs.begin(), pairs.end());
    std::string text;
    for (const auto& pair : pairs) {
        text += (text.empty() ? "" : "; ") + pair;
    }
    return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FetcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CookieStore::Shared().Clear();
        ResetRoutingFromEnvironment();
    }
    URLRequest Request(const std::string& path, unsigned timeoutMs = 5000) const {
        return URLRequest(server.Base() + path, "", timeoutMs);
    }
    TestServer server;
};

TEST_F(FetcherTest, PlainPageWithRawHeadersAndAgents) {
    server.Serve("", "/page", "<html>相册</html>");
    URLRequest request = Request("/page");
    request.headers = "Referer: http://example.test/\r\nX-Extra: one";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "<html>相册</html>");
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.rawHeaders.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(response.rawHeaders.ends_with("\r\n\r\n"));
    EXPECT_FALSE(response.gzip);

    ASSERT_TRUE(Fetch(request, response, kFetchOldAgent));
    const auto sent = server.Requests();
    ASSERT_EQ(sent.size(), 2u);
    // The stored default agent holds the header name itself; it goes out once.
    EXPECT_EQ(sent[0].Header("User-Agent"),
              "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/31.0.1650.64 Safari/537.36");
    EXPECT_EQ(sent[0].headers.count("User-Agent"), 1u);
    EXPECT_EQ(sent[1].Header("User-Agent"), kAgentOld);
    EXPECT_EQ(sent[0].Header("Referer"), "http://example.test/");
    EXPECT_EQ(sent[0].Header("X-Extra"), "one");
    EXPECT_EQ(sent[0].method, "GET");
}

TEST_F(FetcherTest, FollowsRedirectsAndKeepsFinalHeaders) {
    server.On("", "/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/new?x=1", 302);
    });
    server.On("", "/new", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("arrived " + req.get_param_value("x"), "text/plain");
    });
    FetchResponse response;
    ASSERT_TRUE(Fetch(Request("/old"), response, 0));
    EXPECT_EQ(response.body, "arrived 1");
    EXPECT_EQ(response.rawHeaders.find("302"), std::string::npos);
}

TEST_F(FetcherTest, ErrorStatusPageIsASuccessfulExchange) {
    FetchResponse response;
    ASSERT_TRUE(Fetch(Request("/missing"), response, 0));
    EXPECT_EQ(response.status, 404);
    EXPECT_NE(response.body.find("404"), std::string::npos);
}

TEST_F(FetcherTest, GzipBodyStaysCompressedUntilDecoded) {
    const std::string page = "{\"list\":[" + std::string(3000, 'x') + "]}";
    server.On("", "/gz", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(test::Gzip(page), "application/octet-stream");
    });
    URLRequest request = Request("/gz");
    request.headers = "Accept-Encoding: gzip, deflate";
    request.startMarker = "[";
    request.endMarker = "]";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_TRUE(response.gzip);
    EXPECT_EQ(response.body, test::Gzip(page));
    std::string text;
    response.GetText(text, kDecodeInflate | kDecodeUtf8);
    EXPECT_EQ(text, std::string(3000, 'x'));

    // With fetch flag 1 the minimum length is checked on the inflated body.
    request.startMarker.clear();
    request.endMarker.clear();
    request.minLength = 2000;
    request.pauseSeconds = 0;
    EXPECT_TRUE(Fetch(request, response, kFetchCacheWrite));
    EXPECT_FALSE(Fetch(request, response, 0));
}

TEST_F(FetcherTest, SizeLimitsFromHeaderAndBody) {
    server.Serve("", "/big", std::string(10 * 1024, 'b'));
    server.On("", "/chunked", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset >= 300 * 1024) {
                sink.done();
                return true;
            }
            const std::string chunk(20 * 1024, 'c');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    FetchResponse response;
    URLRequest request = Request("/big");
    request.pauseSeconds = 0;
    request.maxSizeKiB = 5;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_TRUE(response.body.empty()) << "announced length over the limit: body not read";
    request.maxSizeKiB = 10;
    EXPECT_TRUE(Fetch(request, response, 0));
    request.minSizeKiB = 11;
    EXPECT_FALSE(Fetch(request, response, 0));
    request.minSizeKiB = 0;
    request.maxSizeKiB = 0;
    EXPECT_TRUE(Fetch(request, response, 0));

    // Without a length in the header the limit applies while the body arrives.
    request = Request("/chunked");
    request.pauseSeconds = 0;
    request.maxSizeKiB = 100;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_LT(response.body.size(), 300u * 1024);
    request.maxSizeKiB = 0;
    request.minSizeKiB = 301;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_EQ(response.body.size(), 300u * 1024);
    request.minSizeKiB = 300;
    EXPECT_TRUE(Fetch(request, response, 0));
}

TEST_F(FetcherTest, MarkersTrimWhileReading) {
    server.Serve("", "/m", "head <a>one<a>two<a>three</a> tail </a>");
    URLRequest request = Request("/m");
    request.startMarker = "<a>";
    request.endMarker = "</a>";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "three");
    EXPECT_EQ(response.startMarker, "<a>");

    request.endMarker = "none";
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "three</a> tail </a>");
}

TEST_F(FetcherTest, StartMarkerSplitAcrossReads) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 26\r\n\r\nxx<mar");
        self.Sleep(300ms);
        RawServer::Send(fd, "k>yy<mark>zz");
        self.Sleep(300ms);
        RawServer::Send(fd, "<mark>ok");
    });
    URLRequest request(raw.Base() + "/", "", 5000);
    request.startMarker = "<mark>";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "ok");
}

TEST_F(FetcherTest, EndMarkerStopsReadingEarly) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nbegin <list>1,2,3</list>");
        self.Sleep(10s);  // the rest never comes
    });
    URLRequest request(raw.Base() + "/", "", 8000);
    request.startMarker = "<list>";
    request.endMarker = "</list>";
    FetchResponse response;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(response.body, "1,2,3");
}

TEST_F(FetcherTest, RetryMarkerAttemptsAndPauses) {
    int served = 0;
    server.On("", "/busy", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(++served < 3 ? "system busy" : "the real page", "text/plain");
    });
    URLRequest request = Request("/busy");
    request.retryMarker = "busy";
    request.attempts = 2;
    FetchResponse response;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_GE(SecondsSince(start), 2.0) << "a pause follows every failed attempt";
    EXPECT_EQ(server.RequestCount(), 2u);

    request.attempts = 3;
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "the real page");
    EXPECT_LT(SecondsSince(start), 2.0);

    request.attempts = 0;
    server.ClearRequests();
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(FetcherTest, EmptyBodyPassesExchangeButFailsFetch) {
    server.Serve("", "/empty", "");
    URLRequest request = Request("/empty");
    FetchResponse response;
    EXPECT_TRUE(response.FetchOnce(request, 0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_GE(SecondsSince(start), 1.0);
}

TEST_F(FetcherTest, ReadTimeoutEndsAStalledBody) {
    RawServer raw([](int fd, const std::string&, RawServer& self) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        self.Sleep(20s);
    });
    URLRequest request(raw.Base() + "/", "", 30000);
    request.readTimeoutMs = 1000;
    FetchResponse response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(response.FetchOnce(request, 0));
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_GE(SecondsSince(start), 1.0);
    EXPECT_EQ(response.body, "partial") << "what arrived before the failure stays";
}

TEST_F(FetcherTest, OperationTimeoutEndsASilentServer) {
    RawServer raw([](int, const std::string&, RawServer& self) { self.Sleep(20s); });
    URLRequest request(raw.Base() + "/", "", 30000);
    request.operationTimeoutMs = 1000;
    FetchResponse response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(response.FetchOnce(request, 0));
    EXPECT_LT(SecondsSince(start), 6.0);
}

TEST_F(FetcherTest, ResetAndShortBodiesFail) {
    RawServer reset([](int fd, const std::string&, RawServer&) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nsome");
        RawServer::Reset(fd);
    });
    FetchResponse response;
    URLRequest request(reset.Base() + "/", "", 5000);
    request.pauseSeconds = 0;
    EXPECT_FALSE(Fetch(request, response, 0));

    RawServer longer([](int fd, const std::string&, RawServer&) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello and more");
    });
    EXPECT_TRUE(Fetch(URLRequest(longer.Base() + "/", "", 5000), response, 0));
    EXPECT_EQ(response.body, "hello");
}

TEST_F(FetcherTest, PostSendsBody) {
    server.On("", "/post", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("got " + req.body, "text/plain");
    });
    URLRequest request = Request("/post");
    request.verb = "POST";
    request.headers = "Content-Type: application/x-www-form-urlencoded";
    const std::string big(2500, 'q');
    request.SetBody("a=1&b=" + big);
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "got a=1&b=" + big);
    const auto sent = server.Requests();
    EXPECT_EQ(sent.back().method, "POST");
    EXPECT_EQ(sent.back().Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(FetcherTest, SavedBodyAppearsOnlyOnSuccess) {
    test::TempDir dir;
    const std::string image(200 * 1024, 'i');
    server.Serve("", "/img.jpg", image, "image/jpeg");
    URLRequest request(server.Base() + "/img.jpg", dir / "a.jpg", 5000);
    request.startMarker = "i";  // never applied to saved bodies
    request.pauseSeconds = 0;
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(ReadFile(dir / "a.jpg"), image);
    EXPECT_EQ(response.received, image.size());
    EXPECT_EQ(response.body.size(), kSavedBodyHead);

    // Size limits broken: nothing saved, and the earlier file is left as it was.
    request.maxSizeKiB = 100;
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    request.savePath = dir / "b.jpg";
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"a.jpg"});

    // A file that cannot be created fails the exchange.
    request.maxSizeKiB = 0;
    request.savePath = dir / "no-such-folder" / "c.jpg";
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"a.jpg"});
}

TEST_F(FetcherTest, InterruptedDownloadLeavesNoFile) {
    test::TempDir dir;
    RawServer raw([](int fd, const std::string&, RawServer&) {
        RawServer::Send(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
        RawServer::Reset(fd);
    });
    URLRequest request(raw.Base() + "/x.jpg", dir / "x.jpg", 5000);
    request.pauseSeconds = 0;
    request.attempts = 2;
    FetchResponse response;
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_EQ(raw.Connections(), 2);
}

// Download workers save each body into a file without a name that they hold open: each
// exchange starts it empty, and a failed one leaves it empty.
TEST_F(FetcherTest, BodyIntoAnOpenFileStartsEmptyAndStaysEmptyOnFailure) {
    test::TempDir dir;
    const std::string image(150 * 1024, 'i');
    std::atomic<int> asked{0};
    server.On("", "/late.jpg", [&](const httplib::Request&, httplib::Response& res) {
        // The first answer is empty, which the acceptance checks turn down.
        res.set_content(asked++ == 0 ? "" : image, "image/jpeg");
    });
    server.Serve("", "/img.jpg", image, "image/jpeg");
    server.Serve("", "/short.jpg", "short", "image/jpeg");
    UnnamedFile body(dir.Path());
    ASSERT_GE(body.Descriptor(), 0);
    URLRequest request(server.Base() + "/late.jpg", {}, 5000);
    request.saveDescriptor = body.Descriptor();
    request.attempts = 2;
    request.pauseSeconds = 0;
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(body.Size(), image.size());
    EXPECT_TRUE(dir.Files().empty());  // nothing has a name in the folder yet

    // A shorter body after a longer one leaves none of the longer one's bytes.
    request.address = server.Base() + "/short.jpg";
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(body.Size(), 5u);

    // A failed exchange (over the maximum, after bytes were written) leaves it empty.
    request.address = server.Base() + "/img.jpg";
    request.maxSizeKiB = 100;
    request.attempts = 1;
    EXPECT_FALSE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(body.Size(), 0u);
    EXPECT_TRUE(dir.Files().empty());
}

TEST_F(FetcherTest, ExistingFileReplacedWhole) {
    test::TempDir dir;
    { std::ofstream(dir / "p.jpg") << "old contents that are longer than the new ones"; }
    server.Serve("", "/p.jpg", "new", "image/jpeg");
    URLRequest request(server.Base() + "/p.jpg", dir / "p.jpg", 5000);
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    EXPECT_EQ(ReadFile(dir / "p.jpg"), "new");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"p.jpg"});
}

TEST_F(FetcherTest, UnsupportedOrBrokenAddressesFail) {
    FetchResponse response;
    URLRequest request("file:///etc/passwd", "", 2000);
    request.pauseSeconds = 0;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_TRUE(response.body.empty());
    request.address = "http://";
    EXPECT_FALSE(Fetch(request, response, 0));
}

TEST_F(FetcherTest, ConnectToSendsRealHostNamesHere) {
    server.Serve("photo.example.test", "/list", "routed page");
    ASSERT_TRUE(AddConnectTo(server.RouteFor("photo.example.test")));
    EXPECT_FALSE(AddConnectTo("not-a-rule"));
    FetchResponse response;
    ASSERT_TRUE(Fetch(URLRequest("http://photo.example.test/list", "", 5000), response, 0));
    EXPECT_EQ(response.body, "routed page");
    EXPECT_EQ(server.Requests().back().host, "photo.example.test");
}

TEST(FetcherHttps, VerifiesAgainstTheExtraCaFile) {
    ResetRoutingFromEnvironment();
    TestServer server(/*https=*/true);
    server.Serve("xiangce.baidu.com", "/u/1", "secure page");
    AddConnectTo(server.RouteFor("xiangce.baidu.com"));
    URLRequest request("https://xiangce.baidu.com/u/1", "", 5000);
    request.pauseSeconds = 0;
    FetchResponse response;
    EXPECT_FALSE(Fetch(request, response, 0)) << "an unknown certificate is never trusted";

    SetExtraCaFile(test::TestCertificate::Get().certFile.string());
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.body, "secure page");
}

TEST_F(FetcherTest, CookiesSetThenSentThenRead) {
    server.On("", "/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "skey=@abc; Path=/");
        res.set_content("ok", "text/plain");
    });
    server.On("", "/logout", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "skey=gone; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
        res.set_content("bye", "text/plain");
    });
    FetchResponse response;
    ASSERT_TRUE(Fetch(Request("/login"), response, 0));
    EXPECT_EQ(GetCookies(server.Base() + "/any"), "skey=@abc");
    ASSERT_TRUE(Fetch(Request("/next"), response, 0));
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "skey=@abc");
    ASSERT_TRUE(Fetch(Request("/logout"), response, 0));
    EXPECT_EQ(GetCookies(server.Base() + "/"), "");
}

TEST_F(FetcherTest, ConcurrentFetchesKeepEveryCookie) {
    server.On("", "/set", [](const httplib::Request& req, httplib::Response& res) {
        const std::string n = req.get_param_value("n");
        res.set_header("Set-Cookie", "c" + n + "=v" + n + "; Path=/");
        res.set_content("set " + n, "text/plain");
    });
    constexpr int kThreads = 15;
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                FetchResponse response;
                const std::string n = std::to_string(t * 10 + round);
                ok += Fetch(URLRequest(server.Base() + "/set?n=" + n, "", 5000), response, 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ok, kThreads * 3);
    EXPECT_EQ(CookieStore::Shared().Size(), static_cast<std::size_t>(kThreads * 3));
    const std::string cookies = GetCookies(server.Base() + "/");
    EXPECT_EQ(CountOccurrences(cookies, "; "), static_cast<std::size_t>(kThreads * 3 - 1));
    EXPECT_NE(cookies.find("c142=v142"), std::string::npos);
}

TEST_F(FetcherTest, CookiesFollowARedirectToAnotherHost) {
    AddConnectTo(server.RouteFor("www.example.test"));
    AddConnectTo(server.RouteFor("img.example.test"));
    server.On("www.example.test", "/go", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "shared=new; Domain=example.test; Path=/");
        res.set_redirect("http://img.example.test/pic");
    });
    server.Serve("img.example.test", "/pic", "picture");
    CookieStore& store = CookieStore::Shared();
    store.Put("www.example.test\tFALSE\t/\tFALSE\t0\tpage\tp");
    store.Put("img.example.test\tFALSE\t/\tFALSE\t0\tpic\tq");
    store.Put(".example.test\tTRUE\t/\tFALSE\t0\tshared\told");
    store.Put("other.test\tFALSE\t/\tFALSE\t0\tforeign\tf");
    FetchResponse response;
    ASSERT_TRUE(Fetch(URLRequest("http://www.example.test/go", "", 5000), response, 0));
    EXPECT_EQ(response.body, "picture");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(SortedCookies(requests[0].Header("Cookie")), "page=p; shared=old");
    // The second host gets its own cookie too, and the value the first host just set
    // is not taken back to the stored one.
    EXPECT_EQ(SortedCookies(requests[1].Header("Cookie")), "pic=q; shared=new");
    EXPECT_EQ(SortedCookies(GetCookies("http://img.example.test/")), "pic=q; shared=new");
    EXPECT_EQ(GetCookies("http://other.test/"), "foreign=f");
}

TEST_F(FetcherTest, CookieDroppedFromTheStoreIsNotSentAgain) {
    server.On("", "/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "skey=@abc; Path=/");
        res.set_content("ok", "text/plain");
    });
    FetchResponse response;
    ASSERT_TRUE(Fetch(Request("/login"), response, 0));
    ASSERT_TRUE(Fetch(Request("/page"), response, 0));
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "skey=@abc");
    // As a logout in the window does: the next exchanges start without it.
    CookieStore::Shared().ClearFor(server.Base() + "/");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Fetch(Request("/page"), response, 0));
        EXPECT_EQ(server.Requests().back().Header("Cookie"), "");
    }
    EXPECT_EQ(CookieStore::Shared().Size(), 0u);
}

// Workers fetching one image after another from a host keep their connections open
// instead of opening one per image.
TEST_F(FetcherTest, ParallelWorkersReuseTheirConnections) {
    server.Serve("", "/img.jpg", std::string(20 * 1024, 'i'), "image/jpeg");
    constexpr int kThreads = 15;
    constexpr int kImagesEach = 6;
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kImagesEach; ++i) {
                FetchResponse response;
                ok += Fetch(URLRequest(server.Base() + "/img.jpg", "", 5000), response, 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(ok, kThreads * kImagesEach);
    std::set<int> connections;
    for (const auto& request : server.Requests()) {
        connections.insert(request.clientPort);
    }
    // A new connection is opened only while every pooled one is busy.
    EXPECT_LE(connections.size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
}  // namespace brenvik
