// The fetcher honours a server's "come back later" (429 or 503 with Retry-After) for pages
// and images alike, within bounds.
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/CookieStore.h"
#include "net/Routing.h"
#include "net/TransferStop.h"
#include "net/PageFetcher.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// "Sun, 06 Nov 1994 08:49:37 GMT" for a moment from now.
std::string HttpDate(std::chrono::seconds fromNow) {
    const std::time_t when = std::time(nullptr) + fromNow.count();
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

class RetryAfterTest : public ::testing::Test {
  protected:
    RetryAfterTest() {
        CookieStore::Shared().Clear();
        ResetRoutingFromEnvironment();
        // Answers "later" (with the given status and Retry-After) the first `busyFor` times.
        server.On("", "/later", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex);
            arrivals.push_back(Clock::now());
            if (static_cast<int>(arrivals.size()) <= busyFor) {
                res.status = status;
                res.set_header("Retry-After", retryAfter);
                res.set_content("busy", "text/plain");
                return;
            }
            res.set_content("the real page", "text/plain");
        });
    }
    URLRequest Request() const {
        URLRequest request(server.Base() + "/later", "", 5000);
        request.pauseSeconds = 0;
        return request;
    }
    Clock::duration Gap(std::size_t from, std::size_t to) {
        std::lock_guard lock(mutex);
        return arrivals.at(to) - arrivals.at(from);
    }

    test::TestServer server;
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    int busyFor = 1;
    int status = 429;
    std::string retryAfter = "1";
};

TEST_F(RetryAfterTest, APageIsAskedAgainAfterTheToldSeconds) {
    FetchResponse response;
    ASSERT_TRUE(Fetch(Request(), response, 0)) << "one attempt, the wait did not spend it";
    EXPECT_EQ(response.body, "the real page");
    ASSERT_EQ(server.RequestCount(), 2u);
    EXPECT_GE(Gap(0, 1), 950ms);
}

TEST_F(RetryAfterTest, AnHttpDateIsWaitedForAndAnImageSaved) {
    status = 503;
    retryAfter = HttpDate(2s);
    test::TempDir dir;
    URLRequest request(server.Base() + "/later", dir / "page.txt", 5000);
    request.rejectErrorStatus = true;
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    ASSERT_EQ(server.RequestCount(), 2u);
    EXPECT_GE(Gap(0, 1), 1s) << "the date lies at least a whole second ahead";
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"page.txt"}) << "no busy page kept";
}

TEST_F(RetryAfterTest, AServerThatIsAlwaysBusyIsAskedABoundedNumberOfTimes) {
    busyFor = 1000;
    FetchResponse response;
    EXPECT_TRUE(Fetch(Request(), response, 0)) << "the busy page is what the server gave";
    EXPECT_EQ(response.status, 429);
    EXPECT_EQ(server.RequestCount(), 1u + kMaxToldWaits);
}

TEST_F(RetryAfterTest, WithoutRetryAfterNothingIsWaitedFor) {
    retryAfter = "soon";  // not a number or a date: no wait was asked
    URLRequest request = Request();
    request.rejectErrorStatus = true;
    FetchResponse response;
    EXPECT_FALSE(Fetch(request, response, 0));
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(RetryAfterTest, AStopEndsTheWait) {
    retryAfter = "50";
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        while (server.RequestCount() < 1) {
            std::this_thread::sleep_for(5ms);
        }
        std::this_thread::sleep_for(100ms);
        stop = true;
    });
    const StopScope scope([&] { return stop.load(); });
    const auto start = Clock::now();
    FetchResponse response;
    EXPECT_FALSE(Fetch(Request(), response, 0));
    stopper.join();
    EXPECT_LT(Clock::now() - start, 5s) << "not the 50 s the server asked for";
    EXPECT_EQ(server.RequestCount(), 1u);
}

}  // namespace
}  // namespace brenvik
