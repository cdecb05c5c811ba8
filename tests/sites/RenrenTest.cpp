// Renren user albums (both page families), public-page albums and stations: paging and
// end rules against pages answered in-process, then the real brenvik-cli against local
// HTTPS servers.
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "cli/CliFrontEnd.h"

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "download/ListTypes.h"
#include "sites/FakeSitePages.h"
#include "sites/Renren.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/RequestLog.h"
#include "support/SessionViews.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using test::QueryValue;

constexpr const char* kRenrenHint =
    "错误原因：\n1.你没有登录你的人人帐号(在登录菜单里登录,登录时需要勾上下次自动登录)\n2.你没有"
    "该相册的访问权限.";
constexpr const char* kStationHint =
    "1、没有获取到相册，需要你在登录菜单里登录一个人人帐号(登录时勾上下次自动登录)后重新获取";
constexpr const char* kPasswordQuestion = "加密相册,是否输入密码";

// --- Page builders ---------------------------------------------------------------------

struct V7Album {
    std::string id;
    std::string name;  // as written in the page (may hold \u escapes)
    int count = 0;
    bool password = false;
};

std::string V7ListPage(const std::string& owner, const std::vector<V7Album>& albums) {
    std::string page = "<html><head><title>人人网 - " + owner +
                       "的相册</title></head><script>nx.data = {'albumList': [";
    for (const auto& a : albums) {
        page += "{\"cover\":\"https:\\/\\/fmn.rrimg.com\\/cover\\/" + a.id +
                ".jpg\",\"albumName\":\"" + a.name + "\",\"albumId\":\"" + a.id +
                "\",\"sourceControl\":" + (a.password ? "4" : "0") + "," +
                (a.count < 0 ? "" : "\"photoCount\":" + std::to_string(a.count) + ",") +
                "\"x\":1},";
    }
    return page + "]};</script><script>var albumId = \"999\";</script></html>";
}

// One page of the new-style photo list: photos [from, to) of the album.
std::string V7PhotoPage(const std::string& album, int from, int to) {
    std::string json = "{\"photoList\":[";
    for (int i = from; i < to; ++i) {
        json += "{\"position\":" + std::to_string(i) + ",\"url\":\"https:\\/\\/fmn.rrimg.com\\/" +
                album + "\\/" + std::to_string(i) + ".jpg\"},";
    }
    return json + "]}";
}

struct ClassicItem {
    std::string href;
    std::string name;
    int count = 0;
    std::string mark;  // "userhead", "phone", "password" or ""
};

std::string ClassicItems(const std::vector<ClassicItem>& items) {
    std::string html = "<div class=\"album-list clearfix\"><ul class=\"x\">";
    for (const auto& item : items) {
        html += "<li><a href=\"" + item.href + "\"><img data-src=\"https://fmn.rrimg.com/c.jpg\"" +
                (item.mark.empty() ? "" : " class=\"" + item.mark + "\"") + "/></a>" +
                (item.count < 0
                     ? ""
                     : "<span class=\"photo-num\">" + std::to_string(item.count) + "</span>") +
                "<span class=\"album-name\">" + item.name + "</span></li>";
    }
    return html + "</ul></div>";
}

std::string PageAlbums(const std::vector<std::pair<std::string, std::string>>& albums, bool next) {
    std::string page = "<title>某品牌的相册</title><ul>";
    for (const auto& [id, name] : albums) {
        page += "<li class=\"picitem\"><a href=\"/600001/album/" + id +
                "\"><img data-src=\"https://fmn.rrimg.com/p" + id + ".jpg\"/>" + name +
                "</a><span class=\"piccount\">" + std::to_string(id.size()) + "</span></li>";
    }
    return page + "</ul>" + (next ? "<a href=\"?curpage=9\">下一页</a>" : "");
}

std::string StationPosts(const std::vector<std::pair<std::string, std::string>>& posts) {
    std::string html = "{\"html\":\"";
    for (const auto& [id, title] : posts) {
        html +=
            "<div id=\\\"feed" + id + "\\\"><h3 class=\\\"title\\\">" + title + "<\\/h3><\\/div>";
    }
    return html + "\"}";
}

// --- In-process cases ------------------------------------------------------------------

class RenrenPagesTest : public ::testing::Test {
  protected:
    RenrenPagesTest() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
    }
    ListJobOutcome List(const std::string& text) {
        PrepareListing(session, 3);
        return GetListFunc(session, text, 0);
    }
    std::vector<DownloadRow> Photos(PhotoLister lister, int albumIndex) {
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
        FindPhotoLister(lister)(session, albumIndex);
        return session.downloads.Rows();
    }
    std::vector<std::string> Names() { return test::AlbumNames(session); }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    test::FakeSitePages pages;
};

constexpr const char* kV7List = "https://photo.renren.com/photo/42/albumlist/v7?showAll=1";

TEST_F(RenrenPagesTest, NewStyleUserAlbums) {
    pages.Serve(kV7List, V7ListPage("张三", {{"101", "\\u65c5\\u884c", 85},
                                             {"102", "锁住的", 3, true},
                                             {"103", "无数", -1}}));
    ASSERT_EQ(List("http://www.renren.com/42/profile?ref=x").albums, 3);
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "旅行");
    EXPECT_EQ(albums[0].key, "https://photo.renren.com/photo/42/album-101/");
    EXPECT_EQ(albums[0].coverUrl, "https://fmn.rrimg.com/cover/101.jpg");
    EXPECT_EQ(albums[0].photoCount, 85);
    EXPECT_EQ(albums[0].access, 0);
    EXPECT_EQ(albums[1].access, kAccessEncrypted);
    EXPECT_EQ(albums[2].photoCount, -1) << "no count shown: unknown, not 0";
    EXPECT_EQ(session.OwnerName(), "张三");
    EXPECT_EQ(session.subKind, 0);
    EXPECT_TRUE(pages.AskedUnder("https://photo.renren.com/photo/42/album/").empty())
        << "the classic list is not asked once the new style found albums";
}

TEST_F(RenrenPagesTest, ClassicListWithItsAsynchronousFallbackAndRepeatedPages) {
    const std::string base = "https://photo.renren.com/photo/42/";
    pages.Serve(base + "album/relatives?curpage=1", "<title>人人网 - 李四的相册</title>没有列表");
    pages.Serve(base + "ajax?__view=async-html&offset=0&limit=500",
                ClassicItems({{base + "album-1?x=1", "春", 4},
                              {base + "album-2", "x", -1, "userhead"},
                              {base + "album-3", "x", 2, "phone"},
                              {base + "album-4", "x", 0, "password"}}) +
                    "<div class=\"first-page clearfix\">");
    // The ajax pages after the first ignore their offset.
    pages.Serve(base + "album/relatives/ajax",
                ClassicItems({{base + "album-5", "夏", 6}, {base + "album-1", "春", 4}}));
    ASSERT_EQ(List("http://www.renren.com/42").albums, 5);
    EXPECT_EQ(Names(), (std::vector<std::string>{"春", "头像相册", "手机相册", "加密相册", "夏"}));
    EXPECT_EQ(session.albums.At(0)->key, base + "album-1/");
    EXPECT_EQ(session.albums.At(0)->photoCount, 4);
    EXPECT_EQ(session.albums.At(1)->photoCount, -1) << "no count shown: unknown, not 0";
    EXPECT_EQ(session.albums.At(3)->access, kAccessEncrypted) << "its photos ask for the password";
    EXPECT_EQ(session.OwnerName(), "李四");
    const auto ajax = pages.AskedUnder(base + "album/relatives/ajax");
    ASSERT_EQ(ajax.size(), 2u);
    EXPECT_EQ(QueryValue(ajax[0], "offset"), "40");
    EXPECT_EQ(QueryValue(ajax[1], "offset"), "80");
}

TEST_F(RenrenPagesTest, TypedAlbumAddresses) {
    pages.Serve("https://photo.renren.com/photo/42/album-7/",
                "<li class=\"fd-nav-item\"><a>王五</a><a href=\"https://www.renren.com/42/"
                "profile\">x</a> var a = {albumName':'毕业', photoCount':12,};");
    ASSERT_EQ(List("https://photo.renren.com/photo/42/album-7/v7?from=x").albums, 1);
    EXPECT_EQ(session.albums.At(0)->name, "毕业");
    EXPECT_EQ(session.albums.At(0)->photoCount, 12);
    EXPECT_EQ(session.albums.At(0)->key, "https://photo.renren.com/photo/42/album-7/");
    EXPECT_EQ(session.OwnerName(), "王五");

    pages.Serve("https://photo.renren.com/photo/42/album-8",
                "<ul class=\"nav-tabs\"><li><a>他的相册</a></li></ul><input id=\"guestName\" "
                "value=\"赵六\"/><div class=\"ablum-infor\"><span class=\"x\"><h1>旧照</h1></span>"
                "<p>共 23 _ 张</p>");
    ASSERT_EQ(List("https://photo.renren.com/photo/42/album-8#top").albums, 1);
    EXPECT_EQ(session.albums.At(0)->name, "旧照");
    EXPECT_EQ(session.albums.At(0)->photoCount, 23);
    EXPECT_EQ(session.OwnerName(), "赵六");
}

TEST_F(RenrenPagesTest, PageAlbumsFollowTheNextLinkUntilNothingNew) {
    pages.Serve("https://page.renren.com/brand", "var page = {pid: '600001'};");
    pages.On("https://page.renren.com/600001/album?curpage=",
             [](const std::string& address) -> std::optional<std::string> {
                 // Past page 2 the service repeats page 2, still with a next link.
                 return QueryValue(address, "curpage") == "1"
                            ? PageAlbums({{"11", "发布会"}, {"12", "新品"}}, true)
                            : PageAlbums({{"13", "门店"}}, true);
             });
    ASSERT_EQ(List("http://page.renren.com/brand/photos").albums, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"发布会", "新品", "门店"}));
    EXPECT_EQ(session.albums.At(0)->key, "https://photo.renren.com/photo/600001/album-11/");
    EXPECT_EQ(session.albums.At(0)->coverUrl, "https://fmn.rrimg.com/p11.jpg");
    EXPECT_EQ(session.albums.At(0)->photoCount, 2);
    EXPECT_EQ(session.OwnerName(), "某品牌");
    EXPECT_EQ(pages.AskedUnder("https://page.renren.com/600001/album").size(), 3u);
}

TEST_F(RenrenPagesTest, StationMonthsAndTags) {
    const std::string station =
        "<script>var site = {name:'光影', x:1}; <a href=\"/rss?site_id=5005\">rss</a>"
        "<li class=\"s\">人像<em>12</em></li></script>";
    pages.Serve("http://zhan.renren.com/light", station);
    pages.Serve("http://zhan.renren.com/light?tagId=77&x=1", station);
    pages.Serve("https://zhan.renren.com/archive?site_id=5005",
                "<div class=\"time_control\"><a mark=\"2013-05\">5月</a><a mark=\"2013-04\">4月"
                "</a></div></section><a mark=\"never\">");
    pages.On("https://zhan.renren.com/archive/archiveByTime?",
             [](const std::string& address) -> std::optional<std::string> {
                 // Every page of a month is the same: the month ends after one repeat.
                 return QueryValue(address, "month") == "2013-05"
                            ? StationPosts({{"901", "\\u6625\\u65e5"}, {"902", "夏"}})
                            : StationPosts({{"801", "秋"}});
             });
    ASSERT_EQ(List("http://zhan.renren.com/light").albums, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"春日", "夏", "秋"}));
    EXPECT_EQ(session.albums.At(0)->key, "https://zhan.renren.com/light?gid=901&ajax=true");
    EXPECT_EQ(session.subKind, 10);
    EXPECT_EQ(session.OwnerName(), "光影");
    EXPECT_EQ(session.SiteText(), "5005");
    const auto months = pages.AskedUnder("https://zhan.renren.com/archive/archiveByTime?");
    ASSERT_EQ(months.size(), 4u);
    EXPECT_EQ(months[0],
              "https://zhan.renren.com/archive/archiveByTime?site_id=5005&month=2013-05&page=0");
    EXPECT_EQ(QueryValue(months[1], "page"), "1");
    EXPECT_EQ(QueryValue(months[2], "month"), "2013-04");

    pages.On("https://zhan.renren.com/archive/archiveByTag?",
             [](const std::string& address) -> std::optional<std::string> {
                 if (QueryValue(address, "page") == "0") {
                     return StationPosts({{"701", "标签"}});
                 }
                 return "";
             });
    ASSERT_EQ(List("http://zhan.renren.com/light?tagId=77&x=1").albums, 1);
    EXPECT_EQ(pages.AskedUnder("https://zhan.renren.com/archive/archiveByTag?")[0],
              "https://zhan.renren.com/archive/archiveByTag?site_id=5005&tag_id=77&page=0");
    EXPECT_EQ(session.OwnerName() + session.OwnerSuffix(), "光影人像");
}

TEST_F(RenrenPagesTest, NewStylePhotosInPagesOfForty) {
    pages.Serve(kV7List, V7ListPage("张三", {{"101", "旅行", 85}}));
    ASSERT_EQ(List("http://www.renren.com/42").albums, 1);
    pages.On("https://photo.renren.com/photo/42/album-101/bypage/ajax/v7?",
             [](const std::string& address) -> std::optional<std::string> {
                 const int page = std::stoi(QueryValue(address, "page"));
                 return V7PhotoPage("101", (page - 1) * 40, std::min(page * 40, 85));
             });
    const auto rows = Photos(PhotoLister::RenrenPagedPhotos, 0);
    ASSERT_EQ(rows.size(), 85u);
    EXPECT_EQ(rows[0].fileName, "1.jpg");
    EXPECT_EQ(rows[84].fileName, "85.jpg");
    EXPECT_EQ(rows[84].url, "https://fmn.rrimg.com/101/84.jpg");
    EXPECT_EQ(rows[0].headers, "Referer: https://photo.renren.com/photo/42/album-101/");
    EXPECT_EQ(pages.AskedUnder("https://photo.renren.com/photo/42/album-101/bypage").size(), 4u)
        << "a page without entries ends the album";

    // A service that hands out full pages for ever repeats itself: the list still ends.
    pages.On(
        "https://photo.renren.com/photo/42/album-101/bypage/ajax/v7?",
        [](const std::string&) -> std::optional<std::string> { return V7PhotoPage("101", 0, 40); });
    EXPECT_EQ(Photos(PhotoLister::RenrenPagedPhotos, 0).size(), 40u);
}

TEST_F(RenrenPagesTest, PasswordAlbumAskedOnceForTheWholeChain) {
    pages.Serve(kV7List, V7ListPage("张三", {{"102", "锁住的", 3, true}}));
    ASSERT_EQ(List("http://www.renren.com/42").albums, 1);
    ASSERT_TRUE(RunDownloadJob(session, {0}, save.Path().string()).started);
    EXPECT_EQ(front.questions, std::vector<std::string>{kPasswordQuestion});
    EXPECT_TRUE(front.logins.empty());
    EXPECT_TRUE(pages.AskedUnder("https://photo.renren.com/photo/42/album-102").empty())
        << "answered no: nothing requested";

    front.questions.clear();
    front.answer = true;
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(front.questions, std::vector<std::string>{kPasswordQuestion});
    EXPECT_EQ(front.logins,
              std::vector<std::string>{"https://photo.renren.com/photo/42/album-102/"});
    EXPECT_FALSE(pages.AskedUnder("https://photo.renren.com/photo/42/album-102").empty());
}

TEST_F(RenrenPagesTest, ClassicAndPrivatePhotoLists) {
    AddAlbum(session,
             AlbumRecord{.name = "旧照", .key = "https://photo.renren.com/photo/42/album-8/"});
    session.siteIndex = 3;
    const std::string album = "https://photo.renren.com/photo/42/album-8";
    pages.Serve(album + "/", "<div class=\"ablum-infor\"><span><h1>旧照</h1></span>");
    pages.Serve(album + "/bypage/ajax?curPage=",
                "{\"list\":[{\"position\":1,\"photoId\":\"p1\",\"largeUrl\":\"https:\\/\\/fmn."
                "rrimg.com\\/original_1.jpg\",\"title\":\"一\"},{\"position\":2,\"photoId\":\"p2\","
                "\"largeUrl\":\"https:\\/\\/fmn.rrimg.com\\/large_2.jpg\",\"title\":\"\"}]}");
    pages.Serve("https://photo.renren.com/photo/42/photo-p2/large?xtype=album",
                "<div class=\"photoes-box\"><img src=\"https://fmn.rrimg.com/xlarge_2.jpg\"/>");
    auto rows = Photos(PhotoLister::RenrenClassicPhotos, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].url, "https://fmn.rrimg.com/original_1.jpg");
    EXPECT_EQ(rows[1].url, "https://fmn.rrimg.com/xlarge_2.jpg") << "the large page's picture";
    EXPECT_EQ(rows[1].fileName, "旧照.jpg");
    EXPECT_EQ(pages.AskedUnder(album + "/bypage").size(), 2u) << "page 2 repeats page 1";

    pages.Serve(album + "/",
                "<div class=\"ablum-infor\"><span><h1>旧照</h1></span><div data-info=\"{album:'8'}"
                "\"><a href=\"/photo/42/album-8/data\">x</a>");
    pages.Serve("https://photo.renren.com/photo/42/album-8/data",
                "{\"list\":[{\"position\":1,\"originTitle\":\"甲\",\"xLargeUrl\":\"https:\\/\\/"
                "fmn.rrimg.com\\/x1.jpg\",\"link\":\"l\"},{\"position\":2,\"originTitle\":\"乙\","
                "\"xLargeUrl\":\"\",\"largeurl\":\"https:\\/\\/fmn.rrimg.com\\/l2.jpg\"}]}");
    rows = Photos(PhotoLister::RenrenPrivatePhotos, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].url, "https://fmn.rrimg.com/x1.jpg");
    EXPECT_EQ(rows[1].url, "https://fmn.rrimg.com/l2.jpg");
    EXPECT_EQ(rows[1].fileName, "乙.jpg");
    EXPECT_EQ(pages.HeaderBlocks().back(),
              "Accept-Encoding: gzip, deflate\r\nReferer: " + album + "/");
}

TEST(RenrenAddresses, AlbumAddressEndsAfterTheAlbumId) {
    EXPECT_EQ(RenrenAlbumAddress("http://photo.renren.com/photo/1/album-2/v7?x"),
              "http://photo.renren.com/photo/1/album-2/");
    EXPECT_EQ(RenrenAlbumAddress("http://photo.renren.com/photo/1/album-2#a"),
              "http://photo.renren.com/photo/1/album-2/");
    EXPECT_EQ(RenrenAlbumAddress("http://x/y"), "http://x/y");
}

// --- End to end: the real brenvik-cli against local HTTPS servers -----------------------

std::string ImageBytes(const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(2048, 'r');
    return bytes;
}

// Plays the Renren main, photo, page and station hosts and the picture host. Lists are
// only given to a logged-in browser (cookie "t"); pictures only with the album's Referer.
class RenrenServers : public test::RequestLog {
  public:
    RenrenServers() : server(/*https=*/true) {
        server.On("www.renren.com", "/zhangsan", [this](const auto&, auto& res) {
            Log("lookup");
            res.set_content("<script>var profile_owner = 42;</script>", "text/html");
        });
        server.On("photo.renren.com", "/photo/42/albumlist/v7",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Log("v7 list");
                      if (!LoggedIn(req)) {
                          Reply(req, res, "<html><title>人人网 - 登录</title></html>");
                          return;
                      }
                      const std::vector<V7Album> albums = {{"101", "\\u65c5\\u884c", 3},
                                                           {"102", "../C:\\逃逸:*?|", 2}};
                      Reply(req, res, V7ListPage("张三", albums));
                  });
        server.On("photo.renren.com", "/photo/42/album/relatives",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Log("classic list");
                      Reply(req, res, "<title>人人网 - 登录</title>first-page clearfix");
                  });
        server.On("photo.renren.com", "*", [this](const httplib::Request& req, auto& res) {
            // ".../album-<id>/bypage/ajax/v7?page=n": <id>'s photos, 40 a page less the deleted
            // ones: album 101 lost a photo of page 1, so its page 1 is short.
            const std::string album =
                req.path.substr(req.path.find("album-") + 6,
                                req.path.find("/bypage") - req.path.find("album-") - 6);
            const std::string page = req.get_param_value("page");
            Log("photos " + album + " page=" + page);
            const int count = album == "101" ? 2 : album == "102" ? 2 : 1;
            if (album == "101" && page == "2") {
                Reply(req, res, V7PhotoPage(album, 2, 3));
                return;
            }
            Reply(req, res, page == "1" ? V7PhotoPage(album, 0, count) : "");
        });
        server.On("page.renren.com", "/brand", [this](const auto&, auto& res) {
            Log("lookup");
            res.set_content("<script>var page = {pid: '600001'};</script>", "text/html");
        });
        server.On("page.renren.com", "/600001/album",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      const std::string page = req.get_param_value("curpage");
                      Log("page albums " + page);
                      Reply(req, res,
                            page == "1" ? PageAlbums({{"11", "发布会"}, {"12", "新品"}}, true)
                                        : PageAlbums({{"13", "门店"}}, true));
                  });
        server.On("zhan.renren.com", "/light",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      if (req.has_param("gid")) {
                          const std::string gid = req.get_param_value("gid");
                          Log("post " + gid);
                          Reply(
                              req, res,
                              "<div id=\"main-wrap\"><p class=\"photo\"><img data-src=\"https://"
                              "fmn.rrimg.com/zhan/" +
                                  gid +
                                  "a.jpg\"/></p><p class=\"photo\"><img src=\"https://"
                                  "fmn.rrimg.com/zhan/" +
                                  gid +
                                  "b.jpg\"/></p><div class=\"ccagreement\">"
                                  "<p class=\"photo\"><img src=\"https://fmn.rrimg.com/ad.jpg\"/>");
                          return;
                      }
                      Log("station");
                      Reply(req, res,
                            LoggedIn(req) ? "<script>var site = {name:'光影'};</script><a "
                                            "href=\"/rss?site_id=5005\">rss</a>"
                                          : "<html>请登录</html>");
                  });
        server.On("zhan.renren.com", "/archive",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Log("archive");
                      Reply(req, res,
                            req.get_param_value("site_id") == "5005"
                                ? "<div class=\"time_control\"><a mark=\"2013-05\">5</a></div>"
                                  "</section>"
                                : "");
                  });
        server.On("zhan.renren.com", "/archive/archiveByTime",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Log("month " + req.get_param_value("month") +
                          " page=" + req.get_param_value("page"));
                      Reply(req, res, StationPosts({{"901", "春日"}, {"902", "C:\\\\夏"}}));
                  });
        server.On("fmn.rrimg.com", "*", [this](const httplib::Request& req, auto& res) {
            const std::string referer = req.get_header_value("Referer");
            LogImage(req.path + " <- " + referer);
            const bool albumReferer = referer.starts_with("https://photo.renren.com/photo/") ||
                                      referer.starts_with("https://zhan.renren.com/light?gid=");
            if (!albumReferer) {
                res.status = 403;
                return;
            }
            res.set_content(ImageBytes(req.path), "image/jpeg");
        });
    }

    static bool LoggedIn(const httplib::Request& req) {
        return req.get_header_value("Cookie").find("t=rr") != std::string::npos;
    }
    // Gzip for clients that accept it, plain otherwise.
    static void Reply(const httplib::Request& req, httplib::Response& res,
                      const std::string& body) {
        test::ReplyGzipWhenAccepted(req, res, body, "text/html; charset=utf-8");
    }
    std::vector<std::string> Routes() const {
        return test::RoutesTo(server, {"www.renren.com", "photo.renren.com", "page.renren.com",
                                       "zhan.renren.com", "fmn.rrimg.com"});
    }
    test::TestServer server;
};

class RenrenCliTest : public test::SiteCliTest<RenrenServers> {
  protected:
    RenrenCliTest() { WriteCookies(true); }
    void WriteCookies(bool loggedIn) {
        std::ofstream out(CookieFile(), std::ios::trunc);
        out << "# Netscape HTTP Cookie File\n";
        if (loggedIn) {
            out << ".renren.com\tTRUE\t/\tFALSE\t0\tt\trr0042\n";
        }
    }
};

TEST_F(RenrenCliTest, UserAlbumsListAndDownloadWithTheAlbumReferer) {
    const auto result = test::RunProcess(Command({"https://www.renren.com/zhangsan"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t旅行\t   3\t\n0002\tC逃逸\t   2\t\n");
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"张三/C逃逸/1.jpg", "张三/C逃逸/2.jpg",
                                        "张三/C逃逸/pic.zvt", "张三/旅行/1.jpg", "张三/旅行/2.jpg",
                                        "张三/旅行/3.jpg", "张三/旅行/pic.zvt"}));
    EXPECT_EQ(servers.Logged(), (std::vector<std::string>{
                                    "lookup", "v7 list", "photos 101 page=1", "photos 101 page=2",
                                    "photos 101 page=3", "photos 102 page=1", "photos 102 page=2"}))
        << "a short page goes on, a page without entries ends each photo list";
    const std::string album101 = "https://photo.renren.com/photo/42/album-101/";
    const std::string album102 = "https://photo.renren.com/photo/42/album-102/";
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"/101/0.jpg <- " + album101, "/101/1.jpg <- " + album101,
                                        "/101/2.jpg <- " + album101, "/102/0.jpg <- " + album102,
                                        "/102/1.jpg <- " + album102}));
}

TEST_F(RenrenCliTest, PageAlbumsEndWhenTheServiceRepeatsAPage) {
    const auto result =
        test::RunProcess(Command({"-a", "1,3", "https://page.renren.com/brand?from=x"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t发布会\t   2\t\n0002\t新品\t   2\t\n0003\t门店\t   2\t\n");
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"某品牌/发布会/1.jpg", "某品牌/发布会/pic.zvt",
                                        "某品牌/门店/1.jpg", "某品牌/门店/pic.zvt"}));
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{"lookup", "page albums 1", "page albums 2", "page albums 3",
                                        "photos 11 page=1", "photos 11 page=2", "photos 13 page=1",
                                        "photos 13 page=2"}));
}

TEST_F(RenrenCliTest, StationPostsAreAlbums) {
    const auto result = test::RunProcess(Command({"https://zhan.renren.com/light"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t春日\t未知\t\n0002\tC夏\t未知\t\n");
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"光影/C夏/C夏(1).jpg", "光影/C夏/C夏.jpg",
                                        "光影/C夏/pic.zvt", "光影/春日/pic.zvt",
                                        "光影/春日/春日(1).jpg", "光影/春日/春日.jpg"}))
        << "pictures without a name take the post's";
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{"station", "archive", "month 2013-05 page=0",
                                        "month 2013-05 page=1", "post 901", "post 902"}));
    const std::string post = "https://zhan.renren.com/light?gid=";
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"/zhan/901a.jpg <- " + post + "901&ajax=true",
                                        "/zhan/901b.jpg <- " + post + "901&ajax=true",
                                        "/zhan/902a.jpg <- " + post + "902&ajax=true",
                                        "/zhan/902b.jpg <- " + post + "902&ajax=true"}))
        << "the agreement's picture is not a post picture";
}

TEST_F(RenrenCliTest, WithoutLoginEachFamilyShowsItsSteps) {
    WriteCookies(false);
    auto result = test::RunProcess(Command({"https://www.renren.com/zhangsan"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("[提示] " + cli::ForTheCommandLine(kRenrenHint)), std::string::npos)
        << result.err;
    result = test::RunProcess(Command({"https://zhan.renren.com/light"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("[提示] " + cli::ForTheCommandLine(kStationHint)), std::string::npos)
        << result.err;
    EXPECT_TRUE(save.Files().empty());
}

}  // namespace
}  // namespace brenvik
