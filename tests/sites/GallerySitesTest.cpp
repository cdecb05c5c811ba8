// ZOL albums, PChome, moko, babytree, PConline, Hupu and Instagram against local HTTPS
// servers playing them: in-process for what the rows and download rows hold, and
// through the real brenvik-cli for what a user gets on disk.
#include <fstream>

#include <gtest/gtest.h>

#include "cli/CliFrontEnd.h"

#include "app/ListJob.h"
#include "download/DownloadJob.h"
#include "net/CookieStore.h"
#include "session/Session.h"
#include "sites/GalleryServers.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/SessionViews.h"

namespace brenvik {
namespace {

using test::GalleryServers;
using Pictures = std::multiset<std::string>;

constexpr const char* kHupuNoAlbum = "请先在登录菜单里登录虎扑帐号后重试(登录时勾上下次自动登录)";

class GalleryTest : public ::testing::Test {
  protected:
    GalleryTest() : session(home.Path(), front) {
        RegisterAllSites();
        CookieStore::Shared().Clear();
        session.ready = true;
    }
    ~GalleryTest() override { CookieStore::Shared().Clear(); }

    ListJobOutcome List(int site, const std::string& text) {
        PrepareListing(session, site);
        return GetListFunc(session, text, 0);
    }
    std::vector<std::string> Names() const { return test::AlbumNames(session); }
    // Collects every album's photos and downloads them.
    DownloadJobOutcome DownloadAll() {
        std::vector<int> all;
        for (int i = 0; i < static_cast<int>(session.albums.Size()); ++i) {
            all.push_back(i);
        }
        return RunDownloadJob(session, all, save.Path().string());
    }
    std::vector<std::string> Urls() const { return test::RowUrls(session); }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    GalleryServers servers;
    test::LocalRouting routing{servers.Routes()};
};

TEST_F(GalleryTest, ZolAlbumsPagesAndFullSizePictures) {
    ASSERT_EQ(List(9, "https://bbs.zol.com.cn/dan/album_3.html").albums, 2);
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->name, "春天");
    EXPECT_EQ(first->key, "/dan/photo_11_");
    EXPECT_EQ(first->coverUrl, "https://img.zol.com.cn/cover/11.jpg");
    EXPECT_EQ(first->photoCount, 3);
    EXPECT_EQ(session.OwnerName(), "丹丹");
    EXPECT_EQ(session.subKind, 0);

    const auto outcome = DownloadAll();
    EXPECT_EQ(outcome.images, 4);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{"img.zol.com.cn/g1/a1.jpg", "img.zol.com.cn/g1/a2.jpg",
                        "img.zol.com.cn/g1/a3.jpg", "img.zol.com.cn/g2/b1.png"}));
    EXPECT_TRUE(std::filesystem::exists(save / "丹丹" / "春天" / "花.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "丹丹" / "春天" / "春天.jpg"))
        << "a picture without a title takes the album's name";
    EXPECT_EQ(session.albums.At(1)->name, "逃出");
    EXPECT_TRUE(std::filesystem::exists(save / "丹丹" / "逃出" / "etcpasswd.jpg"))
        << "names taken from pages are never paths";
}

TEST_F(GalleryTest, RepeatedListPagesEndTheListing) {
    servers.repeatPages = true;
    EXPECT_EQ(List(9, "https://bbs.zol.com.cn/dan/").albums, 1);
    EXPECT_EQ(servers.PagesOf("bbs.zol.com.cn"),
              (std::vector<std::string>{"/dan/album_1.html", "/dan/album_2.html"}));
    servers.server.ClearRequests();
    EXPECT_EQ(List(13, "https://home.babytree.com/u42").albums, 1);
    EXPECT_EQ(servers.PagesOf("home.babytree.com").size(), 2u);
}

TEST_F(GalleryTest, BrokenPagesKeepWhatCameBefore) {
    servers.zolBrokenPages = {"/dan/album_2.html", "/dan/photo_11_2.html"};
    ASSERT_EQ(List(9, "https://bbs.zol.com.cn/dan/").albums, 1);
    EXPECT_EQ(DownloadAll().images, 2);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"https://img.zol.com.cn/g1/a1.jpg",
                                                "https://img.zol.com.cn/g1/a2.jpg"}));
}

TEST_F(GalleryTest, StopAfterTheFirstAlbum) {
    // The user asks to stop as the first row appears.
    front.onAlbumAdded = [this] { RequestListingStop(session); };
    EXPECT_EQ(List(9, "https://bbs.zol.com.cn/dan/").albums, 1);
    EXPECT_EQ(servers.PagesOf("bbs.zol.com.cn"), std::vector<std::string>{"/dan/album_1.html"});
    EXPECT_EQ(front.controls[kControlJobStatus], "已终止获取相册列表，已获取1个");
}

TEST_F(GalleryTest, PchomeBig5ListsAndFullSizePictures) {
    ASSERT_EQ(List(10, "https://photo.pchome.com.tw/ellen/").albums, 2);
    EXPECT_EQ(Names()[0], "旅遊") << "the page list after MainListSection is not read";
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->key, "/ellen/album1");
    EXPECT_EQ(first->coverUrl, "https://photo.pchome.com.tw/ellen/a1/cover.jpg");
    EXPECT_EQ(first->photoCount, 3);
    EXPECT_EQ(DownloadAll().images, 4);
    EXPECT_EQ(servers.PicturesFetched(), (Pictures{"photo.pchome.com.tw/ellen/a1/p1.jpg",
                                                   "photo.pchome.com.tw/ellen/a1/p2.jpg",
                                                   "photo.pchome.com.tw/ellen/a1/p3.jpg",
                                                   "photo.pchome.com.tw/ellen/trips.2024/q1.jpg"}));
    EXPECT_TRUE(std::filesystem::exists(save / "旅遊" / "夕陽.jpg"));
}

TEST_F(GalleryTest, MokoCategoryListsInBothPageForms) {
    ASSERT_EQ(List(12, "https://www.moko.cc/kate/").albums, 2);
    EXPECT_EQ(session.OwnerName(), "Kate");
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->name, "海边");
    EXPECT_EQ(first->key, "/post/kate/1001.html");
    EXPECT_EQ(first->coverUrl, "https://img.moko.cc/c/1001.jpg");
    EXPECT_EQ(first->photoCount, 2);
    EXPECT_EQ(session.albums.At(1)->photoCount, 1) << "the second form writes \"(1)\"";
    const auto pages = servers.PagesOf("www.moko.cc");
    EXPECT_EQ(std::count(pages.begin(), pages.end(), "/post/kate/category/1/2.html"), 1)
        << "the \"&gt;\" link leads to page 2";
    EXPECT_EQ(std::count(pages.begin(), pages.end(), "/post/kate/category/99/1.html"), 0)
        << "lists after the end marker are never read";
    EXPECT_EQ(DownloadAll().images, 3);
    EXPECT_EQ(servers.PicturesFetched(), (Pictures{"img.moko.cc/big/1.jpg", "img.moko.cc/big/2.jpg",
                                                   "img.moko.cc/big/3.jpg"}));
}

TEST_F(GalleryTest, BabytreeJsonFormFirst) {
    ASSERT_EQ(List(13, "https://home.babytree.com/u42/photo").albums, 2);
    EXPECT_EQ(session.subKind, 0);
    EXPECT_EQ(session.OwnerName(), "小宝");
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->name, "春天");
    EXPECT_EQ(first->key, "https://home.babytree.com/u42/album/501");
    EXPECT_EQ(first->coverUrl, "https://pic.babytree.com/c/501.jpg");
    EXPECT_EQ(first->photoCount, 2);
    EXPECT_EQ(DownloadAll().images, 3);
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{"pic.babytree.com/foto3/thumbs/2015/a_nb.jpg",
                        "pic.babytree.com/photos/b_b.jpg", "pic.babytree.com/photos/c_b.jpg"}));
    EXPECT_TRUE(std::filesystem::exists(save / "小宝" / "春天" / "花.jpg"));
}

TEST_F(GalleryTest, BabytreePageListWhenTheJsonListIsEmpty) {
    ASSERT_EQ(List(13, "https://home.babytree.com/u43").albums, 2)
        << "page 2 is reached through the decoded \"&gt;\" link";
    EXPECT_EQ(session.subKind, 1);
    EXPECT_EQ(session.OwnerName(), "二宝");
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->name, "游玩");
    EXPECT_EQ(first->key, "/user/showuser.php?uid=u43&tab=photo&view=photo_list&album_id=7");
    EXPECT_EQ(first->photoCount, 3);
    EXPECT_EQ(Names().size(), 2u);
    EXPECT_EQ(DownloadAll().images, 4);
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{"pic.babytree.com/big/71.jpg", "pic.babytree.com/big/72.jpg",
                        "pic.babytree.com/big/73.jpg", "pic.babytree.com/big/81.jpg"}));
    EXPECT_TRUE(std::filesystem::exists(save / "二宝" / "游玩" / "秋千.jpg"));
}

TEST_F(GalleryTest, PconlineAlbumsAndNumberedNames) {
    ASSERT_EQ(List(14, "https://photo.pconline.com.cn/pcuser/").albums, 2);
    EXPECT_EQ(session.OwnerName(), "老王");
    EXPECT_EQ(session.albums.At(0)->key, "https://photo.pconline.com.cn/photo/list_1001.html");
    EXPECT_EQ(session.albums.At(1)->key, "/photo/list_1002.html");
    EXPECT_EQ(session.albums.At(0)->photoCount, -1);
    ASSERT_EQ(DownloadAll().images, 3);
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{"img.pconline.com.cn/p/1.jpg", "img.pconline.com.cn/p/2.jpg",
                        "img.pconline.com.cn/p/3.jpg"}));
    EXPECT_TRUE(std::filesystem::exists(save / "老王" / "秋" / "秋 (2).jpg"));
}

TEST_F(GalleryTest, HupuNeedsTheLoginCookie) {
    EXPECT_EQ(List(15, "https://my.hupu.com/bob").albums, 0);
    ASSERT_EQ(front.messages.size(), 1u) << "the hint and the note go in one message";
    EXPECT_TRUE(front.messages[0].starts_with(std::string(kHupuNoAlbum) + "\n\n"))
        << front.messages[0];
    // A login page without markers cannot be told from a changed one: it is kept too.
    EXPECT_NE(front.messages[0].find("网站可能已改版"), std::string::npos);

    CookieStore::Shared().Put(".hupu.com\tTRUE\t/\tFALSE\t0\thupu_login\tok");
    ASSERT_EQ(List(15, "https://my.hupu.com/bob").albums, 2);
    EXPECT_EQ(session.albums.At(0)->key, "bob/photo/a11");
    EXPECT_EQ(session.albums.At(0)->photoCount, 3);
    EXPECT_EQ(session.albums.At(1)->key, "bob/photo/a12") << "page number and host dropped";
    EXPECT_EQ(DownloadAll().images, 4);
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{"i1.hupu.com/p/11_1big.jpg", "i1.hupu.com/p/11_2big.jpg",
                        "i1.hupu.com/p/11_3big.jpg", "i1.hupu.com/p/12_1big.jpg"}));

    ASSERT_EQ(List(15, "https://my.hupu.com/bob/photo/a11.html").albums, 1);
    const auto one = session.albums.At(0);
    EXPECT_EQ(one->name, "比赛");
    EXPECT_EQ(one->key, "bob/photo/a11");
    EXPECT_EQ(one->photoCount, 3);
    EXPECT_EQ(one->coverUrl, "https://i1.hupu.com/c/11.jpg");
}

TEST_F(GalleryTest, HupuMaintenancePageListsNothing) {
    CookieStore::Shared().Put(".hupu.com\tTRUE\t/\tFALSE\t0\thupu_login\tok");
    servers.hupuMaintenance = true;
    EXPECT_EQ(List(15, "https://my.hupu.com/bob").albums, 0);
    EXPECT_EQ(List(15, "https://my.hupu.com/bob/photo/a11.html").albums, 0);
    EXPECT_EQ(servers.PagesOf("my.hupu.com"),
              (std::vector<std::string>{"/bob/photo-1", "/bob/photo/a11.html"}));
}

TEST_F(GalleryTest, InstagramMediaByCursorWithFixedHeaders) {
    const auto outcome = List(17, "https://www.instagram.com/someone/?hl=en");
    ASSERT_EQ(outcome.albums, 1);
    EXPECT_TRUE(outcome.autoDownload);
    EXPECT_TRUE(servers.server.Requests().empty()) << "the row is made without a request";
    const auto row = session.albums.At(0);
    EXPECT_EQ(row->name, "someone");
    EXPECT_EQ(row->key, "https://www.instagram.com/someone");
    EXPECT_EQ(row->photoCount, -1);
    EXPECT_EQ(session.OwnerName(), "");

    EXPECT_EQ(DownloadAll().images, 5);
    EXPECT_EQ(servers.PagesOf("www.instagram.com"),
              (std::vector<std::string>{"/someone", "/someone/media?max_id=C2",
                                        "/someone/media?max_id=M4"}))
        << "the repeated cursor M4 ends the walk";
    const std::string pic = "scontent.instagram.com/";
    EXPECT_EQ(servers.PicturesFetched(),
              (Pictures{pic + "hphotos-xaf1/t51/1.jpg", pic + "hphotos-xaf1/t51/2.jpg",
                        pic + "s/3.jpg", pic + "l/4.jpg", pic + "s/5.jpg"}));
    std::lock_guard lock(servers.mutex);
    for (const auto& agent : servers.instagramAgents) {
        EXPECT_EQ(agent,
                  "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) "
                  "Chrome/30.0.1599.101 Safari/537.36");
    }
    for (const auto& language : servers.instagramLanguages) {
        EXPECT_EQ(language, "zh-CN,zh;q=0.8");
    }
}

TEST_F(GalleryTest, InstagramPhotoHostChoice) {
    std::ofstream(home / "下载器扩展设置.ini") << "[Instagram]\n图片获取方式=0\n";
    ASSERT_EQ(List(17, "https://www.instagram.com/someone").albums, 1);
    DownloadAll();
    const auto urls = Urls();
    ASSERT_EQ(urls.size(), 5u);
    EXPECT_EQ(urls[0], "https://photos-a.ak.instagram.com/hphotos-ak-xaf1/t51/1.jpg");
    EXPECT_EQ(urls[2], "https://scontent.instagram.com/s/3.jpg");
}

// --- Through brenvik-cli ----------------------------------------------------------------

struct CliCase {
    std::string address;
    int albums;
    Pictures pictures;
    bool hupuCookie = false;
};

class GalleryCliTest : public ::testing::Test {
  protected:
    test::ProcessResult Run(const std::string& address, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--home", (root / "home").string(), "-o",
                                         (root / "save").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(address);
        return test::RunProcess(test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(), args));
    }
    std::string CookieFile() {
        const auto file = root / "hupu-cookies.txt";
        std::ofstream(file) << ".hupu.com\tTRUE\t/\tFALSE\t0\thupu_login\tok\n";
        return file.string();
    }

    // Lists and downloads every album: each picture fetched once at full size, each
    // arriving as one file, nothing written outside the save path.
    void ListsAndDownloads(const CliCase& c) {
        const auto result =
            Run(c.address, c.hupuCookie ? std::vector<std::string>{"--cookies", CookieFile()}
                                        : std::vector<std::string>{});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), c.albums) << result.out;
        EXPECT_EQ(servers.PicturesFetched(), c.pictures);

        std::multiset<std::string> arrived;
        int folders = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "save")) {
            if (entry.path().filename() == "pic.zvt") {
                ++folders;
            } else if (entry.is_regular_file()) {
                std::ifstream in(entry.path(), std::ios::binary);
                arrived.insert(std::string(std::istreambuf_iterator<char>(in), {}));
            }
        }
        std::multiset<std::string> expected;
        for (const auto& picture : c.pictures) {
            expected.insert(test::PictureBytes(picture.substr(picture.find('/'))));
        }
        EXPECT_EQ(arrived, expected) << "every photo arrives once";
        EXPECT_EQ(folders, c.albums) << "one finished folder per album";
        std::vector<std::string> top;
        for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
            top.push_back(entry.path().filename().string());
        }
        std::sort(top.begin(), top.end());
        std::vector<std::string> allowed = {"home", "save"};
        if (c.hupuCookie) {
            allowed.insert(allowed.begin() + 1, "hupu-cookies.txt");
        }
        EXPECT_EQ(top, allowed) << "hostile names stay inside the save path";
    }

    GalleryServers servers;
    test::TempDir root;
};

TEST_F(GalleryCliTest, ZolAlbums) {
    ListsAndDownloads({"https://bbs.zol.com.cn/dan/", 2,
                       Pictures{"img.zol.com.cn/g1/a1.jpg", "img.zol.com.cn/g1/a2.jpg",
                                "img.zol.com.cn/g1/a3.jpg", "img.zol.com.cn/g2/b1.png"}});
}

TEST_F(GalleryCliTest, Pchome) {
    ListsAndDownloads(
        {"https://photo.pchome.com.tw/ellen", 2,
         Pictures{"photo.pchome.com.tw/ellen/a1/p1.jpg", "photo.pchome.com.tw/ellen/a1/p2.jpg",
                  "photo.pchome.com.tw/ellen/a1/p3.jpg",
                  "photo.pchome.com.tw/ellen/trips.2024/q1.jpg"}});
}

TEST_F(GalleryCliTest, Moko) {
    ListsAndDownloads(
        {"https://www.moko.cc/kate/", 2,
         Pictures{"img.moko.cc/big/1.jpg", "img.moko.cc/big/2.jpg", "img.moko.cc/big/3.jpg"}});
}

TEST_F(GalleryCliTest, BabytreeBothForms) {
    ListsAndDownloads(
        {"https://home.babytree.com/u42", 2,
         Pictures{"pic.babytree.com/foto3/thumbs/2015/a_nb.jpg", "pic.babytree.com/photos/b_b.jpg",
                  "pic.babytree.com/photos/c_b.jpg"}});
    std::filesystem::remove_all(root / "save");
    servers.server.ClearRequests();
    ListsAndDownloads({"https://home.babytree.com/u43", 2,
                       Pictures{"pic.babytree.com/big/71.jpg", "pic.babytree.com/big/72.jpg",
                                "pic.babytree.com/big/73.jpg", "pic.babytree.com/big/81.jpg"}});
}

TEST_F(GalleryCliTest, Pconline) {
    ListsAndDownloads({"https://photo.pconline.com.cn/pcuser/", 2,
                       Pictures{"img.pconline.com.cn/p/1.jpg", "img.pconline.com.cn/p/2.jpg",
                                "img.pconline.com.cn/p/3.jpg"}});
}

TEST_F(GalleryCliTest, HupuWithItsLoginCookie) {
    ListsAndDownloads({"https://my.hupu.com/bob", 2,
                       Pictures{"i1.hupu.com/p/11_1big.jpg", "i1.hupu.com/p/11_2big.jpg",
                                "i1.hupu.com/p/11_3big.jpg", "i1.hupu.com/p/12_1big.jpg"},
                       /*hupuCookie=*/true});
}

TEST_F(GalleryCliTest, Instagram) {
    const std::string pic = "scontent.instagram.com/";
    ListsAndDownloads({"https://www.instagram.com/someone/", 1,
                       Pictures{pic + "hphotos-xaf1/t51/1.jpg", pic + "hphotos-xaf1/t51/2.jpg",
                                pic + "s/3.jpg", pic + "l/4.jpg", pic + "s/5.jpg"}});
}

TEST_F(GalleryCliTest, NothingFoundNotLoggedInAndBadAddresses) {
    auto result = Run("https://my.hupu.com/bob");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(cli::ForTheCommandLine(kHupuNoAlbum)), std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");

    servers.hupuMaintenance = true;
    result = Run("https://my.hupu.com/bob", {"--cookies", CookieFile()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");

    result = Run("https://bbs.zol.com.cn/nobody/");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");

    for (const char* bad : {"https://www.instagram.com/", "https://my.hupu.com/bo-b",
                            "https://photo.pconline.com.cn/pc_person/"}) {
        servers.server.ClearRequests();
        result = Run(bad);
        EXPECT_EQ(result.exitCode, 1) << bad;
        EXPECT_NE(result.err.find("[提示] 输入网址有误"), std::string::npos) << bad;
        EXPECT_EQ(servers.server.RequestCount(), 0u) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(root / "save"));
}

}  // namespace
}  // namespace brenvik
