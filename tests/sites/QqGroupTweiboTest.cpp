// QQ group shared albums and Tencent Weibo topic albums: paging and end rules against
// pages answered in-process, then the real brenvik-cli against local HTTPS servers.
#include <algorithm>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "cli/CliFrontEnd.h"

#include "app/AddressRule.h"
#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/FakeSitePages.h"
#include "sites/QqGroup.h"
#include "sites/Qzone.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/RequestLog.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using test::QueryValue;

constexpr const char* kSkey = "@grpKEY";
constexpr const char* kGroupHint =
    "没有获取到相册，可按以下步骤操作：\n\n1、你哪个号加入了你要下载的QQ群，就先在下载器的登录菜单"
    "里登录那个QQ号\n\n2、输入你要下载的QQ群号后，点获取相册列表";
constexpr const char* kTweiboHint =
    "没有获取到相册，可按以下步骤操作：\n\n1、请先在下载器的登录菜单里登录你的腾讯微博帐号(登录时"
    "勾上下次自动登录)\n\n2、输入你要下载的那个人的微博主页网址后，点获取相册列表";

// --- Page builders, shared by the in-process and the end-to-end cases ------------------

struct GroupAlbum {
    std::string id;
    std::string title;
    int photos = 0;
    std::string createtime = "2014-01-02 10:20:30";
};

std::string GroupAlbumPage(const std::vector<GroupAlbum>& albums) {
    std::string json = "_Callback({\"code\":0,\"data\":{\"album\":[";
    for (const auto& a : albums) {
        json += "{\"coverurl\" : \"https:\\/\\/qungz.photo.store.qq.com\\/c\\/" + a.id +
                "\", \"createtime\" : \"" + a.createtime + "\", \"id\" : \"" + a.id +
                "\", \"title\" : \"" + a.title + "\", \"photocnt\" : " + std::to_string(a.photos) +
                ", \"x\" : 1},";
    }
    return json + "]}})";
}

struct GroupPhoto {
    std::string raw;
    std::string hd;
    std::string b;
    std::string name;
    std::string desc;
};

std::string GroupPhotoPage(const std::vector<GroupPhoto>& photos) {
    std::string json = "_Callback({\"code\":0,\"data\":{\"photos\":[";
    for (const auto& p : photos) {
        json += "{\"bheight\" : 600, \"rawurl\" : \"" + p.raw + "\", \"hdurl\" : \"" + p.hd +
                "\", \"burl\" : \"" + p.b + "\", \"name\" : \"" + p.name + "\", \"desc\" : \"" +
                p.desc + "\"},";
    }
    return json + "]}})";
}

struct Topic {
    std::string name;  // as the service writes it (with \u escapes)
    std::string topicId;
    std::string type;
    int num = 0;
};

std::string TopicPage(const std::vector<Topic>& topics) {
    std::string json = "{\"result\":0,\"info\":[";
    for (const auto& t : topics) {
        json += "{\"num\":" + std::to_string(t.num) + ",\"name\":\"" + t.name + "\",\"type\":\"" +
                t.type + "\",\"topicid\":\"" + t.topicId +
                "\",\"image\":[\"http:\\/\\/t1.qpic.cn\\/cover\\/" + t.topicId + "\"]},";
    }
    return json + "]}";
}

struct Post {
    std::string id;
    std::string content;
    std::vector<std::string> images;  // ids on the picture host
    std::string realtime;
    std::string secondContent;
};

std::string PostPage(const std::vector<Post>& posts) {
    std::string json = "{\"result\":0,\"info\":[";
    for (const auto& p : posts) {
        json += "{\"id\":\"" + p.id + "\",\"content\":\"" + p.content + "\",\"pic\":[";
        for (const auto& image : p.images) {
            json += "{\"url\":\"https:\\/\\/t1.qpic.cn\\/mblogpic\\/" + image + "\",\"w\":1},";
        }
        json += "],\"realtime\":" + p.realtime + ",\"source\":{\"content\":\"" + p.secondContent +
                "\",\"x\":1}},";
    }
    return json + "]}";
}

std::string ImageBytes(const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(2048, 'g');
    return bytes;
}

// --- In-process cases ------------------------------------------------------------------

class TencentPagesTest : public ::testing::Test {
  protected:
    TencentPagesTest() : session(home.Path(), front) {
        RegisterAllSites();
        CookieStore::Shared().Clear();
        CookieStore::Shared().Put(std::string(".qq.com\tTRUE\t/\tFALSE\t0\tskey\t") + kSkey);
        CookieStore::Shared().Put(".qq.com\tTRUE\t/\tFALSE\t0\tguin\to0012345");
        session.ready = true;
    }
    ~TencentPagesTest() override { CookieStore::Shared().Clear(); }

    ListJobOutcome List(const std::string& text, int sub) {
        PrepareListing(session, 0);
        return GetListFunc(session, text, sub);
    }
    // Runs the photo list of an album as the download job would, without downloading.
    std::vector<DownloadRow> Photos(PhotoLister lister, int albumIndex) {
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
        FindPhotoLister(lister)(session, albumIndex);
        return session.downloads.Rows();
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    test::FakeSitePages pages;
};

constexpr const char* kAlbumList =
    "https://qungz.photo.store.qq.com/cgi-bin/upp/qun_list_album_v2?";
constexpr const char* kPhotoList =
    "https://qungz.photo.store.qq.com/cgi-bin/upp/qun_list_photo_v2?";

std::vector<GroupAlbum> NumberedAlbums(int from, int count) {
    std::vector<GroupAlbum> albums;
    for (int i = from; i < from + count; ++i) {
        albums.push_back({"a" + std::to_string(i), "相册" + std::to_string(i), i});
    }
    return albums;
}

TEST_F(TencentPagesTest, GroupAlbumsPageBySixtyUntilAPageBringsNothingNew) {
    // The service ignores starts past the end and repeats its last page.
    pages.On(kAlbumList, [](const std::string& address) -> std::optional<std::string> {
        return GroupAlbumPage(QueryValue(address, "start") == "0" ? NumberedAlbums(0, 60)
                                                                  : NumberedAlbums(60, 2));
    });
    ASSERT_EQ(List("https://qun.qzone.qq.com/group#!/98765/photo", 1).albums, 62);
    std::vector<std::string> starts;
    for (const auto& address : pages.AskedUnder(kAlbumList)) {
        starts.push_back(QueryValue(address, "start"));
        EXPECT_EQ(QueryValue(address, "qunId"), "98765");
        EXPECT_EQ(QueryValue(address, "uin"), "012345") << "one leading zero dropped";
        EXPECT_EQ(QueryValue(address, "hostUin"), "012345");
        EXPECT_EQ(QueryValue(address, "g_tk"), std::to_string(QzoneToken(kSkey)));
        EXPECT_EQ(QueryValue(address, "num"), "60");
    }
    EXPECT_EQ(starts, (std::vector<std::string>{"0", "60", "120"}));
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->key,
              "qunId=98765&albumId=a0&uin=012345&g_tk=" + std::to_string(QzoneToken(kSkey)));
    EXPECT_EQ(first->text4, "2014-01-02 10：20：30");
    EXPECT_EQ(first->coverUrl, "https://qungz.photo.store.qq.com/c/a0");
    EXPECT_EQ(session.albums.At(61)->photoCount, 61);
    EXPECT_EQ(session.subKind, 1);
    EXPECT_EQ(session.OwnerName(), "98765");
    EXPECT_EQ(session.SiteText(), "012345");
}

TEST_F(TencentPagesTest, GroupListEnds) {
    // Nameless entries are skipped; an empty page, a missing marker and the
    // not-logged-in answer each end the list.
    pages.On(std::string(kAlbumList), [](const std::string& address) -> std::optional<std::string> {
        if (QueryValue(address, "start") == "0") {
            return GroupAlbumPage({{"a1", "", 1}, {"a2", "好", 2}});
        }
        return "_Callback({\"code\":0,\"data\":{\"album\":[]}})";
    });
    EXPECT_EQ(List("98765", 1).albums, 1);
    EXPECT_EQ(pages.AskedUnder(kAlbumList).size(), 2u);

    pages.Serve(kAlbumList, "_Callback({\"code\":-3000,\"message\":\"对不起，您尚未登录\"})");
    EXPECT_EQ(List("98765", 1).albums, 0);
    EXPECT_EQ(front.messages.back(), kGroupHint);

    const std::size_t before = pages.Asked().size();
    EXPECT_EQ(List("not-a-group", 1).albums, 0) << "a text that is no group number asks nothing";
    EXPECT_EQ(pages.Asked().size(), before);
}

TEST_F(TencentPagesTest, AStoppedGroupListingKeepsWhatItFound) {
    pages.On(kAlbumList, [this](const std::string&) -> std::optional<std::string> {
        // The user stops while the first page is on its way.
        session.listingState = kListingStopAsked;
        return GroupAlbumPage(NumberedAlbums(0, 60));
    });
    EXPECT_EQ(List("98765", 1).albums, 1);
    EXPECT_EQ(pages.AskedUnder(kAlbumList).size(), 1u) << "no further page";
    EXPECT_EQ(front.controls[kControlJobStatus], "已终止获取相册列表，已获取1个");
}

TEST_F(TencentPagesTest, GroupUserNumberAndAddressForms) {
    EXPECT_EQ(QqGroupUserNumber("skey=x; guin=o0123;"), "123");
    EXPECT_EQ(QqGroupUserNumber("guin=o00123;"), "0123");
    EXPECT_EQ(QqGroupUserNumber("uin=o0055; skey=x;"), "055") << "the Qzone cookie serves too";
    EXPECT_EQ(QqGroupUserNumber("skey=x;"), "");

    pages.Serve(kAlbumList, GroupAlbumPage({{"a1", "一", 1}}));
    for (const char* typed :
         {"98765", "https://qun.qzone.qq.com/group#!/98765/photo", "http://qun.qzone.qq.com/98765",
          "http://qun.qq.com/#!/98765/album"}) {
        pages.Serve(kAlbumList, GroupAlbumPage({{"a1", "一", 1}}));
        List(typed, 1);
        EXPECT_EQ(QueryValue(pages.Asked().back(), "qunId"), "98765") << typed;
    }
}

TEST_F(TencentPagesTest, GroupPhotoAddressesNamesAndPages) {
    pages.Serve(kAlbumList, GroupAlbumPage({{"a1", "一", 3}}));
    ASSERT_EQ(List("98765", 1).albums, 1);
    const std::vector<GroupPhoto> photos = {
        {.raw = "http:\\/\\/p.qpic.cn\\/raw\\/200\\/1.jpg",
         .hd = "x",
         .name = " 名 ",
         .desc = "述"},
        {.hd = "http:\\/\\/p.qpic.cn\\/hd\\/2\\/200?w=1", .name = "", .desc = "二"},
        {.b = "http:\\/\\/p.qpic.cn\\/b\\/3", .name = "三"},
        {.name = "没有地址"},
    };
    pages.On(kPhotoList, [&](const std::string& address) -> std::optional<std::string> {
        // Start 500 repeats the first page: nothing new, the list ends.
        return QueryValue(address, "start") == "1000" ? "" : GroupPhotoPage(photos);
    });
    const auto rows = Photos(PhotoLister::QqGroupPhotos, 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].url, "http://p.qpic.cn/raw/1.jpg");
    EXPECT_EQ(rows[1].url, "http://p.qpic.cn/hd/2/800?w=1");
    EXPECT_EQ(rows[2].url, "http://p.qpic.cn/b/3/800");
    EXPECT_EQ(rows[0].fileName, "名.jpg");
    EXPECT_EQ(rows[1].fileName, "二.jpg") << "an empty name takes the description";
    const auto asked = pages.AskedUnder(kPhotoList);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(QueryValue(asked[1], "start"), "500");
    EXPECT_NE(asked[0].find("&qunId=98765&albumId=a1&uin=012345&g_tk="), std::string::npos);
}

TEST_F(TencentPagesTest, GroupCreationTimeNamesTheFolderWhereTheRulesAskForIt) {
    pages.Serve(kAlbumList, GroupAlbumPage({{"a1", "一", 1}}));
    ASSERT_EQ(List("98765", 1).albums, 1);
    SaveOptions rules = session.SaveRules(0);
    rules.folderMode = kFolderAlbumName;
    rules.folderSuffix = " ?5";
    session.SetSaveRules(0, rules);
    pages.Serve(kPhotoList, GroupPhotoPage({{.raw = "http:\\/\\/p.qpic.cn\\/1.jpg", .name = "n"}}));
    ASSERT_EQ(Photos(PhotoLister::QqGroupPhotos, 0).size(), 1u);
    EXPECT_EQ(session.downloads.AlbumFolder(), save.Path() / "一 2014-01-02 10：20：30");
    EXPECT_TRUE(std::filesystem::is_directory(save.Path() / "一 2014-01-02 10：20：30"));
}

TEST(QqGroupAddresses, EveryGroupAddressChoosesTheGroupList) {
    for (const char* typed : {"https://qun.qzone.qq.com/group#!/98765/photo",
                              "http://qun.qzone.qq.com/98765", "http://qun.qq.com/#!/98765"}) {
        const auto guess = SiteForAddress(typed);
        ASSERT_TRUE(guess) << typed;
        EXPECT_EQ(guess->site, 0);
        EXPECT_EQ(guess->subSelector, 1) << typed;
    }
    EXPECT_EQ(SiteForAddress("https://user.qzone.qq.com/98765")->subSelector, 0);
}

constexpr const char* kTopicList = "https://api.t.qq.com/asyn/gettopicalbum.php?op=1&";
constexpr const char* kPostList = "https://api.t.qq.com/asyn/gettopicalbum.php?op=2&";

void ServeAccountPage(test::FakeSitePages& pages) {
    pages.Serve("https://t.qq.com/app/qzphoto/someone?preview",
                "<script>var other = {\"uin\":\"111\"}; MI.App.guest = {\"uin\":\"222333\"};");
}

TEST_F(TencentPagesTest, TopicAlbumsFromTheAccountsNumericId) {
    ServeAccountPage(pages);
    pages.On(kTopicList, [](const std::string& address) -> std::optional<std::string> {
        if (QueryValue(address, "page") == "1") {
            return TopicPage({{"\\u65c5\\u884c", "t1", "", 7}, {"全部", "", "all", 9}});
        }
        return TopicPage({{"猫", "t2", "", 2}, {"\\u65c5\\u884c", "t1", "", 7}});
    });
    ASSERT_EQ(List("http://t.qq.com/someone?pgv=1", 2).albums, 3);
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "旅行");
    EXPECT_EQ(albums[0].key, "t1");
    EXPECT_EQ(albums[0].photoCount, 7);
    EXPECT_EQ(albums[0].coverUrl, "http://t1.qpic.cn/cover/t1/240");
    EXPECT_EQ(albums[1].key, "all") << "a typed topic is keyed by its type";
    EXPECT_EQ(albums[1].photoCount, -1);
    EXPECT_EQ(albums[2].name, "猫");
    EXPECT_EQ(session.SiteText(), "222333") << "the id after MI.App.guest";
    EXPECT_EQ(session.OwnerName(), "someone");
    const auto asked = pages.AskedUnder(kTopicList);
    ASSERT_EQ(asked.size(), 3u) << "page 3 repeats page 2's topics and ends the list";
    EXPECT_EQ(QueryValue(asked[0], "uin"), "222333");
    EXPECT_EQ(QueryValue(asked[0], "apiHost"), "https%3A%2F%2Fapi.t.qq.com");
    for (const auto& headers : pages.HeaderBlocks()) {
        EXPECT_EQ(headers,
                  "Accept-Encoding: gzip, deflate\r\nReferer: https://api.t.qq.com/proxy.html");
    }
}

TEST_F(TencentPagesTest, TopicListWithoutTheAccountIdShowsTheHint) {
    pages.Serve("https://t.qq.com/app/qzphoto/someone?preview", "<html>请登录</html>");
    EXPECT_EQ(List("http://t.qq.com/someone", 2).albums, 0);
    EXPECT_TRUE(pages.AskedUnder(kTopicList).empty());
    ASSERT_EQ(front.messages.size(), 1u) << "the hint and the note go in one message";
    EXPECT_TRUE(front.messages[0].starts_with(std::string(kTweiboHint) + "\n\n"))
        << front.messages[0];
    EXPECT_NE(front.messages[0].find("网站可能已改版"), std::string::npos)
        << "a login page without markers is kept as a changed one would be";
}

TEST_F(TencentPagesTest, PostsPageByTheTimeOfTheLastPost) {
    ServeAccountPage(pages);
    pages.Serve(kTopicList, TopicPage({{"旅行", "t1", "", 3}}));
    ASSERT_EQ(List("http://t.qq.com/someone", 2).albums, 1);
    pages.On(kPostList, [](const std::string& address) -> std::optional<std::string> {
        const std::string page = QueryValue(address, "page");
        if (page == "1") {
            return PostPage({{"p1", "\\u6d77<b>\\/\\u8fb9<\\/b>", {"i1", "i2"}, "1001"},
                             {"p2", "", {}, "1002", "转发"}});
        }
        if (page == "2") {
            return PostPage({{"p3", "", {"i3"}, "1003"}});
        }
        return PostPage({{"p3", "", {"i3"}, "1003"}});  // the last page again
    });
    const auto rows = Photos(PhotoLister::TweiboPhotos, 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].url, "https://t1.qpic.cn/mblogpic/i1/2000");
    EXPECT_EQ(rows[0].fileName, "海边.jpg") << "tags stripped, the escaped slash unsafe in a name";
    EXPECT_EQ(rows[1].fileName, "海边(1).jpg");
    EXPECT_EQ(rows[2].fileName, "旅行.jpg") << "no text at all: the album name";
    const auto asked = pages.AskedUnder(kPostList);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(QueryValue(asked[0], "time"), "");
    EXPECT_EQ(QueryValue(asked[1], "time"), "1002") << "a post without pictures still pages";
    EXPECT_EQ(QueryValue(asked[1], "u"), "someone");
    EXPECT_EQ(QueryValue(asked[2], "time"), "1003");
    EXPECT_EQ(QueryValue(asked[0], "topicid"), "t1");
    EXPECT_EQ(QueryValue(asked[0], "uin"), "222333");
    EXPECT_EQ(QueryValue(asked[0], "g_tk"), "7302516");
}

// --- End to end: the real brenvik-cli against local HTTPS servers -----------------------

// Plays the group photo service, Tencent Weibo and their picture hosts. Every list
// service ignores page numbers past its end and repeats its last page, as some do.
class TencentServers : public test::RequestLog {
  public:
    TencentServers() : server(/*https=*/true) {
        server.On("qungz.photo.store.qq.com", "/cgi-bin/upp/qun_list_album_v2",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Log("albums start=" + req.get_param_value("start"));
                      if (req.get_param_value("g_tk") != std::to_string(QzoneToken(kSkey)) ||
                          req.get_param_value("uin") != "012345") {
                          res.set_content(
                              "_Callback({\"code\":-3000,\"message\":\"对不起，您尚未登录\"})",
                              "text/plain");
                          return;
                      }
                      Reply(req, res, GroupAlbumPage(groupAlbums));
                  });
        server.On("qungz.photo.store.qq.com", "/cgi-bin/upp/qun_list_photo_v2",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      const std::string album = req.get_param_value("albumId");
                      Log("photos " + album + " start=" + req.get_param_value("start"));
                      const auto found = groupPhotos.find(album);
                      res.set_content(
                          GroupPhotoPage(found == groupPhotos.end() ? std::vector<GroupPhoto>{}
                                                                    : found->second),
                          "application/x-javascript");
                  });
        server.On("t.qq.com", "/app/qzphoto/someone",
                  [this](const httplib::Request&, httplib::Response& res) {
                      Log("account");
                      res.set_content(loggedIn ? "<script>MI.App.guest = {\"uin\":\"222333\"};"
                                               : "<html>请先登录</html>",
                                      "text/html; charset=utf-8");
                  });
        server.On(
            "api.t.qq.com", "/asyn/gettopicalbum.php",
            [this](const httplib::Request& req, httplib::Response& res) { Topics(req, res); });
        for (const char* host : {"p.qpic.cn", "t1.qpic.cn"}) {
            server.On(host, "*", [this](const httplib::Request& req, httplib::Response& res) {
                LogImage(req.path);
                res.set_content(ImageBytes(req.path), "image/jpeg");
            });
        }
    }

    // Gzip when the client accepts it, so both bodies are exercised across the services.
    static void Reply(const httplib::Request& req, httplib::Response& res,
                      const std::string& body) {
        test::ReplyGzipWhenAccepted(req, res, body, "application/x-javascript; charset=utf-8");
    }

    void Topics(const httplib::Request& req, httplib::Response& res) {
        const std::string op = req.get_param_value("op");
        const int page = std::stoi(req.get_param_value("page"));
        Log("op=" + op + " page=" + std::to_string(page) +
            " topic=" + req.get_param_value("topicid") + " time=" + req.get_param_value("time"));
        if (req.get_header_value("Referer") != "https://api.t.qq.com/proxy.html") {
            res.set_content("{\"result\":-1}", "application/json");
            return;
        }
        if (op == "1") {
            Reply(req, res, TopicPage({{"\\u65c5\\u884c", "t1", "", 3}, {"其他", "", "all", 0}}));
            return;
        }
        const std::string topic = req.get_param_value("topicid");
        if (topic == "t1") {
            // Page 2 comes only for the time of page 1's last post; later pages repeat it.
            if (page == 1) {
                Reply(req, res, PostPage({{"p1", "海边", {"i1", "i2"}, "1001"}}));
            } else if (req.get_param_value("time") == "1001" || page > 2) {
                // A repost: its own text is empty, the reposted post's names the picture.
                Reply(req, res, PostPage({{"p2", "", {"i3"}, "1002", "山顶"}}));
            } else {
                Reply(req, res, "{\"result\":0,\"info\":[]}");
            }
            return;
        }
        Reply(req, res, PostPage({{"p9", "../C:\\\\逃:*?|", {"i9"}, "1009"}}));
    }

    std::vector<std::string> Routes() const {
        return test::RoutesTo(server, {"qungz.photo.store.qq.com", "t.qq.com", "api.t.qq.com",
                                       "p.qpic.cn", "t1.qpic.cn"});
    }
    test::TestServer server;
    std::vector<GroupAlbum> groupAlbums = {
        {"g1", "旅行", 2}, {"g2", "../C:\\逃逸:*?|", 1}, {"g3", "空", 0}};
    std::map<std::string, std::vector<GroupPhoto>> groupPhotos = {
        {"g1",
         {{.raw = "https:\\/\\/p.qpic.cn\\/g\\/200\\/1.jpg", .name = "海边"},
          {.b = "https:\\/\\/p.qpic.cn\\/g\\/2", .name = "山顶"}}},
        {"g2", {{.hd = "https:\\/\\/p.qpic.cn\\/g\\/3\\/200?x=1", .name = "..\\/..\\/逃"}}},
    };
    bool loggedIn = true;
};

class TencentCliTest : public test::SiteCliTest<TencentServers> {
  protected:
    TencentCliTest() { WriteCookies(true); }
    void WriteCookies(bool loggedIn) {
        std::ofstream out(CookieFile(), std::ios::trunc);
        out << "# Netscape HTTP Cookie File\n";
        if (loggedIn) {
            out << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << kSkey << "\n"
                << ".qq.com\tTRUE\t/\tFALSE\t0\tguin\to0012345\n";
        }
    }
};

TEST_F(TencentCliTest, GroupAddressListsAndDownloadsTwoAlbums) {
    const auto result =
        test::RunProcess(Command({"-a", "1-2", "https://qun.qzone.qq.com/group#!/98765/photo"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t旅行\t   2\t\n0002\tC逃逸\t   1\t\n0003\t空\t   0\t\n");
    EXPECT_EQ(save.Files(), (std::vector<std::string>{"98765/C逃逸/pic.zvt", "98765/C逃逸/逃.jpg",
                                                      "98765/旅行/pic.zvt", "98765/旅行/山顶.jpg",
                                                      "98765/旅行/海边.jpg"}));
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{"albums start=0", "albums start=60", "photos g1 start=0",
                                        "photos g1 start=500", "photos g2 start=0",
                                        "photos g2 start=500"}))
        << "repeated pages end the album list and each photo list";
    EXPECT_EQ(servers.Images(), (std::vector<std::string>{"/g/1.jpg", "/g/2/800", "/g/3/800"}))
        << "every photo once, by the rewritten addresses";
}

TEST_F(TencentCliTest, GroupWithoutLoginShowsTheSteps) {
    WriteCookies(false);
    const auto result = test::RunProcess(Command({"-s", "qqgroup", "98765"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("[提示] " + cli::ForTheCommandLine(kGroupHint)), std::string::npos)
        << result.err;
    EXPECT_TRUE(save.Files().empty());
}

TEST_F(TencentCliTest, WeiboAccountListsAndDownloadsTopics) {
    const auto result = test::RunProcess(Command({"https://t.qq.com/someone"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t旅行\t   3\t\n0002\t其他\t未知\t\n");
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"someone/其他/C逃.jpg", "someone/其他/pic.zvt",
                                        "someone/旅行/pic.zvt", "someone/旅行/山顶.jpg",
                                        "someone/旅行/海边(1).jpg", "someone/旅行/海边.jpg"}));
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{
                  "account", "op=1 page=1 topic= time=", "op=1 page=2 topic= time=",
                  "op=2 page=1 topic=t1 time=", "op=2 page=2 topic=t1 time=1001",
                  "op=2 page=3 topic=t1 time=1002",
                  "op=2 page=1 topic=all time=", "op=2 page=2 topic=all time=1009"}));
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"/mblogpic/i1/2000", "/mblogpic/i2/2000",
                                        "/mblogpic/i3/2000", "/mblogpic/i9/2000"}));
}

TEST_F(TencentCliTest, WeiboWithoutLoginShowsTheSteps) {
    servers.loggedIn = false;
    const auto result = test::RunProcess(Command({"-l", "https://t.qq.com/someone"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("[提示] " + cli::ForTheCommandLine(kTweiboHint)), std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace brenvik
