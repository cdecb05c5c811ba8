// Followed owners on two local sites, updated by the real brenvik-cli the way a person
// keeps a growing account: follow, update, the sites grow, update again, a stop in the
// middle, update again. The image hosts refuse what the real ones refuse (a wrong Referer,
// no login cookie) and count every request, so "nothing twice" is seen from their side.
#include <signal.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "net/TextKit.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

struct Album {
    std::string id;
    std::string name;
    std::vector<std::string> photos;  // newest first, as the sites list them
};

// A Renren owner (42, "张三") and a 56 owner ("bob") whose albums the test changes.
class GrowingSites {
  public:
    static constexpr const char* kRenren = "https://www.renren.com/zhangsan";
    static constexpr const char* k56 = "https://photo.56.com/photo/album/index.php?user=bob";

    GrowingSites() : server(/*https=*/true) {
        server.On("www.renren.com", "/zhangsan", [](const auto&, auto& res) {
            res.set_content("<script>var profile_owner = 42;</script>", "text/html");
        });
        server.On("photo.renren.com", "*",
                  [this](const auto& req, auto& res) { Renren(req, res); });
        server.On("photo.56.com", "/photo/album/index.php",
                  [this](const auto& req, auto& res) { List56(req, res); });
        server.On("photo.56.com", "/photo/album/",
                  [this](const auto& req, auto& res) { Photos56(req, res); });
        for (const char* host : {"fmn.rrimg.com", "img.56.com"}) {
            server.On(host, "*",
                      [this, host](const auto& req, auto& res) { Image(host, req, res); });
        }
    }

    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const char* host : {"www.renren.com", "photo.renren.com", "photo.56.com",
                                 "fmn.rrimg.com", "img.56.com"}) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }

    void Change(const std::function<void(std::vector<Album>& renren, std::vector<Album>& bob)>& f) {
        std::lock_guard lock(mutex_);
        f(renren_, bob_);
    }
    std::map<std::string, int> ImageRequests() {
        std::lock_guard lock(mutex_);
        return images_;
    }
    int Photos() {
        std::lock_guard lock(mutex_);
        int count = 0;
        for (const auto* owner : {&renren_, &bob_}) {
            for (const Album& album : *owner) {
                count += static_cast<int>(album.photos.size());
            }
        }
        return count;
    }
    // The image is held (its request counted) until Release.
    void Hold(const std::string& address) {
        std::lock_guard lock(mutex_);
        held_ = address;
    }
    void Release() { released_ = true; }
    void SetListOf56Down(bool down) { down56_ = down; }

    test::TestServer server;

  private:
    static std::string RenrenAlbumKey(const std::string& id) {
        return "https://photo.renren.com/photo/42/album-" + id + "/";
    }
    static std::string PageOf56(const std::string& did) {
        return "https://photo.56.com/photo/album/?do=Plist&did=" + did + "&page=1";
    }

    void Renren(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        std::string page;
        if (req.path.find("/albumlist/v7") != std::string::npos) {
            page = "<title>人人网 - 张三的相册</title><script>nx.data = {'albumList': [";
            for (const Album& a : renren_) {
                page += "{\"cover\":\"\",\"albumName\":\"" + a.name + "\",\"albumId\":\"" + a.id +
                        "\",\"sourceControl\":0,\"photoCount\":" + std::to_string(a.photos.size()) +
                        ",\"x\":1},";
            }
            page += "]};</script>";
        } else if (req.path.find("/bypage/ajax/v7") != std::string::npos &&
                   req.get_param_value("page") == "1") {
            page = "{\"photoList\":[";
            for (const Album& a : renren_) {
                if (req.path.find("/album-" + a.id + "/") == std::string::npos) {
                    continue;
                }
                for (const std::string& photo : a.photos) {
                    page += "{\"position\":0,\"url\":\"https:\\/\\/fmn.rrimg.com\\/" + a.id +
                            "\\/" + photo + ".jpg\"},";
                }
            }
            page += "]}";
        }
        res.set_content(page, "text/html");
    }

    void List56(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        if (down56_) {
            res.status = 503;
            return;
        }
        std::string page = "<div class=\"album_list\"><ul>";
        for (const Album& a : req.get_param_value("user") == "bob" ? bob_ : std::vector<Album>()) {
            page += "<li><a onclick=\"chackAlbum('" + a.id + "')\"><img src=\"x\" title=\"" +
                    a.name + "\"></a><i width=\"140\">" + std::to_string(a.photos.size()) +
                    "</i></li>";
        }
        res.set_content(ToGbk(page + "</ul>"), "text/html; charset=gbk");
    }

    void Photos56(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        std::string page;
        for (const Album& a : bob_) {
            if (a.id != req.get_param_value("did") || req.get_param_value("page") != "1") {
                continue;
            }
            for (const std::string& photo : a.photos) {
                page += "<div class=\"img\"><img src='https://img.56.com/p/" + a.id + "/" + photo +
                        ".jpg'><label>" + photo + "</label></div>";
            }
        }
        res.set_content(ToGbk(page), "text/html; charset=gbk");
    }

    // Renren's pictures want the album page as Referer and the login cookie; 56's want the
    // photo page as Referer.
    void Image(const std::string& host, const httplib::Request& req, httplib::Response& res) {
        const std::string address = host + req.path;
        Pieces parts;
        SplitAll(req.path, "/", parts);
        const bool renren = host == "fmn.rrimg.com";
        const std::string referer = renren ? RenrenAlbumKey(parts[1]) : PageOf56(parts[2]);
        const bool cookie =
            !renren || req.get_header_value("Cookie").find("pass=ok") != std::string::npos;
        std::string held;
        {
            std::lock_guard lock(mutex_);
            ++images_[address];
            held = held_;
        }
        if (req.get_header_value("Referer") != referer || !cookie) {
            res.status = 403;
            return;
        }
        for (int i = 0; address == held && !released_ && i < 1500; ++i) {
            std::this_thread::sleep_for(20ms);
        }
        std::string bytes = "\xFF\xD8\xFF\xE0 " + address + " ";
        bytes.resize(1200, 'i');
        res.set_content(bytes, "image/jpeg");
    }

    std::mutex mutex_;
    std::vector<Album> renren_ = {{"101", "旅行", {"r3", "r2", "r1"}}, {"102", "家", {"h1"}}};
    std::vector<Album> bob_ = {{"A1", "晴天", {"s2", "s1"}}, {"A2", "逃逸", {"t1"}}};
    std::map<std::string, int> images_;
    std::string held_;
    std::atomic<bool> released_{false};
    std::atomic<bool> down56_{false};
};

class FollowTest : public ::testing::Test {
  protected:
    FollowTest() {
        std::ofstream(home / "cookies.in") << "# Netscape HTTP Cookie File\n"
                                           << ".renren.com\tTRUE\t/\tFALSE\t0\tt\trr0042\n"
                                           << ".rrimg.com\tTRUE\t/\tFALSE\t0\tpass\tok\n";
    }
    std::vector<std::string> Command(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--home", (home / "data").string(), "--cookies",
                                     (home / "cookies.in").string()});
        return test::CliCommand(BRENVIK_CLI_PATH, sites.Routes(), extra);
    }
    test::ProcessResult Run(std::vector<std::string> extra) {
        return test::RunProcess(Command(std::move(extra)));
    }
    int SavedImages() const {
        int count = 0;
        for (const auto& file : save.Files()) {
            count += file.ends_with(".jpg") ? 1 : 0;
        }
        return count;
    }
    // No image was asked for twice, but the one named (held when the run was stopped).
    void ExpectEachImageAskedOnce(const std::string& except = "") {
        for (const auto& [address, count] : sites.ImageRequests()) {
            EXPECT_EQ(count, address == except ? 2 : 1) << address;
        }
    }

    GrowingSites sites;
    test::TempDir home;
    test::TempDir save;
};

TEST_F(FollowTest, UpdatesFetchOnlyWhatIsNewAndResumeAfterAStop) {
    for (const char* owner : {GrowingSites::kRenren, GrowingSites::k56}) {
        const auto followed = Run({"--follow", owner, "-o", save.Path().string()});
        ASSERT_EQ(followed.exitCode, 0) << followed.err;
    }
    auto update = Run({"--update"});
    ASSERT_EQ(update.exitCode, 0) << update.err << update.out;
    EXPECT_EQ(SavedImages(), sites.Photos()) << update.out;
    EXPECT_NE(
        update.out.find(std::string(GrowingSites::kRenren) + "（人人网）：新相册2个，新图片4张"),
        std::string::npos)
        << update.out;

    // The sites grow: a new photo in a known album, new albums; one album goes away.
    sites.Change([](auto& renren, auto& bob) {
        renren[0].photos.insert(renren[0].photos.begin(), "r4");
        renren.push_back({"103", "新年", {"n2", "n1"}});
        bob.erase(bob.begin() + 1);
        bob.push_back({"A3", "雨天", {"y1"}});
    });
    update = Run({"--update"});
    ASSERT_EQ(update.exitCode, 0) << update.err << update.out;
    EXPECT_NE(update.out.find("新相册1个，新图片3张"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find("网站上已没有的相册（本地保留）：逃逸"), std::string::npos)
        << update.out;
    EXPECT_TRUE(std::filesystem::exists(save / "逃逸")) << "a vanished album is kept";
    EXPECT_EQ(SavedImages(), sites.Photos() + 1);
    ExpectEachImageAskedOnce();

    // Stopped while an album of five is under way: the next update fetches the rest.
    sites.Change([](auto& renren, auto&) {
        renren.push_back({"104", "山", {"m5", "m4", "m3", "m2", "m1"}});
    });
    sites.Hold("fmn.rrimg.com/104/m3.jpg");
    test::Process stopped(Command({"--update"}));
    // Stopped once the album's other four images are saved, while the held one is fetched.
    const auto othersSaved = [this] {
        int files = 0;
        for (const auto& file : save.Files()) {
            files += file.starts_with("张三/山/") && file.ends_with(".jpg") ? 1 : 0;
        }
        return files == 4;
    };
    for (int i = 0; i < 1500 && !othersSaved(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(othersSaved());
    ASSERT_EQ(sites.ImageRequests().count("fmn.rrimg.com/104/m3.jpg"), 1u);
    stopped.Signal(SIGINT);
    const auto interrupted = stopped.Wait(30s);
    sites.Release();
    EXPECT_EQ(interrupted.exitCode, 128 + SIGINT) << interrupted.err;
    update = Run({"--update"});
    ASSERT_EQ(update.exitCode, 0) << update.err << update.out;
    EXPECT_EQ(SavedImages(), sites.Photos() + 1);
    ExpectEachImageAskedOnce("fmn.rrimg.com/104/m3.jpg");

    // One site down: the other owner is still updated, and the failure is said.
    sites.SetListOf56Down(true);
    sites.Change(
        [](auto& renren, auto&) { renren[1].photos.insert(renren[1].photos.begin(), "h2"); });
    update = Run({"--update"});
    EXPECT_EQ(update.exitCode, 1);
    EXPECT_NE(update.out.find(std::string(GrowingSites::k56) + "（56相册）：未取到相册列表"),
              std::string::npos)
        << update.out;
    EXPECT_EQ(SavedImages(), sites.Photos() + 1) << "h2 came all the same";
    sites.SetListOf56Down(false);

    const auto following = Run({"--following"});
    EXPECT_NE(
        following.out.find(std::string(GrowingSites::k56) + "\t56相册\t" + save.Path().string()),
        std::string::npos)
        << following.out;
    ASSERT_EQ(Run({"--unfollow", GrowingSites::k56}).exitCode, 0);
    EXPECT_EQ(Run({"--following"}).out.find(GrowingSites::k56), std::string::npos);
    EXPECT_EQ(Run({"--unfollow", GrowingSites::k56}).exitCode, 1) << "no longer followed";
}

}  // namespace
}  // namespace brenvik
