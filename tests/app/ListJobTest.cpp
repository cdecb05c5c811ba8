#include "app/ListJob.h"

#include <gtest/gtest.h>

#include "session/Session.h"
#include "download/Collect.h"
#include "net/CookieStore.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

// Stand-in adapters for sites whose real adapters are not the subject here.
struct FakeSite {
    static inline int albumsToAdd = 0;
    static inline std::vector<std::string> inputs;
    static void List(Session& session, const std::string& input) {
        inputs.push_back(input);
        for (int i = 0; i < albumsToAdd; ++i) {
            AddAlbum(session, AlbumRecord{.name = "album " + std::to_string(i)});
            if (session.listingState == kListingStopAsked) {
                return;
            }
            if (i == 1 && stopAfterTwo) {
                session.listingState = kListingStopAsked;  // the user pressed stop meanwhile
            }
        }
    }
    static inline bool stopAfterTwo = false;
};

class ListJobTest : public ::testing::Test {
  protected:
    ListJobTest() : session(home.Path(), front) {
        session.ready = true;
        FakeSite::albumsToAdd = 0;
        FakeSite::inputs.clear();
        FakeSite::stopAfterTwo = false;
        RegisterAlbumLister(AlbumLister::Albums51, &FakeSite::List);
        RegisterAlbumLister(AlbumLister::TiebaPostAlbum, &FakeSite::List);
        RegisterAlbumLister(AlbumLister::BabytreeFirstForm, &FakeSite::List);
        RegisterAlbumLister(AlbumLister::BabytreeSecondForm, &FakeSite::List);
    }
    ListJobOutcome Run(int site, const std::string& text) {
        PrepareListing(session, site);
        return GetListFunc(session, text, 0);
    }

    test::TempDir home;
    test::FakeFrontEnd front;
    Session session;
};

TEST_F(ListJobTest, EmptyInputTouchesNothing) {
    const auto outcome = Run(8, "   ");
    EXPECT_EQ(outcome.albums, 0);
    EXPECT_EQ(front.messages, std::vector<std::string>{"请输入QQ号、用户名或网址后再获取相册"});
    EXPECT_TRUE(front.controls.empty());
    EXPECT_TRUE(front.listingLooks.empty());
    EXPECT_EQ(session.listingState, kListingIdle);
}

TEST_F(ListJobTest, OtherSitesNeedAnAddress) {
    Run(8, "carol");
    EXPECT_EQ(front.messages,
              std::vector<std::string>{"请输入完整的网址(以http://或https://开头)"});
    EXPECT_TRUE(FakeSite::inputs.empty());
    EXPECT_EQ(front.controls[kControlJobStatus], "获取相册列表完成，共0个");
    EXPECT_EQ(front.listingLooks, (std::vector<bool>{true, false}));
}

TEST_F(ListJobTest, CountsHistoryAndOwnerTexts) {
    FakeSite::albumsToAdd = 3;
    const auto outcome = Run(8, "  http://photo.51.com/carol/x  ");
    EXPECT_EQ(outcome.albums, 3);
    EXPECT_EQ(FakeSite::inputs, std::vector<std::string>{"carol"});
    EXPECT_EQ(front.controls[kControlAlbumFrame], "相册列表(共3个)");
    EXPECT_EQ(front.controls[kControlJobStatus], "获取相册列表完成，共3个");
    EXPECT_EQ(session.Settings().recent[kRecentAddresses][0], "http://photo.51.com/carol/x");
    EXPECT_FALSE(outcome.autoDownload);
    EXPECT_EQ(front.rows.size(), 3u);
}

TEST_F(ListJobTest, NothingFoundKeepsTheHistory) {
    Run(8, "http://photo.51.com/nobody");
    EXPECT_EQ(session.Settings().recent[kRecentAddresses][0], "");
}

TEST_F(ListJobTest, SitesNotBuiltYetSaySo) {
    Run(10, "http://photo.pchome.com.tw/ellen");
    EXPECT_EQ(front.messages, std::vector<std::string>{"暂不支持该网站的相册获取，敬请期待新版本"});
}

TEST_F(ListJobTest, TiebaPostWithOneAlbumDownloadsAtOnce) {
    FakeSite::albumsToAdd = 1;
    const auto outcome = Run(1, "http://tieba.baidu.com/photo/p?kw=%E7%8C%AB&tid=9");
    EXPECT_TRUE(outcome.autoDownload);
    EXPECT_EQ(front.autoDownloads, 1);
    EXPECT_EQ(session.OwnerName(), "猫");
    EXPECT_EQ(session.subKind, 2);

    FakeSite::albumsToAdd = 2;
    EXPECT_FALSE(Run(1, "http://tieba.baidu.com/photo/p?kw=x&tid=9").autoDownload);
}

TEST_F(ListJobTest, SecondAdapterRunsOnlyWhenTheFirstFoundNothing) {
    Run(13, "http://www.babytree.com/u1");
    EXPECT_EQ(FakeSite::inputs.size(), 2u);
    EXPECT_EQ(session.subKind, 1);
    FakeSite::inputs.clear();
    FakeSite::albumsToAdd = 1;
    Run(13, "http://www.babytree.com/u1");
    EXPECT_EQ(FakeSite::inputs.size(), 1u);
    EXPECT_EQ(session.subKind, 0);
}

TEST_F(ListJobTest, StopKeepsWhatWasFound) {
    FakeSite::albumsToAdd = 10;
    FakeSite::stopAfterTwo = true;
    const auto outcome = Run(8, "http://photo.51.com/carol");
    EXPECT_EQ(outcome.albums, 3);
    EXPECT_EQ(front.controls[kControlJobStatus], "已终止获取相册列表，已获取3个");
    EXPECT_EQ(session.listingState, kListingIdle);
}

// A home where nothing can be written (a path below a file of /proc): the session says
// so once, whether settings or cookies fail first, and never for a home that works.
TEST(SessionHome, UnwritableHomeIsReportedOnce) {
    const std::filesystem::path nowhere = "/proc/self/status/home";
    test::FakeFrontEnd front;
    {
        Session session(nowhere, front);
        EXPECT_TRUE(front.messages.empty()) << "nothing is said before the front end asks";
        session.CheckHome();
        session.AddRecent(kRecentAddresses, "12345");
        CookieStore::Shared().Open(nowhere / "cookies.txt");
        CookieStore::Shared().Put(".qq.com\tTRUE\t/\tFALSE\t0\tskey\tx");
        EXPECT_EQ(front.messages, std::vector<std::string>{kHomeNotWritable + nowhere.string()});
        EXPECT_EQ(session.Settings().recent[kRecentAddresses][0], "12345")
            << "this run still remembers it";
    }

    test::TempDir home;
    ASSERT_TRUE(CookieStore::Shared().Open(home / "cookies.txt"));
    test::FakeFrontEnd other;
    Session session(home.Path(), other);
    session.CheckHome();
    session.AddRecent(kRecentAddresses, "67890");
    EXPECT_TRUE(other.messages.empty());
    // Only the cookies fail: said once, when it happens.
    EXPECT_FALSE(CookieStore::Shared().Open(nowhere / "cookies.txt"));
    CookieStore::Shared().Put(".qq.com\tTRUE\t/\tFALSE\t0\tuin\to2");
    EXPECT_EQ(other.messages, std::vector<std::string>{kHomeNotWritable + home.Path().string()});
    CookieStore::Shared().Open("");
    CookieStore::Shared().Clear();
}

// A host name that does not resolve: the site never answered, so its hint about logging
// in does not apply; the host and the cause are named, in one message.
TEST_F(ListJobTest, AnUnresolvableHostIsNamedWithoutTheLoginHint) {
    RegisterAllSites();
    SetPageFetchHook([](const URLRequest&, FetchResponse& response) {
        response.problem = FetchProblem::Resolve;
        return false;
    });
    Run(0, "12345");
    SetPageFetchHook(nullptr);
    EXPECT_EQ(front.messages, std::vector<std::string>{"QQ空间相册错误1（无法连接 "
                                                       "user.qzone.qq.com：无法解析主机名）"});
    EXPECT_EQ(front.controls[kControlJobStatus],
              "获取相册列表失败：无法连接 user.qzone.qq.com：无法解析主机名");
}

}  // namespace
}  // namespace brenvik
