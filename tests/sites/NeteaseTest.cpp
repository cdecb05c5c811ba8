// NetEase albums, the NetEase photo community and Lofter against local HTTPS servers that
// play the album host, its remote calls and album files (GBK, gzip), the image domains,
// the community pages and a Lofter blog; in-process and through the real brenvik-cli.
#include <algorithm>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "net/TextKit.h"
#include "sites/Netease.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/SessionViews.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

std::string ImageBytes(const std::string& host, const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + host + path;
    bytes.resize(2048, 'n');
    return bytes;
}

// The album service's answer to a remote call naming a file.
std::string CallAnswer(const std::string& file) {
    return "//#DWR-REPLY\ndwr.engine._remoteHandleCallback('530377','0',\"" + file + "\");\n";
}

const char* const kAlbumFile =
    "var g_a$1d = [{id:101,name:'旅行',s:1,desc:'第一行\\r\\n第二行',st:0,au:0,count:3,t:0,"
    "curl:'3/cover101.jpg',purl:'s2.ph.126.net/a/p101.js',comCount:0},"
    "{id:102,name:'空相册',au:0,count:0,curl:'3/c102.jpg',purl:'s2.ph.126.net/a/p102.js',c:0},"
    "{id:103,name:'好友',au:4,count:2,curl:'',purl:'',c:0},"
    "{id:104,name:'问答',au:8,count:1,curl:'',purl:'',c:0},"
    "{id:105,name:'断线',au:2,count:1,curl:'',purl:'',c:0},"
    "{id:106,name:'../../逃出',au: 0 ,count:2,curl:'/photo/c106.jpg',"
    "purl:'s2.ph.126.net/a/short.js',c:0},"
    "{id:107,name:'密码',au:x,count:1,curl:'4/c107.jpg',purl:'',c:0}];";

class NeteaseServers {
  public:
    NeteaseServers() : server(/*https=*/true) {
        // The album page form and the home page form of the same owner.
        server.Serve("photo.163.com", "/owner1",
                     ToGbk("<script>var p = {photo163HostName:'owner1', albumUrl : "
                           "'https://s2.ph.126.net/a/albums.js'};</script>"),
                     "text/html; charset=GBK");
        server.Serve("photo.163.com", "/u/owner1/home",
                     ToGbk("<script>var u = {hostName : 'owner1', nick : '主人'};</script>"),
                     "text/html; charset=GBK");
        server.Serve("photo.163.com", "/nobody", "<html>没有这个人</html>",
                     "text/html; charset=utf-8");
        server.On("photo.163.com", "/photo/owner1/dwr/call/plaincall/AlbumBean.getAlbumData.dwr",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      const std::string param = req.get_param_value("c0-param0");
                      const std::string from = req.get_param_value("c0-param2");
                      Record("call " + param + " " + from);
                      if (param == "number:103") {
                          res.set_content(CallAnswer("s2.ph.126.net/a/p103.js"), "text/javascript");
                      } else if (param == "number:104" && from == "string:fromblog") {
                          res.set_content(CallAnswer("s2.ph.126.net/a/p104.js"), "text/javascript");
                      } else if (param == "string:106") {
                          res.set_content(CallAnswer("s2.ph.126.net/a/p106.js"), "text/javascript");
                      } else if (param == "number:105") {
                          res.set_content("", "text/javascript");
                      } else {
                          res.set_content("dwr.engine._remoteHandleException('530377','0',{});",
                                          "text/javascript");
                      }
                  });
        server.On("s2.ph.126.net", "*",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      Record("file " + req.path);
                      const auto found = files.find(req.path);
                      if (found == files.end()) {
                          res.status = 404;
                          return;
                      }
                      test::ReplyGzipWhenAccepted(req, res, ToGbk(found->second),
                                                  "application/x-javascript");
                  });
        files = {
            {"/a/albums.js", kAlbumFile},
            {"/a/p101.js",
             "[{id:1,s:1,ourl:'3/photo/o1.jpg',murl:'3/m1.jpg',desc:'日出'},"
             "{id:2,ourl:'',murl:'4/m2.jpg',surl:'4/s2.jpg',desc:''},"
             "{id:3,surl:'/photo/s3.jpg',desc:'夜'},{id:4,desc:'没有图'}]"},
            {"/a/p103.js", "[{id:1,ourl:'4/f1.jpg',desc:'友'}]"},
            {"/a/p104.js", "[{id:1,ourl:'5/q1.jpg',desc:'答'}]"},
            {"/a/short.js", "[]"},
            {"/a/p106.js",
             "[{id:1,ourl:'5/h1.jpg',desc:'../../../etc/passwd'},{id:2,ourl:'5/h2.jpg',desc:''}]"},
        };

        // The photo community.
        server.Serve("pp.163.com", "/ppuser/",
                     "<script>var u = {nickName : '摄影/师'};</script><ul>"
                     "<li class=\"w-cover\"><a href=\"/ppuser/pp/11.html\" title=\"山水\">"
                     "<img src=\"https://img5.ph.126.net/c11.jpg\"></a><em>更新</em>"
                     "<p>~ [2张]</p></li>"
                     "<li class=\"w-cover\"><a title=\"无链接\"></a></li>"
                     "<li class=\"w-cover\"><a href=\"https://pp.163.com/ppuser/pp/12.html\" "
                     "title=\"../花\"><img src=\"https://img5.ph.126.net/c12.jpg\"></a><em>x</em>"
                     "<p>~ [1张]</p></li></ul>",
                     "text/html; charset=utf-8");
        server.Serve("pp.163.com", "/ppuser/pp/11.html",
                     "<script>var x = {a:1,url:'https://img5.ph.126.net/before.jpg'};"
                     "window.picList = [{id:1,url:'https://img5.ph.126.net/pp1.jpg',picDesc:'云'},"
                     "{id:2,url:'https://img5.ph.126.net/pp2.jpg',picDesc:''}];"
                     "window.photoidsList = [{id:3,url:'https://img5.ph.126.net/after.jpg'}];",
                     "text/html; charset=utf-8");
        server.Serve("pp.163.com", "/ppuser/pp/12.html",
                     "window.picList = [{id:1,url:'https://img5.ph.126.net/pp3.jpg',picDesc:''}];"
                     "photoidsList",
                     "text/html; charset=utf-8");

        // A Lofter blog.
        server.On("bob.lofter.com", "/view",
                  [this](const httplib::Request&, httplib::Response& res) {
                      res.set_content(archivePage, "text/html; charset=utf-8");
                  });
        server.On("bob.lofter.com", "/dwr/call/plaincall/ArchiveBean.getArchivePostByTime.dwr",
                  [](const httplib::Request&, httplib::Response& res) {
                      const std::string answer =
                          "//#DWR-INSERT\nvar s0={};s0.blogId=4242;s0.permalink=\"1d_a\";"
                          "s0.title=\"\\u6625\\u5929\";s0.time=1;\n"
                          "s1.blogId=4242;s1.permalink=\"1d_b\";s1.title=\"\";"
                          "s1.noticeLinkTitle=\"通知\";\n"
                          "s2.blogId=4242;s2.permalink=\"1d_c\";s2.title=\"\";\n"
                          "s3.blogId=4242;s3.permalink=\"\";s3.title=\"没有链接\";\n"
                          "s4.blogId=4242;s4.permalink=\"1d_d\";s4.title=\"缩略\";\n"
                          "s5.blogId=4242;s5.permalink=\"1d_e\";s5.title=\"../../空地址\";\n";
                      res.set_header("Content-Encoding", "gzip");
                      res.set_content(test::Gzip(answer), "text/javascript; charset=utf-8");
                  });
        const auto post = [](const std::string& images) {
            return "<div class=\"head\"><img src=\"https://bob.lofter.com/img/head.jpg\"></div>"
                   "<div class=\"content\">" +
                   images +
                   "</div><div class=\"nctitle\">推荐<img "
                   "src=\"https://bob.lofter.com/img/never.jpg\"></div>";
        };
        server.Serve("bob.lofter.com", "/post/1d_a",
                     post("<img src=\"https://imgsize.ph.126.net/?imgurl=https://bob.lofter.com/"
                          "img/a_128x128x0x90.jpg\">"
                          "<img src=\"https://bob.lofter.com/img/a1.jpg?imageView&amp;w=500\">"
                          "<img src=\"https://bob.lofter.com/img/a2.jpg\">"));
        server.Serve("bob.lofter.com", "/post/1d_b",
                     post("<img src=\"https://bob.lofter.com/img/b1.jpg\">"));
        server.Serve("bob.lofter.com", "/post/1d_c",
                     post("<img src=\"https://bob.lofter.com/img/c1.jpg\">"));
        server.Serve("bob.lofter.com", "/post/1d_d",
                     post("<img src=\"https://bob.lofter.com/img/d128x128x0x90.jpg\">"));
        server.Serve("bob.lofter.com", "/post/1d_e",
                     post("<img class=\"lazy\" src=\"\"><img "
                          "src=\"https://bob.lofter.com/img/e1.jpg\">"));

        for (const char* host : kImageHosts) {
            server.On(host, "*", [this, host](const httplib::Request& req, httplib::Response& res) {
                Record(std::string("image ") + host + req.path);
                // The hosts resize on request: a resized copy is not the original.
                const bool resized = req.has_param("imageView");
                res.set_content(ImageBytes(host, req.path + (resized ? "?resized" : "")),
                                "image/jpeg");
            });
        }
    }

    static constexpr const char* kImageHosts[] = {
        "img3.bimg.126.net", "img.bimg.126.net", "img3.ph.126.net",
        "img4.ph.126.net",   "img5.ph.126.net",  "bob.lofter.com",
    };

    std::vector<std::string> Routes() const {
        std::vector<std::string> routes = {server.RouteFor("photo.163.com"),
                                           server.RouteFor("s2.ph.126.net"),
                                           server.RouteFor("pp.163.com")};
        for (const char* host : kImageHosts) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }
    void Record(const std::string& what) {
        std::lock_guard lock(mutex);
        log.push_back(what);
    }
    std::vector<std::string> Log() {
        std::lock_guard lock(mutex);
        return log;
    }
    int Count(const std::string& what) {
        const auto entries = Log();
        return static_cast<int>(std::count(entries.begin(), entries.end(), what));
    }
    std::vector<test::RecordedRequest> RequestsTo(const std::string& path) const {
        std::vector<test::RecordedRequest> found;
        for (const auto& request : server.Requests()) {
            if (request.path.substr(0, request.path.find('?')) == path) {
                found.push_back(request);
            }
        }
        return found;
    }

    test::TestServer server;
    std::map<std::string, std::string> files;
    std::string archivePage =
        "<html><head><title>归档 - Bob的博客</title></head><body>"
        "<a href=\"/rss?blogId=4242\">订阅</a></body></html>";
    std::mutex mutex;
    std::vector<std::string> log;
};

TEST(NeteaseImageAddress, NumberedHostsAndDomains) {
    EXPECT_EQ(NeteaseImageAddress("3/abc/x.jpg"), "https://img3.ph.126.net/abc/x.jpg");
    EXPECT_EQ(NeteaseImageAddress("12/photo/x.jpg"), "https://img12.bimg.126.net/photo/x.jpg");
    EXPECT_EQ(NeteaseImageAddress("/photo/x.jpg"), "https://img.bimg.126.net/photo/x.jpg");
    EXPECT_EQ(NeteaseImageAddress(""), "");
    // A first segment that is no host label never becomes part of the host.
    EXPECT_EQ(NeteaseImageAddress("evil.com:1@x/y.jpg"),
              "https://img.ph.126.net/evil.com:1@x/y.jpg");
}

class NeteaseTest : public ::testing::Test {
  protected:
    NeteaseTest() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
    }
    ListJobOutcome List(int site, const std::string& text) {
        PrepareListing(session, site);
        return GetListFunc(session, text, 0);
    }
    std::vector<std::string> FileNames() { return test::RowFileNames(session); }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    NeteaseServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(NeteaseTest, AlbumListFromTheAlbumFileWithAccessWords) {
    ASSERT_EQ(List(2, "https://photo.163.com/owner1").albums, 6) << "album 105's call failed";
    const auto albums = session.albums.All();
    EXPECT_EQ(session.OwnerName(), "owner1");
    EXPECT_EQ(session.SiteText(), "owner1");
    EXPECT_EQ(session.subKind, -1);

    EXPECT_EQ(albums[0].name, "旅行");
    EXPECT_EQ(albums[0].key, "s2.ph.126.net/a/p101.js");
    EXPECT_EQ(albums[0].text4, "101");
    EXPECT_EQ(albums[0].text5, "第一行\r\n第二行");
    EXPECT_EQ(albums[0].coverUrl, "https://img3.ph.126.net/cover101.jpg");
    EXPECT_EQ(albums[0].photoCount, 3);
    EXPECT_EQ(albums[0].access, 0);
    EXPECT_EQ(albums[1].coverUrl, "https://s1.ph.126.net/image/default/none160.gif")
        << "an empty album shows the default picture even with a cover path";
    EXPECT_EQ(albums[2].access, kAccessFriends);
    EXPECT_EQ(albums[2].coverUrl, "https://s1.ph.126.net/image/default/fwxhy.gif");
    EXPECT_EQ(albums[2].key, "s2.ph.126.net/a/p103.js") << "key from the remote call";
    EXPECT_EQ(albums[3].access, kAccessEncrypted);
    EXPECT_EQ(albums[3].coverUrl, "https://s1.ph.126.net/image/default/fwxqa.gif");
    EXPECT_EQ(albums[3].key, "104") << "word 8: the album id, without a call";
    EXPECT_EQ(albums[4].coverUrl, "https://img.bimg.126.net/photo/c106.jpg");
    EXPECT_EQ(albums[4].name.find('/'), std::string::npos);
    EXPECT_EQ(albums[5].access, kAccessEncrypted);
    EXPECT_EQ(albums[5].coverUrl, "https://s1.ph.126.net/photo/image/default/fwxmm.gif");
    EXPECT_EQ(albums[5].key, "107") << "a call without a file gives the album id";

    EXPECT_EQ(servers.Count("call number:104 string:"), 0);
    const auto calls =
        servers.RequestsTo("/photo/owner1/dwr/call/plaincall/AlbumBean.getAlbumData.dwr");
    ASSERT_EQ(calls.size(), 3u);  // 103, 105, 107
    EXPECT_EQ(calls[0].path,
              "/photo/owner1/dwr/call/plaincall/AlbumBean.getAlbumData.dwr?callCount=1&"
              "scriptSessionId=%24%7BscriptSessionId%7D187&c0-scriptName=AlbumBean&"
              "c0-methodName=getAlbumData&c0-id=0&c0-param0=number%3A103&c0-param1=string%3A&"
              "c0-param2=string%3A&c0-param3=number%3A24881696&c0-param4=boolean%3Afalse&"
              "batchId=530377");
    for (const auto& request : servers.server.Requests()) {
        EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
    }
}

TEST_F(NeteaseTest, StopAfterTheFirstAlbum) {
    // The window's stop arrives while the first row is shown.
    class StoppingFront : public test::FakeFrontEnd {
      public:
        Session* session = nullptr;
        void AlbumAdded(const AlbumRecord& album) override {
            test::FakeFrontEnd::AlbumAdded(album);
            RequestListingStop(*session);
        }
    } stopping;
    Session stopped(home.Path(), stopping);
    stopping.session = &stopped;
    stopped.ready = true;
    PrepareListing(stopped, 2);
    EXPECT_EQ(GetListFunc(stopped, "https://photo.163.com/owner1", 0).albums, 1);
    EXPECT_TRUE(
        servers.RequestsTo("/photo/owner1/dwr/call/plaincall/AlbumBean.getAlbumData.dwr").empty())
        << "no call for the albums after the stop";
}

TEST_F(NeteaseTest, HomePageFormAndWrongAddress) {
    EXPECT_EQ(List(2, "https://photo.163.com/u/owner1/home").albums, 6);
    EXPECT_EQ(session.OwnerName(), "owner1");

    EXPECT_EQ(List(2, "https://photo.163.com/nobody").albums, 0);
    EXPECT_EQ(front.messages, std::vector<std::string>{"输入网址有误，应该输入相册网址或首页网址"});
}

TEST_F(NeteaseTest, PhotosInFieldOrderWithRewrittenHosts) {
    ASSERT_EQ(List(2, "https://photo.163.com/owner1").albums, 6);
    const auto outcome = RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(outcome.images, 3);
    EXPECT_EQ(outcome.failed, 0);
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 3u) << "the entry without any address is left out";
    EXPECT_EQ(rows[0].url, "https://img3.bimg.126.net/photo/o1.jpg");
    EXPECT_EQ(rows[1].url, "https://img4.ph.126.net/m2.jpg") << "murl before surl";
    EXPECT_EQ(rows[2].url, "https://img.bimg.126.net/photo/s3.jpg");
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"日出.jpg", "旅行.jpg", "夜.jpg"}));
    EXPECT_TRUE(std::filesystem::exists(save / "owner1" / "旅行" / "夜.jpg"));
}

TEST_F(NeteaseTest, ShortAlbumFileUsesTheStringCall) {
    ASSERT_EQ(List(2, "https://photo.163.com/owner1").albums, 6);
    RunDownloadJob(session, {4}, save.Path().string());
    EXPECT_EQ(servers.Count("call string:106 string:"), 1);
    ASSERT_EQ(session.downloads.Size(), 2u);
    // Hostile names stay inside the album folder.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(save.Path())) {
        const std::string path = entry.path().lexically_normal().string();
        EXPECT_TRUE(path.starts_with(save.Path().string())) << path;
    }
    EXPECT_EQ(save.Files().size(), 3u);  // two images and pic.zvt
}

TEST_F(NeteaseTest, AlbumIdKeyAsksForVerification) {
    ASSERT_EQ(List(2, "https://photo.163.com/owner1").albums, 6);
    front.answer = false;
    RunDownloadJob(session, {3}, save.Path().string());
    EXPECT_EQ(front.questions, std::vector<std::string>{
                                   "为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框"});
    EXPECT_TRUE(front.logins.empty());
    EXPECT_EQ(servers.Count("call number:104 string:fromblog"), 0);

    front.answer = true;
    RunDownloadJob(session, {3}, save.Path().string());
    EXPECT_EQ(front.logins,
              std::vector<std::string>{"https://photo.163.com/owner1/list/#aid=104&m=1&p=1"});
    EXPECT_EQ(servers.Count("call number:104 string:fromblog"), 1);
    ASSERT_EQ(session.downloads.Size(), 1u);
    EXPECT_EQ(session.downloads.Row(0).url, "https://img5.ph.126.net/q1.jpg");
}

TEST_F(NeteaseTest, AlbumWithoutKeyIsExplained) {
    session.ready = true;
    PrepareListing(session, 2);
    AddAlbum(session, AlbumRecord{.name = "无键", .key = ""});
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(front.messages,
              std::vector<std::string>{
                  "该相册为非公开,如果该相册为私密相册,登录帐号后重新获取相册列表可下载"});
}

TEST_F(NeteaseTest, CommunityAlbumsAndPhotosBetweenMarkers) {
    ASSERT_EQ(List(2, "https://pp.163.com/ppuser/").albums, 2);
    EXPECT_EQ(session.subKind, 1);
    EXPECT_EQ(session.OwnerName().find('/'), std::string::npos);
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "山水");
    EXPECT_EQ(albums[0].key, "https://pp.163.com/ppuser/pp/11.html");
    EXPECT_EQ(albums[0].coverUrl, "https://img5.ph.126.net/c11.jpg");
    EXPECT_EQ(albums[0].photoCount, 2);
    EXPECT_EQ(albums[1].photoCount, 1);

    RunDownloadJob(session, {0}, save.Path().string());
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 2u) << "nothing before the start or after the end marker";
    EXPECT_EQ(rows[0].url, "https://img5.ph.126.net/pp1.jpg");
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"云.jpg", "山水.jpg"}));
}

TEST_F(NeteaseTest, LofterPostsThroughThePostCall) {
    ASSERT_EQ(List(19, "https://bob.lofter.com/post/1d_a").albums, 5);
    EXPECT_EQ(session.OwnerName(), "Bob的博客");
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "春天");
    EXPECT_EQ(albums[0].key, "https://bob.lofter.com/post/1d_a");
    EXPECT_EQ(albums[0].photoCount, -1);
    EXPECT_EQ(albums[1].name, "通知") << "the notice title stands in";
    EXPECT_EQ(albums[2].name, "1d_c") << "named by its permalink";

    const auto calls =
        servers.RequestsTo("/dwr/call/plaincall/ArchiveBean.getArchivePostByTime.dwr");
    ASSERT_EQ(calls.size(), 1u);
    const auto& call = calls[0];
    EXPECT_EQ(call.method, "POST");
    EXPECT_EQ(call.Header("Content-Type"), "text/plain");
    EXPECT_EQ(call.Header("Referer"), "https://www.lofter.com/");
    EXPECT_EQ(call.Header("Accept-Encoding"), "gzip, deflate");
    const std::string head =
        "callCount=1\r\nscriptSessionId=${scriptSessionId}187\r\nhttpSessionId=\r\n"
        "c0-scriptName=ArchiveBean\r\nc0-methodName=getArchivePostByTime\r\nc0-id=0\r\n"
        "c0-param0=number:4242\r\nc0-param1=number:";
    ASSERT_TRUE(call.body.starts_with(head)) << call.body;
    const std::string time =
        call.body.substr(head.size(), call.body.find('\r', head.size()) - head.size());
    EXPECT_TRUE(time.ends_with("000") && time.size() >= 13) << time;
    EXPECT_TRUE(
        call.body.ends_with("\r\nc0-param2=number:50\r\nc0-param3=boolean:false\r\nbatchId=1"));
}

TEST_F(NeteaseTest, LofterTakesTheFirstFullSizePicture) {
    ASSERT_EQ(List(19, "https://bob.lofter.com/").albums, 5);
    RunDownloadJob(session, {0, 3, 4}, save.Path().string());
    EXPECT_EQ(test::FileBytes(save / "Bob的博客" / "春天" / "图片1.jpg"),
              ImageBytes("bob.lofter.com", "/img/a1.jpg"))
        << "the original, not the resized copy, and not the thumbnail before it";
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/a2.jpg"), 0) << "one picture per post";
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/never.jpg"), 0);
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/head.jpg"), 0);
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/d128x128x0x90.jpg"), 0)
        << "a post of thumbnails only adds nothing";
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/e1.jpg"), 1)
        << "a picture without an address is passed over, not downloaded as nothing";
}

TEST_F(NeteaseTest, LofterNotices) {
    servers.archivePage = "<title>Bob</title>";
    EXPECT_EQ(List(19, "https://bob.lofter.com/").albums, 0);
    ASSERT_EQ(front.messages.size(), 1u);
    servers.archivePage = "<title>归档 - Bob</title><a href=\"/rss?blogId=42\nx\">";
    EXPECT_EQ(List(19, "https://bob.lofter.com/").albums, 0) << "no number, no call";
    ASSERT_EQ(front.messages.size(), 2u);
    EXPECT_NE(front.messages[0], front.messages[1]);
    EXPECT_TRUE(
        servers.RequestsTo("/dwr/call/plaincall/ArchiveBean.getArchivePostByTime.dwr").empty());
}

class NeteaseCliTest : public test::SiteCliTest<NeteaseServers> {
  protected:
};

TEST_F(NeteaseCliTest, ListsThenDownloadsTwoAlbums) {
    auto result = Run({"-l", "https://photo.163.com/owner1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("0001\t旅行\t   3\t"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0006\t密码"), std::string::npos) << result.out;

    result = Run({"-a", "1,5", "https://photo.163.com/u/owner1/home"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // "../../逃出" and "../../../etc/passwd" lose their path characters.
    ExpectFilesInside({"owner1/旅行/日出.jpg", "owner1/旅行/旅行.jpg", "owner1/旅行/夜.jpg",
                       "owner1/旅行/pic.zvt", "owner1/逃出/etcpasswd.jpg", "owner1/逃出/逃出.jpg",
                       "owner1/逃出/pic.zvt"});
    for (const char* image :
         {"img3.bimg.126.net/photo/o1.jpg", "img4.ph.126.net/m2.jpg",
          "img.bimg.126.net/photo/s3.jpg", "img5.ph.126.net/h1.jpg", "img5.ph.126.net/h2.jpg"}) {
        EXPECT_EQ(servers.Count(std::string("image ") + image), 1) << image;
    }
}

TEST_F(NeteaseCliTest, VerificationAnsweredNoAndYes) {
    auto result = Run({"-a", "4", "--json", "--no", "https://photo.163.com/owner1"});
    EXPECT_EQ(result.exitCode, 0) << "declined, not failed";
    EXPECT_NE(result.out.find("\"outcome\":\"declined\""), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框 -> 否"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(save.Files().empty());
    result = Run({"-a", "4", "--yes", "https://photo.163.com/owner1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("https://photo.163.com/owner1/list/#aid=104&m=1&p=1"),
              std::string::npos);
    ExpectFilesInside({"owner1/问答/答.jpg", "owner1/问答/pic.zvt"});
}

TEST_F(NeteaseCliTest, WrongAddressEndsWithItsMessage) {
    const auto result = Run({"https://photo.163.com/nobody"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("输入网址有误，应该输入相册网址或首页网址"), std::string::npos);
    EXPECT_EQ(result.out, "");
}

TEST_F(NeteaseCliTest, CommunityAndLofterFromTheirAddresses) {
    auto result = Run({"https://pp.163.com/ppuser/"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(save / "摄影师" / "山水" / "云.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "摄影师" / "花" / "花.jpg"));

    result = Run({"-a", "1,5", "https://bob.lofter.com/post/1d_a"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("0003\t1d_c\t未知\t"), std::string::npos) << result.out;
    EXPECT_TRUE(std::filesystem::exists(save / "Bob的博客" / "春天" / "图片1.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "Bob的博客" / "空地址" / "图片1.jpg"));
    EXPECT_EQ(servers.Count("image bob.lofter.com/img/e1.jpg"), 1);
}

TEST_F(NeteaseCliTest, LofterWithoutArchiveExitsWithTheNotice) {
    servers.archivePage = "<title>别的页面</title>";
    const auto result = Run({"https://bob.lofter.com/"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("[提示] "), std::string::npos) << result.err;
}

}  // namespace
}  // namespace brenvik
