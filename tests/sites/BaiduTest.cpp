// Baidu albums and Tieba against local HTTPS servers playing the album host, the Tieba
// host and the Tieba picture host, in-process and through the real brenvik-cli.
#include <fstream>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "download/ListTypes.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Baidu.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/SessionViews.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

std::string ImageBytes(const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(2048, 'b');
    return bytes;
}

class BaiduServers {
  public:
    BaiduServers() : server(/*https=*/true) {
        server.On(
            "xiangce.baidu.com", "/u/owner7",
            [this](const httplib::Request&, httplib::Response& res) {
                // Embedded albums, then the end marker, then text that must never be read.
                const std::string page =
                    "<html><script>var data = "
                    "{mobileAlbum:{\"list\":[{\"create_time\":\"1\",\"album_name\":"
                    "\"\\u6625\\u6e38\",\"album_sign\":\"s1\",\"album_picture_total\":\"37\","
                    "\"picture_cover\":"
                    "\"https:\\/\\/imgsrc.baidu.com\\/"
                    "cover1.jpg\",\"x\":\"y\"},{\"create_time\":\"2\","
                    "\"album_name\":\"无签名\",\"album_sign\":\"\",\"x\":\"y\"},{\"create_time\":"
                    "\"3\","
                    "\"album_name\":\"私人\",\"album_sign\":\"s2\",\"album_picture_total\":\"4\","
                    "\"picture_cover\":\"\",\"x\":\"y\"}]},userAlbumList:[]};</script>"
                    "<div id=\"feedback\"></div>" +
                    std::string(200000, ' ') + "create_time: album_sign: 'never'";
                res.set_header("Content-Encoding", "gzip");
                res.set_content(test::Gzip(page), "text/html; charset=utf-8");
            });
        server.On("xiangce.baidu.com", "/album/list/owner7",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Record("list sign=" + req.get_param_value("album_sign"));
                      if (!req.get_param_value("album_sign").empty()) {
                          res.set_content("{\"data\":{\"album_list\":[]}}", "application/json");
                          return;
                      }
                      res.set_content(
                          "{\"data\":{\"album_list\":[{\"picture_cover\":\"https:\\/\\/"
                          "imgsrc.baidu.com\\/c3.jpg\","
                          "\"album_name\":\"\\u590f\\u5929\",\"album_sign\":\"s3\",\"picture_"
                          "total\":5,\"z\":\"1\"},"
                          "{\"picture_cover\":\"x\",\"album_name\":\"空\",\"album_sign\":\"\","
                          "\"picture_total\":0,\"z\":\"1\"}]}}",
                          "application/json");
                  });
        server.On(
            "xiangce.baidu.com", "*", [this](const httplib::Request& req, httplib::Response& res) {
                const std::string key = req.path.substr(std::string("/picture/album/list/").size());
                const int offset = std::stoi(req.get_param_value("pn"));
                Record("photos " + key + " pn=" + std::to_string(offset));
                int count = key == "s1" ? 37 : key == "s2" ? 2 : 0;
                if (key == "s2" && privateUntilLogin && ++privateRequests == 1) {
                    count = 0;
                }
                std::string json = "{\"data\":{\"picture_list\":[";
                for (int i = offset; i < count; ++i) {
                    json += "{\"picture_name\":\"" +
                            std::string(i == 0 ? "" : "照片" + std::to_string(i)) +
                            "\",\"img_src\":\"https:\\/\\/imgsrc.baidu.com\\/album\\/s%3D1280\\/"
                            "item\\/" +
                            key + "_" + std::to_string(i) + ".jpg\"},";
                }
                res.set_content(json + "]}}", "application/json");
            });
        server.On(
            "tieba.baidu.com", "/photo/g",
            [this](const httplib::Request& req, httplib::Response& res) {
                Record("bar pn=" + req.get_param_value("pn"));
                if (req.get_param_value("pn") != "1") {
                    res.set_content("{\"data\":\"\"}", "application/json");
                    return;
                }
                res.set_content(
                    "{\"html\":\"<div class=\\\"grbm_ele_wrapper\\\"><a href=\\\"\\/p\\/777\\\">"
                    "<img src=\\\"https:\\/\\/imgsrc.baidu.com\\/t1.jpg\\\"><span "
                    "class=\\\"grbm_ele_pic_amount\\\">"
                    "3<\\/span><a title=\\\"\\u732b\\u732b\\\">",
                    "application/json");
            });
        server.On("tieba.baidu.com", "/photo/g/bw/picture/list",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Record("bar photos tid=" + req.get_param_value("tid") + " kw=" +
                             req.get_param_value("kw") + " pn=" + req.get_param_value("pn"));
                      if (req.get_param_value("pn") != "1") {
                          res.set_content("{\"data\":{}}", "application/json");
                          return;
                      }
                      res.set_content(
                          "{\"data\":{\"pic_list\":[{\"pic_id\":\"pa\",\"descr\":\"\"},{\"pic_id\":"
                          "\"pb\","
                          "\"descr\":\"\\u9c7c\"}]}}",
                          "application/json");
                  });
        server.On(
            "tieba.baidu.com", "/p/4242", [](const httplib::Request&, httplib::Response& res) {
                res.set_content("<a href=\"/f?kw=%E7%8C%AB\">猫吧</a>", "text/html; charset=utf-8");
            });
        server.On(
            "tieba.baidu.com", "/photo/p", [](const httplib::Request&, httplib::Response& res) {
                res.set_content("<script>var data = {'title' : '猫的帖子'};</script>", "text/html");
            });
        server.On(
            "tieba.baidu.com", "/photo/bw/picture/guide",
            [this](const httplib::Request& req, httplib::Response& res) {
                const std::string last = req.get_param_value("pic_id");
                Record("thread pic_id=" + last);
                std::string json = "{\"data\":{\"pic_list\":{";
                if (last.empty()) {
                    json +=
                        "\"img\":{\"id\":\"i1\",\"waterurl\":\"https:\\/\\/imgsrc.baidu.com\\/w\\/"
                        "i1.jpg\","
                        "\"descr\":\"\\u7b2c\\u4e00\"},\"img\":{\"id\":\"i2\",\"descr\":\"\"},";
                } else if (last == "i2") {
                    json +=
                        "\"img\":{\"id\":\"i2\",\"descr\":\"\"},\"img\":{\"id\":\"i3\",\"descr\":"
                        "\"三\"},";
                } else {
                    json += "\"img\":{\"id\":\"" + last + "\",\"descr\":\"\"},";
                }
                res.set_content(json + "}}}", "application/json");
            });
        server.On("imgsrc.baidu.com", "*", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(ImageBytes(req.path), "image/jpeg");
        });
    }

    std::vector<std::string> Routes() const {
        return {server.RouteFor("xiangce.baidu.com"), server.RouteFor("tieba.baidu.com"),
                server.RouteFor("imgsrc.baidu.com")};
    }
    void Record(const std::string& what) {
        std::lock_guard lock(mutex);
        log.push_back(what);
    }
    std::vector<std::string> Log() {
        std::lock_guard lock(mutex);
        return log;
    }

    test::TestServer server;
    std::mutex mutex;
    std::vector<std::string> log;
    bool privateUntilLogin = false;
    std::atomic<int> privateRequests{0};
};

class BaiduTest : public ::testing::Test {
  protected:
    BaiduTest() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
    }
    ListJobOutcome List(const std::string& text) {
        PrepareListing(session, 1);
        return GetListFunc(session, text, 0);
    }
    std::vector<std::string> Names() { return test::AlbumNames(session); }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    BaiduServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(BaiduTest, AccountAlbumsEmbeddedThenPaged) {
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7?from=x").albums, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"春游", "私人", "夏天"}));
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->key, "s1");
    EXPECT_EQ(first->photoCount, 37);
    EXPECT_EQ(first->coverUrl, "https://imgsrc.baidu.com/cover1.jpg");
    EXPECT_EQ(session.albums.At(2)->photoCount, 5);
    EXPECT_EQ(session.OwnerName(), "owner7");
    EXPECT_EQ(session.subKind, 0);
    EXPECT_EQ(servers.Log(), (std::vector<std::string>{"list sign=", "list sign=s3"}));
    for (const auto& request : servers.server.Requests()) {
        EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
        EXPECT_EQ(request.Header("Referer"), "");
    }
}

TEST_F(BaiduTest, AccountPhotosPageByWhatArrived) {
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7").albums, 3);
    const auto outcome = RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(outcome.images, 37);
    EXPECT_EQ(outcome.failed, 0);
    const auto log = servers.Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "photos s1 pn=37"), log.end())
        << "offset moved by 37";
    const auto rows = session.downloads.Rows();
    EXPECT_EQ(rows[0].url, "https://imgsrc.baidu.com/album/pic/item/s1_0.jpg");
    EXPECT_EQ(rows[0].fileName, "春游.jpg") << "an empty description takes the album name";
    EXPECT_EQ(rows[5].fileName, "照片5.jpg");
    EXPECT_TRUE(std::filesystem::exists(save / "owner7" / "春游" / "照片36.jpg"));
}

TEST_F(BaiduTest, NonPublicAlbumPrompt) {
    servers.privateUntilLogin = true;
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7").albums, 3);
    front.answer = false;
    RunDownloadJob(session, {1}, save.Path().string());
    EXPECT_EQ(front.questions, std::vector<std::string>{
                                   "为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框"});
    EXPECT_EQ(session.downloads.Size(), 0u);
    EXPECT_TRUE(front.logins.empty());

    servers.privateRequests = 0;
    front.answer = true;
    RunDownloadJob(session, {1}, save.Path().string());
    EXPECT_EQ(front.logins,
              std::vector<std::string>{"https://xiangce.baidu.com/picture/album/list/s2"});
    EXPECT_EQ(session.downloads.Size(), 2u);

    // An album that says it has no photos ends without asking.
    front.questions.clear();
    AddAlbum(session, AlbumRecord{.name = "空的", .key = "s9", .photoCount = 0});
    RunDownloadJob(session, {3}, save.Path().string());
    EXPECT_TRUE(front.questions.empty());
}

TEST_F(BaiduTest, AddressesWithoutAccountAreLookedUp) {
    servers.server.On("xiangce.baidu.com", "/home",
                      [](const httplib::Request&, httplib::Response& res) {
                          res.set_content("<a href=\"/profile/u/owner7?x=1\">me</a>", "text/html");
                      });
    EXPECT_EQ(List("https://xiangce.baidu.com/home").albums, 3);
    EXPECT_EQ(session.OwnerName(), "owner7");
}

TEST_F(BaiduTest, TiebaBarAlbumsAndPhotos) {
    ASSERT_EQ(List("https://tieba.baidu.com/f?kw=%E7%8C%AB&ie=utf-8").albums, 1);
    const auto album = session.albums.At(0);
    EXPECT_EQ(album->name, "猫猫");
    EXPECT_EQ(album->key, "777");
    EXPECT_EQ(album->photoCount, 3);
    EXPECT_EQ(album->coverUrl, "https://imgsrc.baidu.com/t1.jpg");
    EXPECT_EQ(session.OwnerName(), "猫");
    EXPECT_EQ(session.SiteText(), "%E7%8C%AB");
    RunDownloadJob(session, {0}, save.Path().string());
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].url, "https://imgsrc.baidu.com/forum/pic/item/pa.jpg");
    EXPECT_EQ(rows[0].fileName, "猫猫.jpg");
    EXPECT_EQ(rows[1].fileName, "鱼.jpg");
    const auto log = servers.Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "bar photos tid=777 kw=猫 pn=1"), log.end());
    EXPECT_TRUE(std::filesystem::exists(save / "猫" / "猫猫" / "鱼.jpg"));
}

TEST_F(BaiduTest, TiebaThreadCursorPaging) {
    const auto outcome = List("https://tieba.baidu.com/p/4242?pn=1");
    ASSERT_EQ(outcome.albums, 1);
    EXPECT_TRUE(outcome.autoDownload);
    EXPECT_EQ(front.autoDownloads, 1);
    EXPECT_EQ(session.albums.At(0)->name, "猫的帖子");
    EXPECT_EQ(session.albums.At(0)->photoCount, -1);
    RunDownloadJob(session, {0}, save.Path().string());
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].url, "https://imgsrc.baidu.com/w/i1.jpg");
    EXPECT_EQ(rows[0].fileName, "第一.jpg");
    EXPECT_EQ(rows[1].url, "https://imgsrc.baidu.com/forum/pic/item/i2.jpg") << "no waterurl";
    EXPECT_EQ(rows[2].fileName, "三.jpg");
    EXPECT_EQ(servers.Log(),
              (std::vector<std::string>{"thread pic_id=", "thread pic_id=i2", "thread pic_id=i3"}));
}

TEST(BaiduAddresses, FullSizeRewrite) {
    EXPECT_EQ(BaiduFullSizeAddress("http://h/album/s%3D1280/item/abc.jpg"),
              "http://h/album/pic/item/abc.jpg");
    // Not a list picture: nothing to rewrite.
    EXPECT_EQ(BaiduFullSizeAddress("http://h/x.jpg"), "http://h/x.jpg");
    EXPECT_EQ(BaiduFullSizeAddress(""), "");
}

TEST_F(BaiduTest, AccountPhotosEndWhenTheServiceRepeatsItsPage) {
    // A service that ignores "pn": the same page every time (given up after 50 requests
    // so that a missing guard fails instead of hanging). One entry has no address.
    std::atomic<int> requests{0};
    servers.server.On("xiangce.baidu.com", "*",
                      [&requests](const httplib::Request&, httplib::Response& res) {
                          if (++requests > 50) {
                              res.set_content("{}", "application/json");
                              return;
                          }
                          res.set_content(
                              "{\"data\":{\"picture_list\":["
                              "{\"picture_name\":\"a\",\"img_src\":\"https:\\/\\/"
                              "imgsrc.baidu.com\\/album\\/s\\/item\\/a.jpg\"},"
                              "{\"picture_name\":\"nothing\"},"
                              "{\"picture_name\":\"b\",\"img_src\":\"https:\\/\\/"
                              "imgsrc.baidu.com\\/b.jpg\"}]}}",
                              "application/json");
                      });
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7").albums, 3);
    const auto outcome = RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(requests, 2) << "the repeated page ends the list";
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 2u) << "an entry without an address is no photo";
    EXPECT_EQ(rows[0].url, "https://imgsrc.baidu.com/album/pic/item/a.jpg");
    EXPECT_EQ(rows[1].url, "https://imgsrc.baidu.com/b.jpg") << "kept as it is";
    EXPECT_EQ(outcome.images, 2);
    EXPECT_EQ(outcome.failed, 0);
}

TEST_F(BaiduTest, TiebaThreadTitleIsDecoded) {
    servers.server.On(
        "tieba.baidu.com", "/photo/p", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("var data = {'title' : '\\u732b\\u732b\\u5e16'};", "text/html");
        });
    ASSERT_EQ(List("https://tieba.baidu.com/photo/p?kw=x&tid=1").albums, 1);
    EXPECT_EQ(session.albums.At(0)->name, "猫猫帖");
}

TEST_F(BaiduTest, CountsBeyondThirtyTwoBitsAreClamped) {
    servers.server.On("xiangce.baidu.com", "/album/list/owner7",
                      [](const httplib::Request& req, httplib::Response& res) {
                          if (!req.get_param_value("album_sign").empty()) {
                              res.set_content("{}", "application/json");
                              return;
                          }
                          res.set_content(
                              "{\"picture_cover\":\"c\",\"album_name\":\"大\","
                              "\"album_sign\":\"big\",\"picture_total\":4294967297,\"z\":1}",
                              "application/json");
                      });
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7").albums, 3);
    EXPECT_EQ(session.albums.At(2)->photoCount, 2147483647) << "2^32 + 1 is not 1";
    EXPECT_EQ(ReadCount("99999999999999999999999"), 2147483647);
    EXPECT_EQ(ReadCount("2147483648"), 2147483647);
    EXPECT_EQ(ReadCount("2147483647"), 2147483647);
    EXPECT_EQ(ReadCount(" 37<"), 37);
}

class BaiduStopTest : public ::testing::Test {
  protected:
    BaiduStopTest() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
        front.session = &session;
    }
    int List(const std::string& text, int stopAfterRows) {
        front.rowLimit = stopAfterRows;
        front.albums = 0;
        PrepareListing(session, 1);
        return GetListFunc(session, text, 0).albums;
    }
    // Runs one photo list directly, stopping after the given number of photos.
    std::size_t Collect(PhotoLister lister, int stopAfterPhotos) {
        front.photoLimit = stopAfterPhotos;
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
        FindPhotoLister(lister)(session, 0);
        return session.downloads.Size();
    }

    test::TempDir home;
    test::TempDir save;
    test::StopAfter front;
    Session session;
    BaiduServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(BaiduStopTest, AlbumListsEndAtTheRowAStopFollows) {
    EXPECT_EQ(List("https://xiangce.baidu.com/u/owner7", 1), 1) << "embedded albums";
    EXPECT_TRUE(servers.Log().empty()) << "the paged list is not asked after a stop";

    EXPECT_EQ(List("https://xiangce.baidu.com/u/owner7", 3), 3);
    EXPECT_EQ(servers.Log(), std::vector<std::string>{"list sign="})
        << "the paged list asks for no further page after a stop";

    servers.log.clear();
    EXPECT_EQ(List("https://tieba.baidu.com/f?kw=%E7%8C%AB", 1), 1);
    EXPECT_EQ(servers.Log(), std::vector<std::string>{"bar pn=1"});
}

TEST_F(BaiduStopTest, PhotoListsEndAtThePhotoAStopFollows) {
    ASSERT_EQ(List("https://xiangce.baidu.com/u/owner7", 0), 3);
    EXPECT_EQ(Collect(PhotoLister::BaiduAlbumPhotos, 1), 1u);
    EXPECT_EQ(Collect(PhotoLister::BaiduAlbumPhotos, 0), 37u) << "without a stop, all of them";

    ASSERT_EQ(List("https://tieba.baidu.com/f?kw=%E7%8C%AB", 0), 1);
    EXPECT_EQ(Collect(PhotoLister::TiebaAlbumPhotos, 1), 1u);
    EXPECT_EQ(Collect(PhotoLister::TiebaAlbumPhotos, 0), 2u);

    ASSERT_EQ(List("https://tieba.baidu.com/p/4242", 0), 1);
    EXPECT_EQ(Collect(PhotoLister::TiebaPostPictures, 1), 1u);
    EXPECT_EQ(Collect(PhotoLister::TiebaPostPictures, 0), 3u);
}

class BaiduCliTest : public test::SiteCliTest<BaiduServers> {
  protected:
};

TEST_F(BaiduCliTest, AccountAlbumListsAndDownloads) {
    const auto result =
        test::RunProcess(Command({"-a", "3", "https://xiangce.baidu.com/u/owner7"}));
    EXPECT_EQ(result.exitCode, 0) << "the empty album's verification was declined: " << result.err;
    EXPECT_NE(result.err.find("1个相册未下载"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "0001\t春游\t  37\t\n0002\t私人\t   4\t\n0003\t夏天\t   5\t\n");
    EXPECT_TRUE(save.Files().empty()) << "夏天 has no photos on the server";
    const auto again = test::RunProcess(Command({"-a", "1", "https://xiangce.baidu.com/u/owner7"}));
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(save.Files().size(), 38u);  // 37 images and pic.zvt
}

TEST_F(BaiduCliTest, NonPublicPromptYesAndNo) {
    servers.privateUntilLogin = true;
    auto result =
        test::RunProcess(Command({"-a", "2", "--no", "https://xiangce.baidu.com/u/owner7"}));
    EXPECT_NE(result.err.find("为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框 -> 否"),
              std::string::npos);
    EXPECT_TRUE(save.Files().empty());
    servers.privateRequests = 0;
    result = test::RunProcess(Command({"-a", "2", "--yes", "https://xiangce.baidu.com/u/owner7"}));
    EXPECT_NE(result.err.find("-> 是"), std::string::npos);
    EXPECT_NE(result.err.find("https://xiangce.baidu.com/picture/album/list/s2"),
              std::string::npos);
    EXPECT_EQ(save.Files().size(), 3u);
}

TEST_F(BaiduCliTest, TiebaBarAndThread) {
    auto result = test::RunProcess(Command({"https://tieba.baidu.com/f?kw=%E7%8C%AB"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(save / "猫" / "猫猫" / "鱼.jpg"));
    result = test::RunProcess(Command({"https://tieba.baidu.com/p/4242"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t猫的帖子\t未知\t\n");
    EXPECT_TRUE(std::filesystem::exists(save / "猫" / "猫的帖子" / "三.jpg"));
}

}  // namespace
}  // namespace brenvik
