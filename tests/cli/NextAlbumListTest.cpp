// The real brenvik-cli on a two-album Renren account: album 2's photo list is read while
// album 1's pictures are still coming. The picture server holds album 1's pictures until
// it has seen album 2's list asked for, so a job that lists only after saving never gets
// them in time; and a stop during that overlap leaves album 2 unreported and unmade.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

// Longer than any page of a job that overlaps, far shorter than the workers' time-outs.
constexpr auto kHold = 10s;

class NextAlbumListTest : public ::testing::Test {
  protected:
    NextAlbumListTest() : site(/*https=*/true) {
        site.On("photo.renren.com", "*", [this](const httplib::Request& req, auto& res) {
            res.set_content(Page(req.path, req.get_param_value("page")), "text/html");
        });
        pictures.On("127.0.0.1", "*", [this](const httplib::Request& req, auto& res) {
            // Album 1's pictures wait for album 2's list to be asked for (and, when the test
            // stops the job, for its end).
            if (req.path.starts_with("/101/") &&
                (!WaitFor(album2Listed) || (holdAlbums && WaitFor(released)))) {
                res.status = 503;
                return;
            }
            res.set_content("\xFF\xD8\xFF\xE0" + req.path, "image/jpeg");
        });
    }
    ~NextAlbumListTest() override { Release(); }

    std::vector<std::string> Command() const {
        return test::CliCommand(BRENVIK_CLI_PATH, {site.RouteFor("photo.renren.com")},
                                {"--home", (home / "data").string(), "-o", save.Path().string(),
                                 "--json", "-s", "renren", "https://www.renren.com/42"});
    }

    // Answers the album list, then each album's first page; album 2's second page waits
    // while `holdAlbums` is set.
    std::string Page(const std::string& path, const std::string& page) {
        if (path.ends_with("/albumlist/v7")) {
            return "<html><head><title>人人网 - 张三的相册</title></head><script>nx.data = "
                   "{'albumList': [{\"cover\":\"\",\"albumName\":\"旅行\",\"albumId\":\"101\","
                   "\"sourceControl\":0,\"photoCount\":2,\"x\":1},{\"cover\":\"\",\"albumName\":"
                   "\"家\",\"albumId\":\"102\",\"sourceControl\":0,\"photoCount\":1,\"x\":1},]};"
                   "</script></html>";
        }
        const bool album2 = path.find("/album-102/") != std::string::npos;
        if (album2 && page != "1") {
            Set(album2Paged);
            if (holdAlbums) {
                WaitFor(released);
            }
        }
        if (page != "1") {
            return "";
        }
        if (album2) {
            Set(album2Listed);
        }
        const std::string album = album2 ? "102" : "101";
        std::string json = "{\"photoList\":[";
        for (int i = 0; i < (album2 ? 1 : 2); ++i) {
            json += "{\"position\":" + std::to_string(i) + ",\"url\":\"" + pictures.Base() + "/" +
                    album + "/" + std::to_string(i) + ".jpg\"},";
        }
        return json + "]}";
    }

    bool WaitFor(const std::atomic<bool>& flag) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kHold, [&] { return flag || released; }) && flag;
    }
    void Set(std::atomic<bool>& flag) {
        {
            std::lock_guard lock(mutex);
            flag = true;
        }
        changed.notify_all();
    }
    void Release() { Set(released); }

    test::TestServer site;
    test::TestServer pictures;
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> album2Listed{false};
    std::atomic<bool> album2Paged{false};
    std::atomic<bool> released{false};
    std::atomic<bool> holdAlbums{false};
    test::TempDir home;
    test::TempDir save;
};

TEST_F(NextAlbumListTest, TheNextListIsReadWhileThisAlbumDownloads) {
    test::Process cli(Command());
    const auto result = cli.Wait(60s);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::set<std::string> files;
    for (const auto& file : save.Files()) {
        files.insert(file);
    }
    EXPECT_EQ(files,
              (std::set<std::string>{"张三/旅行/1.jpg", "张三/旅行/2.jpg", "张三/旅行/pic.zvt",
                                     "张三/家/1.jpg", "张三/家/pic.zvt"}));
}

TEST_F(NextAlbumListTest, AStopDuringTheOverlapLeavesTheNextAlbumUnstarted) {
    holdAlbums = true;
    test::Process cli(Command());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return album2Paged.load(); }));
    }
    cli.Signal(SIGINT);
    const auto result = cli.Wait(60s);
    Release();
    EXPECT_EQ(result.exitCode, 128 + SIGINT) << result.err;
    const std::string outcomes =
        result.out.substr(std::min(result.out.find("\"outcomes\""), result.out.size()));
    EXPECT_NE(outcomes.find("{\"name\":\"旅行\",\"outcome\":\"stopped\""), std::string::npos)
        << result.out;
    EXPECT_EQ(outcomes.find("家"), std::string::npos) << "album 2 never started";
    for (const auto& file : save.Files()) {
        ADD_FAILURE() << "left behind: " << file;
    }
    EXPECT_FALSE(std::filesystem::exists(save / "张三" / "家"));
}

}  // namespace
}  // namespace brenvik
