// topit user albums and their pictures: paging and end rules against pages answered
// in-process, then the real brenvik-cli against local HTTPS servers, where the full-size
// picture falls back to the large one when its answer is too small.
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/ListTypes.h"
#include "sites/FakeSitePages.h"
#include "sites/Sites.h"
#include "sites/Topit.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/RequestLog.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using test::QueryValue;

struct TopitAlbum {
    std::string id;
    std::string name;
    int count = -1;  // -1: the page shows none
};

std::string AlbumsPage(const std::vector<TopitAlbum>& albums, bool next) {
    std::string page = "<div class=\"pageheader\"><h2>摄影师</h2></div><div class=\"albumlist\">";
    for (const auto& a : albums) {
        page += "<div class=\"albumlist_blk\"><a href=\"https://www.topit.me/album/" + a.id +
                "\"><img src=\"https://i1.topitme.com/c/" + a.id + "s.jpg\" name=\"" + a.name +
                " 专辑\"/></a>" +
                (a.count < 0 ? "" : "<span> ( " + std::to_string(a.count) + " )</span>") + "</div>";
    }
    return page + "</div>" + (next ? "<a id=\"page-next\" href=\"?p=9\">下一页</a>" : "");
}

struct TopitPicture {
    std::string path;  // thumbnail path on the picture host
    std::string title;
    std::string alt;
};

std::string PicturesPage(const std::vector<TopitPicture>& pictures, bool next,
                         const std::string& tail = "") {
    std::string page = "<div class=\"list\">";
    for (const auto& p : pictures) {
        page += "<img class=\"img lazy\" original=\"https://i1.topitme.com/" + p.path + "\"" +
                (p.title.empty() ? "" : " title=\"" + p.title + "\"") + " alt=\"" + p.alt + "\"/>";
    }
    return page + tail + (next ? "<a id=\"page-next\">下一页</a>" : "") + "<div id=\"footer\">";
}

TEST(TopitSizePair, FullSizeThenLarge) {
    EXPECT_EQ(TopitSizePair("https://i1.topitme.com/t/ab/12t.jpg"),
              "https://i1.topitme.com/o/ab/12o.jpg\r\nhttps://i1.topitme.com/l/ab/12l.jpg");
    EXPECT_EQ(TopitSizePair("https://i1.topitme.com/s/ab/12m.jpg"),
              "https://i1.topitme.com/o/ab/12o.jpg\r\nhttps://i1.topitme.com/l/ab/12l.jpg");
    // Only the first marker found in the order t, m, s is rewritten.
    EXPECT_EQ(TopitSizePair("https://i1.topitme.com/m/t.jpgs.jpg"),
              "https://i1.topitme.com/o/o.jpgs.jpg\r\nhttps://i1.topitme.com/l/l.jpgs.jpg");
    EXPECT_EQ(TopitSizePair("https://x/y.png"), "https://x/y.png\r\nhttps://x/y.png");
}

class TopitPagesTest : public ::testing::Test {
  protected:
    TopitPagesTest() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
    }
    ListJobOutcome List(const std::string& text) {
        PrepareListing(session, 20);
        return GetListFunc(session, text, 0);
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    test::FakeSitePages pages;
};

constexpr const char* kAlbums = "https://www.topit.me/user/42/albums?p=";

TEST_F(TopitPagesTest, AlbumsFollowTheNextMarkerUntilAPageRepeats) {
    pages.On(kAlbums, [](const std::string& address) -> std::optional<std::string> {
        if (QueryValue(address, "p") == "1") {
            return AlbumsPage({{"1", "街拍", 12}, {"2", "无数"}}, true);
        }
        return AlbumsPage({{"3", "夜景", 5}}, true);
    });
    ASSERT_EQ(List("https://www.topit.me/user/42/albums?p=3").albums, 3);
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "街拍");
    EXPECT_EQ(albums[0].key, "https://www.topit.me/album/1");
    EXPECT_EQ(albums[0].coverUrl, "https://i1.topitme.com/c/1s.jpg");
    EXPECT_EQ(albums[0].photoCount, 12);
    EXPECT_EQ(albums[1].photoCount, -1) << "no count on the page";
    EXPECT_EQ(session.OwnerName(), "摄影师");
    EXPECT_EQ(pages.AskedUnder(kAlbums).size(), 3u) << "page 3 repeats page 2";

    pages.Serve(kAlbums, AlbumsPage({{"1", "街拍", 12}}, false));
    ASSERT_EQ(List("https://www.topit.me/user/42").albums, 1);
    EXPECT_EQ(pages.AskedUnder(kAlbums).size(), 4u) << "no next marker: one page";
}

TEST_F(TopitPagesTest, PicturesEndAtTheCommentsAndOnARepeatedPage) {
    pages.Serve(kAlbums, AlbumsPage({{"7", "街拍", 3}}, false));
    ASSERT_EQ(List("https://www.topit.me/user/42").albums, 1);
    const std::string list = "https://www.topit.me/broad?type=album&id=7&p=";
    pages.On(list, [](const std::string& address) -> std::optional<std::string> {
        if (QueryValue(address, "p") == "1") {
            return PicturesPage({{"t/a/1t.jpg", "雨", "x"}, {"m/a/2m.jpg", "", "雪"}}, true,
                                "<a href=\"/item/1/comments\">评论</a><img class=\"img\" "
                                "original=\"https://i1.topitme.com/t/ad.jpg\"/>");
        }
        return PicturesPage({{"t/a/1t.jpg", "雨", "x"}}, true);
    });
    session.downloads.Clear();
    session.downloads.SetAlbumFolder(save.Path());
    session.downloadState = kDownloadRunning;
    FindPhotoLister(PhotoLister::TopitAlbumPhotos)(session, 0);
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 2u) << "what follows the comments link is not the album's";
    EXPECT_EQ(rows[0].url,
              "https://i1.topitme.com/o/a/1o.jpg\r\nhttps://i1.topitme.com/l/a/1l.jpg");
    EXPECT_EQ(rows[0].fileName, "雨.jpg");
    EXPECT_EQ(rows[1].fileName, "雪.jpg") << "no title: the alt text";
    EXPECT_EQ(pages.AskedUnder(list).size(), 2u);
}

// --- End to end ------------------------------------------------------------------------

std::string Bytes(const std::string& path, std::size_t size) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(size, 't');
    return bytes;
}

class TopitServers : public test::RequestLog {
  public:
    TopitServers() : server(/*https=*/true) {
        server.On("www.topit.me", "/user/42/albums",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      const std::string p = req.get_param_value("p");
                      Log("albums p=" + p);
                      // Past page 2 the service repeats page 2, next marker included.
                      if (p == "1") {
                          Reply(req, res, AlbumsPage({{"7", "街拍", 2}, {"8", "空", 0}}, true));
                      } else {
                          Reply(req, res, AlbumsPage({{"9", "../C:\\逃:*?|", 1}}, true));
                      }
                  });
        server.On("www.topit.me", "/broad", [this](const httplib::Request& req, auto& res) {
            const std::string id = req.get_param_value("id");
            Log("pictures " + id + " p=" + req.get_param_value("p"));
            if (id == "7") {
                Reply(req, res,
                      PicturesPage({{"t/a/small-t.jpg", "雨"}, {"t/a/big-t.jpg", "雪"}}, true));
            } else if (id == "9") {
                Reply(req, res, PicturesPage({{"m/b/3m.jpg", "..\\..\\逃"}}, false));
            } else {
                Reply(req, res, PicturesPage({}, false));
            }
        });
        server.On("i1.topitme.com", "*", [this](const httplib::Request& req, auto& res) {
            { LogImage(req.path); }
            // The full size of "small" is a placeholder shorter than 600 bytes.
            const bool placeholder = req.path == "/o/a/small-o.jpg";
            res.set_content(Bytes(req.path, placeholder ? 500 : 2048), "image/jpeg");
        });
    }
    static void Reply(const httplib::Request& req, httplib::Response& res,
                      const std::string& body) {
        test::ReplyGzipWhenAccepted(req, res, body, "text/html; charset=utf-8");
    }
    std::vector<std::string> Routes() const {
        return {server.RouteFor("www.topit.me"), server.RouteFor("i1.topitme.com")};
    }
    test::TestServer server;
};

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TopitCliTest, UserAlbumsListAndDownloadWithTheLargeFallback) {
    TopitServers servers;
    test::TempDir home;
    test::TempDir save;
    const auto result = test::RunProcess(
        test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(),
                         {"--home", (home / "data").string(), "-o", save.Path().string(), "-a",
                          "1,3", "https://www.topit.me/user/42/albums"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t街拍\t   2\t\n0002\t空\t   0\t\n0003\tC逃\t   1\t\n");
    EXPECT_EQ(save.Files(), (std::vector<std::string>{"摄影师/C逃/pic.zvt", "摄影师/C逃/逃.jpg",
                                                      "摄影师/街拍/pic.zvt", "摄影师/街拍/雨.jpg",
                                                      "摄影师/街拍/雪.jpg"}));
    EXPECT_EQ(FileBytes(save / "摄影师" / "街拍" / "雨.jpg"), Bytes("/l/a/small-l.jpg", 2048))
        << "a full size under 600 bytes gives way to the large size";
    EXPECT_EQ(FileBytes(save / "摄影师" / "街拍" / "雪.jpg"), Bytes("/o/a/big-o.jpg", 2048));
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{"albums p=1", "albums p=2", "albums p=3", "pictures 7 p=1",
                                        "pictures 7 p=2", "pictures 9 p=1"}));
    EXPECT_EQ(servers.Images(), (std::vector<std::string>{"/l/a/small-l.jpg", "/o/a/big-o.jpg",
                                                          "/o/a/small-o.jpg", "/o/b/3o.jpg"}));
}

}  // namespace
}  // namespace brenvik
