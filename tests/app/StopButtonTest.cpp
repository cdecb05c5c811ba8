// The window's stop buttons, as the window presses them: the session's stop calls from
// another thread while a listing or a download waits on a server that never finishes.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/DownloadJob.h"
#include "net/CookieStore.h"
#include "sites/AdapterKit.h"
#include "sites/QzoneServers.h"
#include "sites/QzoneStalls.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::QzoneServers;

using test::kServerPatience;
using test::kStopPrompt;

class StopButtonTest : public ::testing::Test {
  protected:
    StopButtonTest() : session(home.Path(), front) {
        RegisterAllSites();
        CookieStore::Shared().Clear();
        QzoneServers::PutLoginCookies();
        SetAdapterPauseHook([](std::chrono::milliseconds) {});
        test::ServeOneAlbumOfOnePhoto(servers);
        session.ready = true;
    }
    ~StopButtonTest() override {
        SetAdapterPauseHook(nullptr);
        CookieStore::Shared().Clear();
    }
    // Presses the button once `ready` says so, from a thread of its own.
    std::thread PressWhen(std::function<bool()> ready, std::function<void()> press) {
        return std::thread([ready = std::move(ready), press = std::move(press)] {
            const auto end = Clock::now() + 20s;
            while (!ready() && Clock::now() < end) {
                std::this_thread::sleep_for(20ms);
            }
            press();
        });
    }
    // A temporary file, or the image under its name while it is not whole.
    bool PartOfTheImageExists() const {
        for (const auto& file : save.Files()) {
            if (file.find(".part") != std::string::npos || file.find("海边") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    QzoneServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(StopButtonTest, EndsATricklingListing) {
    std::atomic<int> listRequests{0};
    test::MakeQzoneAlbumListTrickle(servers, listRequests, kServerPatience);
    std::thread button =
        PressWhen([&] { return listRequests > 0; }, [this] { RequestListingStop(session); });
    PrepareListing(session, 0);
    const auto start = Clock::now();
    const ListJobOutcome outcome = GetListFunc(session, QzoneServers::kQq, 0);
    button.join();
    EXPECT_GT(listRequests, 0);
    EXPECT_LT(Clock::now() - start, kStopPrompt + 1s);
    EXPECT_EQ(outcome.albums, 0);
    EXPECT_EQ(session.listingState, kListingIdle);
}

TEST_F(StopButtonTest, EndsANeverEndingImageWithoutLeavingItsFile) {
    PrepareListing(session, 0);
    ASSERT_EQ(GetListFunc(session, QzoneServers::kQq, 0).albums, 1);
    std::atomic<int> pieces{0};
    test::MakeQzoneImagesEndless(servers, kServerPatience, pieces);
    std::atomic<bool> pressed{false};
    Clock::time_point pressedAt{};
    std::thread button = PressWhen([&pieces] { return pieces >= 3; },
                                   [&] {
                                       pressedAt = Clock::now();
                                       pressed = true;
                                       RequestDownloadStop(session);
                                   });
    const DownloadJobOutcome outcome = RunDownloadJob(session, {0}, save.Path().string());
    const auto ended = Clock::now();
    button.join();
    ASSERT_TRUE(pressed);
    EXPECT_LT(ended - pressedAt, kStopPrompt);
    EXPECT_TRUE(outcome.started);
    EXPECT_FALSE(PartOfTheImageExists());
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "pic.zvt"));
    EXPECT_EQ(session.downloadState, kDownloadIdle);
}

}  // namespace
}  // namespace brenvik
