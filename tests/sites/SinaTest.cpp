// Sina blog albums, blog articles and Weibo albums: the paging rules played with a fake
// page source, then local HTTPS servers playing the blog, its photo service, Weibo and
// the image hosts, in-process and through the real brenvik-cli.
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "cli/CliFrontEnd.h"

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sina.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/SessionViews.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

// --- Paging rules against a fake page source ------------------------------------------

std::string BlogPhotoItem(const std::string& src, const std::string& title) {
    return "<div class=\"pt_border\"><a href=\"#\"><img src=\"" + src + "\" title=\"" + title +
           "\"></a></div>";
}
constexpr const char* kNextLink = "<a href=\"/next\">下一页</a>";

// One Weibo photo entry: album id first, as the service writes it.
std::string WeiboEntry(int n, const std::string& fields) {
    return "{\"album_id\":\"701\",\"caption\":\"\\u7b2c" + std::to_string(n) + "<b>张</b>\"," +
           fields + "},";
}
std::string WeiboPage(const std::vector<std::string>& entries) {
    std::string page = "{\"data\":{\"album_id\":\"701\",\"photo_list\":[";
    for (const auto& entry : entries) {
        page += entry;
    }
    return page + "]}}";
}
std::string WeiboLargeEntry(int n) {
    return WeiboEntry(n, "\"original_pic\":\"\",\"pic_type\":1,\"pic_name\":\"w" +
                             std::to_string(n) +
                             ".jpg\",\"pic_host\":\"https:\\/\\/ww1.sinaimg.cn\"");
}

class SinaPagingTest : public ::testing::Test {
  protected:
    SinaPagingTest() : session(home.Path(), front) {
        session.ready = true;
        session.siteIndex = 4;
        SetAdapterPauseHook(
            [this](std::chrono::milliseconds time) { pauses.push_back(time.count()); });
    }
    ~SinaPagingTest() override { SetAdapterPauseHook(nullptr); }

    // Adds the album the photo lists read and readies the download list.
    void Album(const std::string& key, int count) {
        AddAlbum(session, AlbumRecord{.name = "相册", .key = key, .photoCount = count});
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(home.Path());
        session.downloadState = kDownloadRunning;
    }
    // A page source that records what was asked and answers by the function.
    SinaPages Pages(std::function<std::optional<std::string>(const std::string&)> answer) {
        return [this, answer](const std::string& address) {
            asked.push_back(address);
            return answer(address);
        };
    }
    std::vector<std::string> Urls() { return test::RowUrls(session); }
    // The page number of a Weibo photo page address.
    static int WeiboPageNumber(const std::string& address) {
        return std::stoi(TextBetween(address, "page=", "&_rnd="));
    }

    test::TempDir home;
    test::FakeFrontEnd front;
    Session session;
    std::vector<std::string> asked;
    std::vector<long long> pauses;
};

TEST_F(SinaPagingTest, BlogAlbumPagesEndWithoutTheNextLink) {
    Album("https://photo.blog.sina.com.cn/category/u/1/s/9", 3);
    SinaBlogAlbumPhotoPages(session, 0, Pages([](const std::string& address) {
                                if (address.ends_with("/page1")) {
                                    return std::optional<std::string>(
                                        BlogPhotoItem("https://s1.sinaimg.cn/small/p1", "一") +
                                        BlogPhotoItem("https://s1.sinaimg.cn/small/p2", "") +
                                        kNextLink);
                                }
                                // Entities are decoded with the page: "&amp;" arrives as "&".
                                return std::optional<std::string>(BlogPhotoItem(
                                    "https://s1.sinaimg.cn/small/example.jpg?a=1&b=2", "例"));
                            }));
    EXPECT_EQ(asked,
              (std::vector<std::string>{"https://photo.blog.sina.com.cn/category/u/1/s/9/page1",
                                        "https://photo.blog.sina.com.cn/category/u/1/s/9/page2"}));
    EXPECT_EQ(Urls(), (std::vector<std::string>{
                          "https://s1.sinaimg.cn/orignal/p1", "https://s1.sinaimg.cn/orignal/p2",
                          "https://s1.sinaimg.cn/orignal/example.jpg?a=1&b=2"}))
        << "no \"amp\" is taken out of an address";
}

TEST_F(SinaPagingTest, BlogAlbumRepeatingPageEndsTheList) {
    Album("K", 1000);
    SinaBlogAlbumPhotoPages(
        session, 0, Pages([](const std::string&) {
            return std::optional<std::string>(
                BlogPhotoItem("https://s1.sinaimg.cn/small/same", "同") + kNextLink);
        }));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(session.downloads.Size(), 1u) << "every photo once";

    asked.clear();
    Album("K", 3);
    SinaBlogAlbumPhotoPages(session, 1, Pages([](const std::string&) { return std::nullopt; }));
    EXPECT_EQ(asked.size(), 1u) << "a failed fetch ends the list";
}

TEST_F(SinaPagingTest, ArticleListPagesInBothItemForms) {
    SinaBlogArticleListPages(
        session, "https://blog.sina.com.cn/s/articlelist_1_0",
        Pages([](const std::string& address) {
            if (address.ends_with("_1.html")) {
                return std::optional<std::string>(
                    "<title>小明_新浪博客</title>"
                    "<span class=\"atc_title\"><a title=\"\" href=\"https://blog.sina.com.cn/s/"
                    "blog_a1.html\">春游记</a></span>"
                    "<span class=\"atc_title\"><a title=\"秋\" "
                    "href=\"/s/blog_a2.html\">x</a></span>"
                    "<span class=\"atc_title\"><a href=\"/s/blog_a9.html\"></a></span>" +
                    std::string(kNextLink));
            }
            return std::optional<std::string>(
                "<title>别的_新浪博客</title><div class=\"SG_j_linedot1\"><a "
                "href=\"https://blog.sina.com.cn/s/blog_a3.html\" title=\"冬\">冬</a></div>");
        }));
    EXPECT_EQ(asked,
              (std::vector<std::string>{"https://blog.sina.com.cn/s/articlelist_1_0_1.html",
                                        "https://blog.sina.com.cn/s/articlelist_1_0_2.html"}));
    const auto albums = session.albums.All();
    ASSERT_EQ(albums.size(), 3u) << "an article without a name is skipped";
    EXPECT_EQ(albums[0].name, "春游记");
    EXPECT_EQ(albums[1].name, "秋");
    EXPECT_EQ(albums[1].key, "https://blog.sina.com.cn/s/blog_a2.html");
    EXPECT_EQ(albums[2].name, "冬");
    EXPECT_EQ(albums[0].photoCount, 0);
    EXPECT_EQ(session.OwnerName(), "小明") << "the owner comes from page 1";
}

TEST_F(SinaPagingTest, ArticleListRepeatingPageEndsTheList) {
    SinaBlogArticleListPages(session, "B", Pages([](const std::string&) {
                                 return std::optional<std::string>(
                                     "<span class=\"atc_title\"><a title=\"同\" "
                                     "href=\"https://blog.sina.com.cn/s/1.html\">x</a></span>" +
                                     std::string(kNextLink));
                             }));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(session.albums.Size(), 1u);
}

TEST_F(SinaPagingTest, WeiboEmptyPageIsAskedAgainAfterItsPauses) {
    session.SetSiteText("5555");
    Album("https://photo.weibo.com/photos/get_all?uid=5555&album_id=701&count=32&type=3&page=", 65);
    SinaPages pages = Pages([](const std::string& address) {
        const int page = WeiboPageNumber(address);
        std::vector<std::string> entries;
        if (page == 1) {
            for (int n = 1; n <= 32; ++n) {
                entries.push_back(WeiboLargeEntry(n));
            }
        } else if (page == 3) {
            entries.push_back(
                WeiboEntry(65,
                           "\"original_pic\":\"\",\"pic_type\":0,\"pic_name\":"
                           "\"w65.jpg\",\"pic_host\":\"https:\\/\\/ww1.sinaimg.cn\""));
        } else {
            return std::optional<std::string>("{\"data\":{}}");
        }
        return std::optional<std::string>(WeiboPage(entries));
    });
    WeiboAlbumPhotoPages(session, 0, pages);
    std::vector<int> numbers;
    for (const auto& address : asked) {
        numbers.push_back(WeiboPageNumber(address));
        EXPECT_NE(address.find("&_rnd=0."), std::string::npos) << address;
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 2, 3, 4}));
    EXPECT_EQ(pauses, (std::vector<long long>{3000, 1500}));
    const auto urls = Urls();
    ASSERT_EQ(urls.size(), 33u);
    EXPECT_EQ(urls[0], "https://ww1.sinaimg.cn/large/w1.jpg");
    EXPECT_EQ(urls[32], "https://ww1.sinaimg.cn/5555/180/w65.jpg")
        << "host and user id joined by a slash";
    EXPECT_EQ(session.downloads.Row(0).fileName, "第1张.jpg") << "tags stripped from captions";
}

TEST_F(SinaPagingTest, WeiboLyingCountAndRepeatingServiceEnd) {
    session.SetSiteText("5555");
    Album("W&page=", 100000);
    WeiboAlbumPhotoPages(session, 0, Pages([](const std::string& address) {
                             if (WeiboPageNumber(address) == 1) {
                                 return std::optional<std::string>(WeiboPage({WeiboLargeEntry(1)}));
                             }
                             return std::optional<std::string>("{\"data\":{}}");
                         }));
    EXPECT_EQ(asked.size(), 5u) << "two empty pages in a row end the album";
    EXPECT_EQ(pauses, (std::vector<long long>{3000, 1500, 3000}));

    asked.clear();
    pauses.clear();
    Album("W&page=", 1000);
    WeiboAlbumPhotoPages(
        session, 1, Pages([](const std::string&) {
            return std::optional<std::string>(WeiboPage({WeiboLargeEntry(1), WeiboLargeEntry(2)}));
        }));
    EXPECT_EQ(asked.size(), 2u) << "a page that brings nothing new ends the album";
    EXPECT_EQ(session.downloads.Size(), 2u);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(SinaPagingTest, StopsAskedEndAtTheNextAdd) {
    const auto twoPerPage = [](const std::string& address) {
        return std::optional<std::string>(
            "<span class=\"atc_title\"><a title=\"一\" href=\"" + address +
            "#1\">x</a></span><span class=\"atc_title\"><a title=\"二\" href=\"" + address +
            "#2\">x</a></span>" + kNextLink);
    };
    session.listingState = kListingStopAsked;
    SinaBlogArticleListPages(session, "B", Pages(twoPerPage));
    EXPECT_EQ(session.albums.Size(), 1u);
    EXPECT_EQ(asked.size(), 1u);

    asked.clear();
    Album("K", 10);
    session.downloadState = kDownloadStopAsked;
    SinaBlogAlbumPhotoPages(
        session, 1, Pages([](const std::string& address) {
            return std::optional<std::string>(BlogPhotoItem(address + "/a", "") +
                                              BlogPhotoItem(address + "/b", "") + kNextLink);
        }));
    EXPECT_EQ(session.downloads.Size(), 1u);
    EXPECT_EQ(asked.size(), 1u);
}

TEST(WeiboPictureAddress, CandidateFields) {
    EXPECT_EQ(WeiboPictureAddress("\"original_pic\":\"https:\\/\\/ww2.sinaimg.cn\\/o.jpg\","
                                  "\"pic_type\":1,\"pic_name\":\"x\",\"pic_host\":\"h\"",
                                  "1"),
              "https://ww2.sinaimg.cn/o.jpg");
    EXPECT_EQ(WeiboPictureAddress("\"pic_type\":2,\"pic_name\":\"n.jpg\",\"pic_host\":\"https:"
                                  "\\/\\/ww3.sinaimg.cn\"",
                                  "1"),
              "https://ww3.sinaimg.cn/large/n.jpg");
    EXPECT_EQ(WeiboPictureAddress("\"pic_type\":0,\"pic_name\":\"n.jpg\",\"pic_host\":\"h\"", "77"),
              "h/77/180/n.jpg");
    EXPECT_EQ(WeiboPictureAddress("\"pic_type\":1,\"caption\":\"x\"", "1"), "")
        << "an entry naming no picture gives no address";
}

// --- Local servers ----------------------------------------------------------------------

std::string ImageBytes(const std::string& host, const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + host + path;
    bytes.resize(2048, 's');
    return bytes;
}

std::string WeiboAlbumPhotos(const std::string& album, int page) {
    std::string json = "{\"data\":{\"album_id\":\"" + album + "\",\"total\":0,\"photo_list\":[";
    const auto entry = [&](const std::string& name, int type) {
        json += "{\"album_id\":\"" + album + "\",\"caption\":\"\\u56fe" + name +
                "\",\"original_pic\":\"\",\"pic_type\":" + std::to_string(type) +
                ",\"pic_name\":\"" + name + ".jpg\",\"pic_host\":\"https:\\/\\/ww1.sinaimg.cn\"},";
    };
    if (album == "701" && page == 1) {
        for (int n = 1; n <= 32; ++n) {
            entry("a" + std::to_string(n), 1);
        }
    } else if (album == "701" && page == 2) {
        entry("a33", 1);
        entry("a34", 0);
    } else if (album == "702") {
        entry("r1", 1);  // the same page for every page number
        entry("r2", 1);
    } else {
        return "{\"data\":{}}";
    }
    return json + "]}}";
}

class SinaServers {
  public:
    SinaServers() : server(/*https=*/true) {
        server.On("blog.sina.com.cn", "/u/1234",
                  [](const httplib::Request&, httplib::Response& res) {
                      res.set_header("Content-Encoding", "gzip");
                      res.set_content(
                          test::Gzip(ToGbk("<html><head><title>小明_新浪博客</title></head>"
                                           "<a href=\"https://blog.sina.com.cn/s/"
                                           "articlelist_1234_0_1.html\">博文目录</a></html>")),
                          "text/html; charset=GBK");
                  });
        server.Serve("blog.sina.com.cn", "/u/nobody", "<title>没有_新浪博客</title>");
        server.On(
            "photo.blog.sina.com.cn", "/services/ctg_list_ctg.php",
            [](const httplib::Request& req, httplib::Response& res) {
                if (req.get_param_value("uid") != "1234" ||
                    req.get_param_value("format") != "gsonv") {
                    res.set_content("{}", "application/json");
                    return;
                }
                res.set_content(
                    "{\"code\":\"A00006\",\"data\":{\"ctg\":[{\"category\":\"\\u98ce\\u666f\","
                    "\"pic_cnt\":\"3\",\"ctg_url\":\"https:\\/\\/photo.blog.sina.com.cn\\/"
                    "category\\/u\\/1234\\/s\\/1\",\"big_url\":\"https:\\/\\/s1.sinaimg.cn\\/"
                    "bmiddle\\/c1.jpg\"},{\"category\":\"\",\"pic_cnt\":\"0\"},"
                    "{\"category\":\"../../\\u574f\",\"pic_cnt\":\"2\",\"ctg_url\":\"https:"
                    "\\/\\/photo.blog.sina.com.cn\\/category\\/u\\/1234\\/s\\/2\","
                    "\"big_url\":\"\"}]}}",
                    "application/json");
            });
        server.On(
            "photo.blog.sina.com.cn", "*", [](const httplib::Request& req, httplib::Response& res) {
                std::string page;
                if (req.path == "/category/u/1234/s/1/page1") {
                    page = BlogPhotoItem("https://s1.sinaimg.cn/small/p1", "一") +
                           BlogPhotoItem("https://s1.sinaimg.cn/small/p2", "二") + kNextLink;
                } else if (req.path == "/category/u/1234/s/1/page2") {
                    page =
                        BlogPhotoItem("https://s1.sinaimg.cn/small/example.jpg?a=1&amp;b=2", "三");
                } else if (req.path.starts_with("/category/u/1234/s/2/page")) {
                    page = BlogPhotoItem("https://s1.sinaimg.cn/small/r1", "../../../坏图") +
                           BlogPhotoItem("https://s1.sinaimg.cn/small/r2", "") + kNextLink;
                }
                res.set_content(page, "text/html; charset=utf-8");
            });
        server.Serve("blog.sina.com.cn", "/s/articlelist_1234_0_1.html",
                     "<title>小明_新浪博客</title>"
                     "<span class=\"atc_title\"><a title=\"\" href=\"https://blog.sina.com.cn/s/"
                     "blog_a1.html\">春游记</a></span>"
                     "<span class=\"atc_title\"><a title=\"../秋\" href=\"/s/blog_a2.html\">x</a>"
                     "</span>" +
                         std::string(kNextLink));
        server.Serve("blog.sina.com.cn", "/s/articlelist_1234_0_2.html",
                     "<div class=\"SG_j_linedot1\"><a href=\"/s/blog_a3.html\" title=\"冬\">冬</a>"
                     "</div>");
        server.On(
            "blog.sina.com.cn", "/s/blog_a1.html",
            [](const httplib::Request&, httplib::Response& res) {
                res.set_content(
                    // The blog's side column links pictures the same way as the article.
                    ToGbk("<h2 class=\"titName SG_txta\">春游记</h2><div class=\"side\"><a "
                          "href=\"x&amp;url=https://s1.sinaimg.cn/orignal/side\"><img real_src "
                          "=\"https://s1.sinaimg.cn/middle/side\"></a></div>"
                          "<div class=\"articalContent\">"
                          "<a href=\"https://photo.blog.sina.com.cn/showpic.html#blogid=a1&amp;"
                          "url=https://s1.sinaimg.cn/orignal/a1p1\"><img real_src =\"https://"
                          "s1.sinaimg.cn/middle/a1p1&amp;690\"></a>"
                          "<a href=\"x&amp;url=https://s1.sinaimg.cn/bmiddle/a1p2\"><img real_src "
                          "=\"https://s1.sinaimg.cn/middle/a1p2\"></a></div>"
                          "<div class=\"shareUp\">&url=https://s1.sinaimg.cn/orignal/never</div>"),
                    "text/html; charset=GBK");
            });
        server.Serve("blog.sina.com.cn", "/s/blog_a2.html",
                     "<h2 class=\"titName\">../../秋天</h2><div class=\"articalContent\">"
                     "<a href=\"x&url=https://s1.sinaimg.cn/orignal/a2p1\">"
                     "<img real_src =\"https://s1.sinaimg.cn/mw690/a2p1\"></a>"
                     "<img real_src =\"https://s1.sinaimg.cn/bmiddle/a2p2\"></div>");

        server.On("weibo.com", "/u/5555", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_header_value("Cookie").find("SUB=abc") == std::string::npos) {
                res.set_content("<html>请先登录</html>", "text/html; charset=utf-8");
                return;
            }
            res.set_content(
                "<script>var $CONFIG = {};$CONFIG['oid'] = '5555';"
                "$CONFIG['onick'] = '微博/用户';</script>",
                "text/html; charset=utf-8");
        });
        server.Serve("weibo.com", "/u/odd",
                     "<script>$CONFIG['oid'] = '5555&uid=1/../x';$CONFIG['onick'] = 'x';</script>");
        server.On("photo.weibo.com", "/albums/get_all",
                  [](const httplib::Request& req, httplib::Response& res) {
                      if (req.get_param_value("uid") != "5555" ||
                          req.get_param_value("count") != "65535") {
                          res.set_content("{}", "application/json");
                          return;
                      }
                      const std::string body =
                          "{\"data\":{\"album_list\":[{\"album_id\":\"701\",\"type\":3,\"caption\":"
                          "\"\\u65c5\\u884c\",\"cover_pic\":\"https:\\/\\/ww1.sinaimg.cn\\/c.jpg\","
                          "\"photos\":34,\"x\":1},{\"album_id\":\"702\",\"type\":18,\"caption\":"
                          "\"..\\/..\\/\\u574f\",\"cover_pic\":\"\",\"photos\":1000,\"x\":1}]}}";
                      res.set_header("Content-Encoding", "gzip");
                      res.set_content(test::Gzip(body), "application/json; charset=utf-8");
                  });
        server.On("photo.weibo.com", "/photos/get_all",
                  [](const httplib::Request& req, httplib::Response& res) {
                      if (req.get_header_value("Referer") !=
                              "https://photo.weibo.com/5555/talbum/index?from=profile_wb" ||
                          req.get_param_value("uid") != "5555" ||
                          req.get_param_value("count") != "32") {
                          res.set_content("{}", "application/json");
                          return;
                      }
                      res.set_content(WeiboAlbumPhotos(req.get_param_value("album_id"),
                                                       std::stoi(req.get_param_value("page"))),
                                      "application/json");
                  });
        for (const char* host : {"s1.sinaimg.cn", "ww1.sinaimg.cn"}) {
            server.On(host, "*", [this, host](const httplib::Request& req, httplib::Response& res) {
                Record(std::string(host) + req.target);
                res.set_content(ImageBytes(host, req.target), "image/jpeg");
            });
        }
    }

    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const char* host : {"blog.sina.com.cn", "photo.blog.sina.com.cn", "weibo.com",
                                 "photo.weibo.com", "s1.sinaimg.cn", "ww1.sinaimg.cn"}) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }
    void Record(const std::string& what) {
        std::lock_guard lock(mutex);
        images.push_back(what);
    }
    std::multiset<std::string> Images() {
        std::lock_guard lock(mutex);
        return {images.begin(), images.end()};
    }
    int PathRequests(const std::string& prefix) const {
        int count = 0;
        for (const auto& request : server.Requests()) {
            count += request.path.starts_with(prefix) ? 1 : 0;
        }
        return count;
    }

    test::TestServer server;
    std::mutex mutex;
    std::vector<std::string> images;
};

void PutWeiboLogin() {
    CookieStore::Shared().Put(".weibo.com\tTRUE\t/\tFALSE\t0\tSUB\tabc");
}

class SinaTest : public ::testing::Test {
  protected:
    SinaTest() : session(home.Path(), front) {
        RegisterAllSites();
        CookieStore::Shared().Clear();
        session.ready = true;
    }
    ~SinaTest() override { CookieStore::Shared().Clear(); }
    ListJobOutcome List(const std::string& text) {
        PrepareListing(session, 4);
        return GetListFunc(session, text, 0);
    }
    std::vector<std::string> Urls() { return test::RowUrls(session); }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    SinaServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(SinaTest, BlogAlbumsFromTheGbkHomePage) {
    ASSERT_EQ(List("https://blog.sina.com.cn/u/1234").albums, 2) << "a nameless item is skipped";
    EXPECT_EQ(session.subKind, 0);
    EXPECT_EQ(session.OwnerName(), "小明");
    EXPECT_EQ(session.SiteText(), "1234");
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "风景");
    EXPECT_EQ(albums[0].key, "https://photo.blog.sina.com.cn/category/u/1234/s/1");
    EXPECT_EQ(albums[0].coverUrl, "https://s1.sinaimg.cn/bmiddle/c1.jpg");
    EXPECT_EQ(albums[0].photoCount, 3);

    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(Urls(), (std::vector<std::string>{
                          "https://s1.sinaimg.cn/orignal/p1", "https://s1.sinaimg.cn/orignal/p2",
                          "https://s1.sinaimg.cn/orignal/example.jpg?a=1&b=2"}));
    EXPECT_EQ(servers.PathRequests("/category/u/1234/s/1/page"), 2);
    for (const auto& request : servers.server.Requests()) {
        if (request.host != "s1.sinaimg.cn") {  // pages, not images
            EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate") << request.path;
        }
    }
}

TEST_F(SinaTest, ArticlesAsAlbumsAndTheirPictures) {
    ASSERT_EQ(List("https://blog.sina.com.cn/s/articlelist_1234_0_1.html").albums, 3);
    EXPECT_EQ(session.subKind, 1);
    EXPECT_EQ(session.albums.At(2)->key, "https://blog.sina.com.cn/s/blog_a3.html");

    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(Urls(), (std::vector<std::string>{"https://s1.sinaimg.cn/orignal/a1p1",
                                                "https://s1.sinaimg.cn/orignal/a1p2"}))
        << "as many &url= as real_src: split at &url=, never past the share bar";
    EXPECT_EQ(session.downloads.Row(0).fileName, "春游记.jpg");

    RunDownloadJob(session, {1}, save.Path().string());
    EXPECT_EQ(Urls(), (std::vector<std::string>{"https://s1.sinaimg.cn/orignal/a2p1",
                                                "https://s1.sinaimg.cn/orignal/a2p2"}))
        << "counts differ: split at real_src";
}

TEST_F(SinaTest, WeiboNeedsTheLoginCookie) {
    EXPECT_EQ(List("https://weibo.com/u/5555").albums, 0);
    ASSERT_EQ(front.messages.size(), 1u) << "the hint and the note go in one message";
    EXPECT_TRUE(front.messages[0].starts_with(
        std::string(
            "没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录") +
        "\n\n"))
        << front.messages[0];
    // A login page without markers cannot be told from a changed one: it is kept too.
    EXPECT_NE(front.messages[0].find("网站可能已改版"), std::string::npos);

    PutWeiboLogin();
    ASSERT_EQ(List("https://weibo.com/u/5555").albums, 2);
    EXPECT_EQ(session.subKind, 2);
    EXPECT_EQ(session.OwnerName(), "微博用户");
    EXPECT_EQ(session.SiteText(), "5555");
    const auto album = session.albums.At(0);
    EXPECT_EQ(album->name, "旅行");
    EXPECT_EQ(album->key,
              "https://photo.weibo.com/photos/get_all?uid=5555&album_id=701&count=32&type=3&page=");
    EXPECT_EQ(album->coverUrl, "https://ww1.sinaimg.cn/c.jpg");
    EXPECT_EQ(album->photoCount, 34);
    const auto requests = servers.server.Requests();
    const auto index = std::find_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.path.starts_with("/albums/get_all");
    });
    ASSERT_NE(index, requests.end());
    EXPECT_NE(index->Header("Cookie").find("SUB=abc"), std::string::npos);

    RunDownloadJob(session, {0}, save.Path().string());
    const auto urls = Urls();
    ASSERT_EQ(urls.size(), 34u);
    EXPECT_EQ(urls[33], "https://ww1.sinaimg.cn/5555/180/a34.jpg");
    EXPECT_EQ(servers.PathRequests("/photos/get_all"), 3) << "page 3 is empty and beyond the count";
}

TEST_F(SinaTest, WeiboUserIdMustBeANumber) {
    PutWeiboLogin();
    EXPECT_EQ(List("https://weibo.com/u/odd").albums, 0);
    EXPECT_EQ(servers.PathRequests("/albums/get_all"), 0)
        << "an id that is no number never goes into an address";
}

class SinaCliTest : public test::SiteCliTest<SinaServers> {
  protected:
};

TEST_F(SinaCliTest, BlogAlbumsListThenDownloadWithARepeatingPage) {
    auto result = Run({"-l", "https://blog.sina.com.cn/u/1234"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t风景\t   3\t\n0002\t坏\t   2\t\n");

    result = Run({"https://blog.sina.com.cn/u/1234"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ExpectFilesInside({"小明/风景/一.jpg", "小明/风景/二.jpg", "小明/风景/三.jpg",
                       "小明/风景/pic.zvt", "小明/坏/坏图.jpg", "小明/坏/坏.jpg",
                       "小明/坏/pic.zvt"});
    EXPECT_EQ(servers.PathRequests("/category/u/1234/s/2/page"), 2)
        << "the repeated page ends the album";
    const auto images = servers.Images();
    EXPECT_EQ(images.count("s1.sinaimg.cn/orignal/example.jpg?a=1&b=2"), 1u);
    EXPECT_EQ(images.count("s1.sinaimg.cn/orignal/r1"), 1u);
}

TEST_F(SinaCliTest, ArticlesFromTheirListAddress) {
    const auto result = Run({"-a", "1,2", "https://blog.sina.com.cn/s/articlelist_1234_0_1.html"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t春游记\t   0\t\n0002\t秋\t   0\t\n0003\t冬\t   0\t\n");
    ExpectFilesInside({"小明/春游记/春游记.jpg", "小明/春游记/春游记(1).jpg", "小明/春游记/pic.zvt",
                       "小明/秋/秋天.jpg", "小明/秋/秋天(1).jpg", "小明/秋/pic.zvt"});
}

TEST_F(SinaCliTest, BlogWithoutAlbumsShowsTheHint) {
    const auto result = Run({"https://blog.sina.com.cn/u/nobody"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(cli::ForTheCommandLine(
                  "没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录")),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(SinaCliTest, WeiboWithAndWithoutLogin) {
    auto result = Run({"https://weibo.com/u/5555"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("没有获取到相册，请在浏览器里登录新浪(微博)帐号后重试"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(save.Files().empty());

    const auto cookies = home / "weibo-cookies.txt";
    std::ofstream(cookies)
        << "# Netscape HTTP Cookie File\n.weibo.com\tTRUE\t/\tFALSE\t0\tSUB\tabc\n";
    result = Run({"--cookies", cookies.string(), "https://weibo.com/u/5555"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(save.Files().size(), 34u + 1u + 2u + 1u);
    EXPECT_TRUE(std::filesystem::exists(save / "微博用户" / "旅行" / "图a1.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "微博用户" / "坏" / "图r2.jpg"));
    EXPECT_EQ(servers.PathRequests("/photos/get_all?uid=5555&album_id=702"), 2)
        << "a service repeating its page for a count of 1000 stops after one repeat";
    EXPECT_EQ(servers.Images().count("ww1.sinaimg.cn/5555/180/a34.jpg"), 1u);
}

}  // namespace
}  // namespace brenvik
