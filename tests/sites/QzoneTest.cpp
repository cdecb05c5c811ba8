#include <fstream>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/DownloadJob.h"
#include "download/ListTypes.h"
#include "net/CookieStore.h"
#include "sites/AdapterKit.h"
#include "sites/Qzone.h"
#include "sites/QzoneServers.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"

namespace brenvik {
namespace {

using test::QzoneAlbum;
using test::QzonePhoto;
using test::QzoneServers;

TEST(QzoneToken, FromSkey) {
    EXPECT_EQ(QzoneToken("abc"), 193485963u);
    EXPECT_EQ(QzoneToken(""), 5381u);
    // Units above ASCII count as UTF-16 code units, and the sum wraps in 32 bits.
    EXPECT_EQ(QzoneToken("中"), (5381u * 33u + 0x4E2Du) & 2147483647u);
    EXPECT_EQ(QzoneToken(std::string(8, 'z')), 1741535445u);
}

std::vector<QzoneAlbum> StandardAlbums(const QzoneServers& s) {
    QzoneAlbum trip{"A1", "旅行", "1", {}};
    QzonePhoto sunrise{.name = "日出", .rawUpload = true};
    sunrise.originUrl = "https:\\/\\/b1.qpic.cn\\/o\\/img?id=p1";
    sunrise.pre = "https:\\/\\/a1.qpic.cn\\/a\\/img?id=p1pre";
    QzonePhoto dusk{.name = "", .desc = "晚霞", .raw = s.Image("b1.qpic.cn", "p2")};
    dusk.pre = s.Image("a1.qpic.cn", "p2pre");
    QzonePhoto again{.name = " 日出 ", .raw = s.Image("b1.qpic.cn", "p3")};
    again.pre = s.Image("a1.qpic.cn", "p3pre");
    trip.photos = {sunrise, dusk, again};
    QzoneAlbum hidden{"A2", "私密", "3", {{.name = "秘密", .raw = s.Image("b1.qpic.cn", "h1")}}};
    QzoneAlbum locked{"A3", "加密", "5", {{.name = "锁", .raw = s.Image("b1.qpic.cn", "l1")}}};
    return {trip, hidden, locked};
}

class QzoneTest : public ::testing::Test {
  protected:
    QzoneTest() : session(home.Path(), front) {
        RegisterAllSites();
        CookieStore::Shared().Clear();
        QzoneServers::PutLoginCookies();
        SetAdapterPauseHook(
            [this](std::chrono::milliseconds time) { pauses.push_back(time.count()); });
        servers.albums = StandardAlbums(servers);
        session.ready = true;
    }
    ~QzoneTest() override {
        SetAdapterPauseHook(nullptr);
        CookieStore::Shared().Clear();
    }
    ListJobOutcome List(const std::string& text = QzoneServers::kQq) {
        PrepareListing(session, 0);
        return GetListFunc(session, text, 0);
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    QzoneServers servers;
    test::LocalRouting routing{servers.Routes()};
    std::vector<long long> pauses;
};

TEST_F(QzoneTest, ListsAlbumsThroughTheRouteService) {
    const auto outcome = List("https://user.qzone.qq.com/12345?x=1");
    ASSERT_EQ(outcome.albums, 3);
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "旅行");
    EXPECT_EQ(albums[0].key, "idcNum=10&hostUin=12345&albumid=A1");
    EXPECT_EQ(albums[0].coverUrl, "https://a1.qpic.cn/cover/A1");
    EXPECT_EQ(albums[0].photoCount, 3);
    EXPECT_EQ(albums[0].access, 0);
    EXPECT_EQ(albums[1].access, kAccessPrivate);
    EXPECT_EQ(albums[2].access, kAccessEncrypted);
    EXPECT_EQ(session.SiteText(), "szplist.photo.qq.com");
    EXPECT_EQ(session.ViewHost(), "sznu.photo.qq.com");
    EXPECT_EQ(front.controls[kControlAlbumFrame], "相册列表(共3个)");
    EXPECT_EQ(front.controls[kControlJobStatus], "获取相册列表完成，共3个");
    EXPECT_TRUE(front.messages.empty());
    EXPECT_EQ(session.Settings().recent[kRecentAddresses][0],
              "https://user.qzone.qq.com/12345?x=1");
    const auto requests = servers.server.Requests();
    const auto list = std::find_if(requests.begin(), requests.end(),
                                   [](const auto& r) { return r.host == "alist.photo.qq.com"; });
    ASSERT_NE(list, requests.end());
    EXPECT_EQ(list->Header("Referer"), "https://user.qzone.qq.com/12345");
    EXPECT_EQ(list->Header("Accept-Encoding"), "gzip, deflate");
}

TEST_F(QzoneTest, RouteFallbackAndFailure) {
    servers.routeDown = true;
    EXPECT_EQ(List().albums, 3);
    EXPECT_GE(servers.fallbackRouteRequests, 1);

    servers.server.On("user.qzone.qq.com", "/q/route.store/GetRoute",
                      [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    front.messages.clear();
    EXPECT_EQ(List().albums, 0);
    ASSERT_GE(front.messages.size(), 1u);
    EXPECT_EQ(front.messages[0], "QQ空间相册错误1");
}

TEST_F(QzoneTest, WrongTokenAsksForIdentity) {
    CookieStore::Shared().Put(".qq.com\tTRUE\t/\tFALSE\t0\tskey\twrong");
    front.answer = true;
    EXPECT_EQ(List().albums, 0);
    ASSERT_FALSE(front.questions.empty());
    EXPECT_EQ(front.questions[0],
              "加密或非公开空间，是否进行身份验证?\n(验证成功后请重新获取相册列表)");
    EXPECT_EQ(front.logins[0], "https://user.qzone.qq.com/12345");
    EXPECT_TRUE(front.messages.back().starts_with("没有获取到相册，原因如下："));
}

TEST_F(QzoneTest, ThrottlingTextShownAsItIs) {
    servers.throttle = true;
    servers.v3FirstPassEmpty = true;
    servers.albums.clear();
    List();
    ASSERT_FALSE(front.messages.empty());
    EXPECT_EQ(front.messages[0], "对不起，您的操作过于频繁，请稍后再试");
    EXPECT_TRUE(front.questions.empty());
}

TEST_F(QzoneTest, VersionThreeFallbackWithSecondPass) {
    servers.v2Empty = true;
    servers.v3FirstPassEmpty = true;
    EXPECT_EQ(List().albums, 3);
    EXPECT_EQ(front.messages, std::vector<std::string>{"对不起，网络繁忙，请稍后再试！"});
    EXPECT_EQ(servers.Recorded(servers.v3Hosts),
              (std::vector<std::string>{"alist.photo.qq.com", "xalist.photo.qq.com"}));
    EXPECT_EQ(session.albums.At(0)->key, "idcNum=102&hostUin=12345&albumid=A1");
    EXPECT_EQ(session.SiteText(), "xaplist.photo.qq.com");
}

TEST_F(QzoneTest, NotANumber) {
    EXPECT_EQ(List("12a45").albums, 0);
    EXPECT_EQ(front.messages, std::vector<std::string>{"请直接输入QQ号进行下载"});
    EXPECT_EQ(servers.server.RequestCount(), 0u);
}

TEST_F(QzoneTest, PhotosWithFallbackAddressesAndNames) {
    ASSERT_EQ(List().albums, 3);
    servers.brokenImages.insert("p2");
    const auto outcome = RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(outcome.failed, 0);
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].url, "https://b1.qpic.cn/r/img?id=p1\r\nhttps://a1.qpic.cn/b/img?id=p1pre");
    EXPECT_EQ(rows[0].fileName, "日出.jpg");
    EXPECT_EQ(rows[1].fileName, "晚霞.jpg") << "an empty name takes the description";
    EXPECT_EQ(rows[2].fileName, "日出(1).jpg");
    std::ifstream in(save / "旅行" / "晚霞.jpg", std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(bytes, QzoneServers::ImageBytes("p2pre"));
    EXPECT_EQ(ReadFirstAddress(save / "旅行"), "https://b1.qpic.cn/r/img?id=p1");
    EXPECT_EQ(servers.Recorded(servers.pageStarts), (std::vector<std::string>{"0", "500"}));
}

TEST_F(QzoneTest, PrivateAlbumsUseViewModeUnlessQ2) {
    ASSERT_EQ(List().albums, 3);
    RunDownloadJob(session, {1}, save.Path().string());
    EXPECT_TRUE(std::filesystem::exists(save / "私密" / "秘密.jpg"));
    EXPECT_EQ(servers.Recorded(servers.pageStarts), std::vector<std::string>{"view"});

    std::ofstream(home / "Q2.txt") << "";
    servers.pageStarts.clear();
    RunDownloadJob(session, {1}, (save / "again").string());
    EXPECT_EQ(servers.Recorded(servers.pageStarts), (std::vector<std::string>{"0", "500"}));
}

TEST_F(QzoneTest, EncryptedAlbumAsksForThePassword) {
    ASSERT_EQ(List().albums, 3);
    front.answer = false;
    RunDownloadJob(session, {2}, save.Path().string());
    EXPECT_EQ(session.downloads.Size(), 0u);
    ASSERT_EQ(front.questions.size(), 2u) << "once per adapter: the photo list and the plist";
    EXPECT_EQ(front.questions[0], "加密相册，是否输入密码？");
    EXPECT_GE(servers.plistRequests, 1);

    // List mode (Q2.txt): the first answer wants the password, which the login browser
    // then gives; the same page is asked again and brings the photos.
    front.questions.clear();
    front.answer = true;
    std::ofstream(home / "Q2.txt") << "";
    servers.pageStarts.clear();
    servers.server.On("szplist.photo.qq.com", "/fcgi-bin/cgi_list_photo",
                      [this](const httplib::Request& req, httplib::Response& res) {
                          const bool first = servers.Recorded(servers.pageStarts).empty();
                          servers.passwordGiven = !first;
                          servers.PhotoList(req, res, "topicId");
                      });
    RunDownloadJob(session, {2}, save.Path().string());
    EXPECT_EQ(front.logins.back(), "https://user.qzone.qq.com/12345/photo/A3");
    EXPECT_EQ(servers.Recorded(servers.pageStarts), (std::vector<std::string>{"0", "0", "500"}))
        << "the page asked before the password is asked again";
    EXPECT_EQ(session.downloads.Size(), 1u);
}

TEST_F(QzoneTest, PlistFallbackWaitsLongerEachPage) {
    ASSERT_EQ(List().albums, 3);
    servers.albums[0].pages = 3;
    session.downloads.Clear();
    session.downloads.SetAlbumFolder(save.Path());
    session.downloadState = kDownloadRunning;
    FindPhotoLister(PhotoLister::QzoneFallbackPhotos)(session, 0);
    EXPECT_EQ(session.downloads.Size(), 9u);
    EXPECT_EQ(pauses, (std::vector<long long>{4200, 4400, 4600}));
    const auto requests = servers.server.Requests();
    const auto plist = std::find_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.path.starts_with("/p/plist.photo/");
    });
    ASSERT_NE(plist, requests.end());
    EXPECT_NE(plist->path.find("&uin=12345&"), std::string::npos) << "uin without o and zeros";
    EXPECT_NE(plist->path.find("topicId=A1"), std::string::npos);
}

void WriteExtendedSettings(const std::filesystem::path& home, const std::string& qzoneKeys) {
    std::ofstream(home / kExtendedSettingsFile, std::ios::trunc) << "[QQ空间]\n" << qzoneKeys;
}

TEST_F(QzoneTest, VersionTwoListReadWithItsOwnCharset) {
    // UTF-8 list, V2 set to UTF8 and V3 to ANSI: only the V2 setting reads it right.
    servers.v2Utf8 = true;
    WriteExtendedSettings(home.Path(), "V2编码=UTF8\nV3编码=ANSI\n");
    ASSERT_EQ(List().albums, 3);
    EXPECT_EQ(session.albums.At(0)->name, "旅行");

    // And the other way round: a GBK list, V2 ANSI, V3 UTF8.
    servers.v2Utf8 = false;
    WriteExtendedSettings(home.Path(), "V2编码=ANSI\nV3编码=UTF8\n");
    ASSERT_EQ(List().albums, 3);
    EXPECT_EQ(session.albums.At(1)->name, "私密");
}

TEST_F(QzoneTest, OriginalNameSettingChoosesNameOrDescription) {
    servers.albums[0].photos[0].desc = "朝霞";  // a photo with a name and a description
    ASSERT_EQ(List().albums, 3);
    RunDownloadJob(session, {0}, save.Path().string());
    ASSERT_EQ(session.downloads.Size(), 3u);
    EXPECT_EQ(session.downloads.Row(0).fileName, "日出.jpg") << "1 (the default): name first";

    WriteExtendedSettings(home.Path(), "取原始名方式=2\n");
    RunDownloadJob(session, {0}, (save / "again").string());
    ASSERT_EQ(session.downloads.Size(), 3u);
    EXPECT_EQ(session.downloads.Row(0).fileName, "朝霞.jpg") << "description first";
    EXPECT_EQ(session.downloads.Row(1).fileName, "晚霞.jpg");
    EXPECT_EQ(session.downloads.Row(2).fileName, "日出.jpg") << "no description: the name";
}

TEST_F(QzoneTest, EntriesWithoutAnyAddressAreNoPhotos) {
    auto& photos = servers.albums[0].photos;
    photos.insert(photos.begin(), QzonePhoto{.name = "空"});  // no raw, origin_url or pre
    photos.push_back(QzonePhoto{.name = "也空"});
    ASSERT_EQ(List().albums, 3);
    const auto outcome = RunDownloadJob(session, {0}, save.Path().string());
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 3u) << "an empty first entry does not end the list either";
    for (const auto& row : rows) {
        EXPECT_FALSE(row.url.empty()) << row.fileName;
    }
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(servers.Recorded(servers.pageStarts), (std::vector<std::string>{"0", "500"}));
}

TEST(QzoneStop, ListsEndAtTheRowOrPhotoAStopFollows) {
    QzoneServers servers;
    servers.albums = StandardAlbums(servers);
    test::TempDir home;
    test::TempDir save;
    test::StopAfter front;
    Session session(home.Path(), front);
    front.session = &session;
    RegisterAllSites();
    const test::LocalRouting routing(servers.Routes());
    CookieStore::Shared().Clear();
    QzoneServers::PutLoginCookies();
    SetAdapterPauseHook([](std::chrono::milliseconds) {});
    session.ready = true;
    const auto list = [&](int stopAfterRows, bool v2Empty) {
        servers.v2Empty = v2Empty;
        front.rowLimit = stopAfterRows;
        front.albums = 0;
        PrepareListing(session, 0);
        return GetListFunc(session, QzoneServers::kQq, 0).albums;
    };
    EXPECT_EQ(list(1, false), 1) << "version 2";
    EXPECT_EQ(list(1, true), 1) << "version 3";
    EXPECT_EQ(list(0, false), 3);

    const auto collect = [&](PhotoLister lister, int stopAfterPhotos) {
        front.photoLimit = stopAfterPhotos;
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
        FindPhotoLister(lister)(session, 0);
        return session.downloads.Size();
    };
    EXPECT_EQ(collect(PhotoLister::QzonePhotos, 1), 1u);
    EXPECT_EQ(collect(PhotoLister::QzonePhotos, 0), 3u);
    EXPECT_EQ(collect(PhotoLister::QzoneFallbackPhotos, 1), 1u);
    EXPECT_EQ(collect(PhotoLister::QzoneFallbackPhotos, 0), 3u);
    SetAdapterPauseHook(nullptr);
    CookieStore::Shared().Clear();
}

TEST(QzoneImageEntry, OriginUrlRewriteAndPsbe) {
    // Through the photo list of a server that answers one item: checked via the rows.
    QzoneServers servers;
    QzoneAlbum album{"A9", "x", "1", {}};
    QzonePhoto photo{.name = "n", .raw = "https:\\/\\/b1.qpic.cn\\/psbe?\\/abc"};
    photo.pre = "https:\\/\\/a1.qpic.cn\\/a\\/pre";
    album.photos = {photo};
    servers.albums = {album};
    test::TempDir home;
    test::FakeFrontEnd front;
    Session session(home.Path(), front);
    RegisterAllSites();
    const test::LocalRouting routing(servers.Routes());
    QzoneServers::PutLoginCookies();
    session.ready = true;
    PrepareListing(session, 0);
    GetListFunc(session, "12345", 0);
    session.downloads.SetAlbumFolder(home.Path());
    session.downloadState = kDownloadRunning;
    FindPhotoLister(PhotoLister::QzonePhotos)(session, 0);
    ASSERT_EQ(session.downloads.Size(), 1u);
    EXPECT_EQ(session.downloads.Row(0).url,
              "https://b1.qpic.cn/psb?/abc\r\nhttps://a1.qpic.cn/b/pre");
    CookieStore::Shared().Clear();
}

}  // namespace
}  // namespace brenvik
