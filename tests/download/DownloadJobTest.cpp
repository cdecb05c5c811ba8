#include "download/DownloadJob.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "download/AlbumJobTest.h"
#include "download/Collect.h"
#include "download/DownloadWorkers.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/AtomicFile.h"
#include "net/Routing.h"
#include "session/Session.h"
#include "support/FakeFrontEnd.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

using test::kTestSite;
using test::TestPhoto;

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string JpegBytes(std::size_t size, char fill = 'j') {
    std::string bytes = "\xFF\xD8\xFF\xE0";
    bytes.resize(size, fill);
    return bytes;
}

// An image server that counts how many requests run at once.
class ImageServer {
  public:
    ImageServer() {
        server.On("", "/img", [this](const httplib::Request& req, httplib::Response& res) {
            const int now = ++inFlight;
            int seen = maxInFlight.load();
            while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
            }
            server.Stall(delay);
            --inFlight;
            const std::string id = req.get_param_value("id");
            const auto size = std::stoul(
                req.get_param_value("size").empty() ? "2048" : req.get_param_value("size"));
            res.set_content(JpegBytes(size, id.empty() ? 'j' : id[0]), "image/jpeg");
        });
    }
    std::string Url(int id, std::size_t size = 2048) const {
        return server.Base() + "/img?id=" + std::to_string(id) + "&size=" + std::to_string(size);
    }

    test::TestServer server;
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    std::chrono::milliseconds delay{0ms};
};

class DownloadJobTest : public test::AlbumJobTest {
  protected:
    ImageServer images;
};

TEST_F(DownloadJobTest, DownloadsEveryImageWithinTheThreadCount) {
    std::vector<TestPhoto> list;
    for (int i = 0; i < 20; ++i) {
        list.push_back({images.Url(i), "photo " + std::to_string(i)});
    }
    const int album = AddTestAlbum("Trip", list);
    SetThreads(3);
    images.delay = 40ms;
    const auto outcome = Run({album});
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(outcome.images, 20);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_LE(images.maxInFlight, 3);
    EXPECT_GE(images.maxInFlight, 2);
    EXPECT_EQ(save.Files().size(), 21u);  // 20 images and pic.zvt
    EXPECT_EQ(ReadBytes(save / "Trip" / "photo 7.jpg"), JpegBytes(2048, '7'));
    EXPECT_EQ(ReadFirstAddress(save / "Trip"), images.Url(0));
    EXPECT_EQ(front.controls[kControlJobStatus], "下载完毕：1个相册，已保存20张");
    EXPECT_EQ(front.controls[kControlProgress], "");
    EXPECT_EQ(front.looks, (std::vector<bool>{true, false}));
    ASSERT_EQ(front.notices.size(), 1u);
    EXPECT_EQ(front.notices[0].second, 20);
    bool sawLastProgress = false;
    for (const auto& [id, text] : front.controlHistory) {
        sawLastProgress |= id == kControlProgress && text == "已下载20/20......";
    }
    EXPECT_TRUE(sawLastProgress);
    EXPECT_EQ(session.downloadState, kDownloadIdle);
    EXPECT_EQ(front.openedFolders, std::vector<std::string>{(save / "Trip").string()});
}

TEST_F(DownloadJobTest, FewerImagesThanThreads) {
    const int album =
        AddTestAlbum("Few", {{images.Url(1), "a"}, {images.Url(2), "b"}, {images.Url(3), "c"}});
    Run({album});
    EXPECT_EQ(images.server.RequestCount(), 3u);
    std::vector<std::string> progress;
    for (const auto& [id, text] : front.controlHistory) {
        if (id == kControlProgress && text.starts_with("已下载")) {
            progress.push_back(text);
        }
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "已下载3/3......");
}

TEST_F(DownloadJobTest, NoRowsMeansNoWorkers) {
    session.downloads.Clear();
    const auto outcome = DownPicFunc(session, WorkerSettings{});
    EXPECT_EQ(outcome.images, 0);
    EXPECT_TRUE(front.controls.empty());
    EXPECT_TRUE(front.notices.empty());
}

TEST_F(DownloadJobTest, FallbackAddressWhenTheFirstGivesNothing) {
    images.server.On("", "/empty", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("", "image/jpeg");
    });
    images.server.On("", "/gone", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>not found</html>", "text/html");
    });
    const int album =
        AddTestAlbum("Pairs", {{images.server.Base() + "/empty\r\n" + images.Url(1), "one"},
                               {images.server.Base() + "/gone\r\n" + images.Url(2), "two"},
                               {images.server.Base() + "/gone", "three"}});
    const auto outcome = Run({album});
    EXPECT_EQ(ReadBytes(save / "Pairs" / "one.jpg"), JpegBytes(2048, '1'));
    EXPECT_EQ(ReadBytes(save / "Pairs" / "two.jpg"), JpegBytes(2048, '2'));
    EXPECT_FALSE(std::filesystem::exists(save / "Pairs" / "three.jpg")) << "no error page saved";
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(ReadFirstAddress(save / "Pairs"), "")
        << "an album with a missing image is not marked as downloaded";
    EXPECT_EQ(front.controls[kControlJobStatus], "下载完毕：1个相册，已保存2张，失败1张");
}

TEST_F(DownloadJobTest, TopitFallbackForSmallFirstBodies) {
    AddConnectTo(images.server.RouteFor("img.topitme.com"));
    const std::string fallback = "http://img.topitme.com/img?id=f&size=3000";
    images.server.On("img.topitme.com", "/gone",
                     [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    const int album =
        AddTestAlbum("Topit", {{images.Url(1, 500) + "\r\n" + fallback, "small"},
                               {images.Url(2, 600) + "\r\n" + fallback, "enough"},
                               {images.Url(3, 500) + "\r\nhttp://img.topitme.com/gone", "kept"}});
    const auto outcome = Run({album});
    EXPECT_EQ(ReadBytes(save / "Topit" / "small.jpg"), JpegBytes(3000, 'f'));
    EXPECT_EQ(ReadBytes(save / "Topit" / "enough.jpg"), JpegBytes(600, '2'));
    // The first body was saved; a fallback that then fails takes nothing away.
    EXPECT_EQ(ReadBytes(save / "Topit" / "kept.jpg"), JpegBytes(500, '3'));
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(images.server.RequestCount(), 5u + 1u) << "the dead fallback is asked twice";
    ResetRoutingFromEnvironment();
}

TEST_F(DownloadJobTest, SizeLimitsLeaveNoFileButCount) {
    SetThreads(5, /*minK=*/10);
    const int album = AddTestAlbum(
        "Small", {{images.Url(1, 8 * 1024) + "\r\n" + images.Url(3, 12 * 1024), "small"},
                  {images.Url(2, 12 * 1024), "big"}});
    const auto outcome = Run({album});
    EXPECT_FALSE(std::filesystem::exists(save / "Small" / "small.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "Small" / "big.jpg"));
    EXPECT_EQ(outcome.failed, 0) << "left out on purpose, not failed";
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(front.controls[kControlJobStatus],
              "下载完毕：1个相册，已保存1张，跳过1张，其中1张超出大小限制");
    EXPECT_EQ(ReadFirstAddress(save / "Small"), images.Url(1, 8 * 1024))
        << "the album counts as complete";
    for (const auto& request : images.server.Requests()) {
        EXPECT_EQ(request.path.find("id=3"), std::string::npos)
            << "the fallback would break the limits just the same";
    }
    bool sawFull = false;
    for (const auto& [id, text] : front.controlHistory) {
        sawFull |= text == "已下载2/2......";
    }
    EXPECT_TRUE(sawFull);
}

TEST_F(DownloadJobTest, StopMidRunEndsRunningWorkersAndStartsNoNewOnes) {
    std::vector<TestPhoto> list;
    for (int i = 0; i < 12; ++i) {
        list.push_back({images.Url(i), "p" + std::to_string(i)});
    }
    const int first = AddTestAlbum("First", list);
    const int second = AddTestAlbum("Second", list);
    SetThreads(2);
    images.delay = 300ms;
    std::thread stopper([&] {
        while (images.server.RequestCount() < 3) {
            std::this_thread::sleep_for(5ms);
        }
        RequestDownloadStop(session);
    });
    const auto outcome = Run({first, second});
    stopper.join();
    const std::size_t requestsAtEnd = images.server.RequestCount();
    EXPECT_LE(requestsAtEnd, 4u) << "no worker starts after the stop";
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(images.server.RequestCount(), requestsAtEnd) << "nothing runs after the job";
    EXPECT_EQ(outcome.albums, 1);
    const auto files = save.Files();
    EXPECT_EQ(ReadFirstAddress(save / "First"), "") << "a stopped album is not complete";
    // The images still arriving when the stop came are abandoned, leaving no half-written
    // file; those already saved are kept.
    EXPECT_GE(files.size(), 2u) << "images already saved are kept, beside pic.zvt";
    for (const auto& file : files) {
        EXPECT_EQ(file.find(".part"), std::string::npos) << file;
    }
    EXPECT_EQ(session.downloadState, kDownloadIdle);
    EXPECT_EQ(front.looks, (std::vector<bool>{true, false}));
}

TEST_F(DownloadJobTest, ListOnlyWritesAddressesAndDownloadsNothing) {
    SetFlags(kFlagListOnly);
    const int album = AddTestAlbum(
        "Listed", {{images.Url(1), "a"}, {images.Url(2) + "\r\n" + images.Url(3), "b"}});
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.images, 2);
    EXPECT_EQ(images.server.RequestCount(), 0u);
    EXPECT_EQ(ReadBytes(save / "Listed" / "Listed.lst"),
              images.Url(1) + "\r\n" + images.Url(2) + "\r\n" + images.Url(3) + "\r\n");
    // The list-only option also writes the aria2 list: the fallback is the second
    // mirror of its photo, and the names are the ones a download would give.
    const std::string folder = (save / "Listed").string();
    EXPECT_EQ(ReadBytes(save / "Listed" / "Listed.aria2.txt"),
              images.Url(1) + "\n dir=" + folder + "\n out=a.jpg\n" + images.Url(2) + "\t" +
                  images.Url(3) + "\n dir=" + folder + "\n out=b.jpg\n");
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"Listed/Listed.aria2.txt", "Listed/Listed.lst"}));
}

TEST_F(DownloadJobTest, SavePathAndOwnerFoldersAreCreatedLevelByLevel) {
    session.SetOwnerName("owner/../x");
    session.SetOwnerSuffix("_tag");
    const int album = AddTestAlbum("Deep", {{images.Url(1), "a"}});
    const auto nested = save / "a" / "b" / "c";
    const auto outcome = RunDownloadJob(session, {album}, nested.string());
    EXPECT_TRUE(outcome.started);
    EXPECT_TRUE(std::filesystem::exists(nested / "owner..x_tag" / "Deep" / "a.jpg"));
}

TEST_F(DownloadJobTest, UnusableSavePaths) {
    const int album = AddTestAlbum("A", {{images.Url(1), "a"}});
    EXPECT_FALSE(RunDownloadJob(session, {album}, "   ").started);
    EXPECT_EQ(front.messages, std::vector<std::string>{"请先设置保存路径"});
    std::ofstream(save / "file") << "not a folder";
    EXPECT_FALSE(RunDownloadJob(session, {album}, (save / "file" / "sub").string()).started);
    ASSERT_EQ(front.messages.size(), 3u);
    EXPECT_EQ(front.messages[1], (save / "file").string());
    EXPECT_EQ(front.messages[2], "请检测设置的保存路径是否有误");
    EXPECT_EQ(session.downloadState, kDownloadIdle);
    EXPECT_TRUE(front.looks.empty());
}

TEST_F(DownloadJobTest, NothingSelectedAndUnknownSites) {
    AddTestAlbum("A", {{images.Url(1), "a"}});
    Run({7, -1});
    EXPECT_EQ(front.messages, std::vector<std::string>{kNoAlbumSelected});
    EXPECT_EQ(front.controls[kControlJobStatus], "下载完毕：0个相册，已保存0张");

    front.messages.clear();
    session.siteIndex = 21;
    Run({0});
    EXPECT_EQ(front.messages, std::vector<std::string>{"Error ListType Code."});

    // Pairs no adapter serves (whichever sites are built): no box per album, one mention
    // in the final status.
    front.messages.clear();
    session.siteIndex = 4;
    session.subKind = 9;
    AddTestAlbum("B", {{images.Url(2), "b"}});
    Run({0, 1});
    EXPECT_TRUE(front.messages.empty());
    EXPECT_EQ(front.controls[kControlJobStatus],
              "下载完毕：2个相册，已保存0张，暂不支持该网站相册的图片下载");
    EXPECT_EQ(images.server.RequestCount(), 0u);
}

TEST_F(DownloadJobTest, FixFormatAndFixOrderRunAfterTheAlbum) {
    SetFlags(kFlagFixFormat | kFlagFixOrder);
    images.server.On("", "/png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("\x89PNG\r\n\x1a\n rest", "image/png");
    });
    const int album = AddTestAlbum(
        "Fix", {{images.server.Base() + "/png", "a"}, {images.Url(2), "b"}, {images.Url(3), "c"}});
    const std::time_t before = std::time(nullptr);
    Run({album});
    EXPECT_TRUE(std::filesystem::exists(save / "Fix" / "a.png"));
    EXPECT_EQ(session.downloads.Row(0).fileName, "a.png");
    struct stat a {
    }, c{};
    ASSERT_EQ(::stat((save / "Fix" / "a.png").c_str(), &a), 0);
    ASSERT_EQ(::stat((save / "Fix" / "c.jpg").c_str(), &c), 0);
    EXPECT_GE(a.st_mtime, before);
    EXPECT_EQ(a.st_mtime - c.st_mtime, 120);
}

TEST_F(DownloadJobTest, SkipWhatWasDownloadedBefore) {
    SetFlags(kFlagSkipDownloaded);
    const int album = AddTestAlbum(
        "Again", {{images.Url(1) + "\r\n" + images.Url(9), "a"}, {images.Url(2), "b"}});
    Run({album});
    EXPECT_EQ(images.server.RequestCount(), 2u);
    // New photos arrived in front; the second run takes only those.
    photos[album].insert(photos[album].begin(), {images.Url(0), "new"});
    images.server.ClearRequests();
    Run({album});
    EXPECT_EQ(images.server.RequestCount(), 1u);
    EXPECT_EQ(ReadFirstAddress(save / "Again"), images.Url(0));
}

// Albums saved into one folder share its record: the next album's list, read while this
// album's images come, must not miss what this album adds to it.
TEST_F(DownloadJobTest, AlbumsSharingAFolderKeepEachOthersRecord) {
    SaveOptions rules = session.SaveRules(kTestSite);
    rules.folderMode = kFolderNone;
    rules.flags = kFlagSkipDownloaded;
    session.SetSaveRules(kTestSite, rules);
    const int one = AddTestAlbum("One", {{images.Url(1), "a"}, {images.Url(2), "b"}});
    const int two = AddTestAlbum("Two", {{images.Url(3), "c"}, {images.Url(4), "d"}});
    images.delay = 200ms;
    Run({one, two});
    images.server.ClearRequests();
    Run({one, two});
    EXPECT_EQ(images.server.RequestCount(), 0u) << "every saved photo is in the folder's record";
}

TEST_F(DownloadJobTest, SingleThreadPausesBetweenImages) {
    SetThreads(1);
    const int album = AddTestAlbum("Slow", {{images.Url(1), "a"}, {images.Url(2), "b"}});
    const auto start = std::chrono::steady_clock::now();
    Run({album});
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(save.Files().size(), 3u);
}

// ---- Files are never lost ----

TEST_F(DownloadJobTest, NamesOfFullLengthSave) {
    std::string description;  // 243 bytes: with ".jpg" close to the 255-byte limit
    std::string albumName;    // 240 bytes: its address list "name.lst" too
    for (int i = 0; i < 81; ++i) {
        description += "长";
    }
    for (int i = 0; i < 80; ++i) {
        albumName += "册";
    }
    const int photoAlbum = AddTestAlbum("Long", {{images.Url(1), description}});
    const auto outcome = Run({photoAlbum});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ReadBytes(save / "Long" / (description + ".jpg")), JpegBytes(2048, '1'));

    // A name of 253 bytes taken by other bytes: "name (1).jpg" is cut to fit.
    const std::string longer = description + "长长";
    const std::filesystem::path taken = save / "Taken" / (longer + ".jpg");
    std::filesystem::create_directories(taken.parent_path());
    std::ofstream(taken, std::ios::binary) << "an earlier photo";
    EXPECT_EQ(Run({AddTestAlbum("Taken", {{images.Url(3), longer}})}).failed, 0);
    EXPECT_EQ(ReadBytes(taken), "an earlier photo");
    const std::filesystem::path numbered = NumberedName(taken, 1);
    EXPECT_LE(numbered.filename().string().size(), 255u) << "cut at a character's boundary";
    EXPECT_TRUE(numbered.filename().string().ends_with("长 (1).jpg"));
    EXPECT_EQ(ReadBytes(numbered), JpegBytes(2048, '3'));

    SetFlags(kFlagListOnly);
    const int listAlbum = AddTestAlbum(albumName, {{images.Url(2), "x"}});
    Run({listAlbum});
    EXPECT_EQ(ReadBytes(save / albumName / (albumName + ".lst")), images.Url(2) + "\r\n");
}

TEST_F(DownloadJobTest, AnEmptyAnswerNeverReplacesAFile) {
    images.server.On("", "/empty", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("", "image/jpeg");
    });
    std::filesystem::create_directories(save / "Kept");
    std::ofstream(save / "Kept" / "a.jpg", std::ios::binary) << "a photo from an earlier run";
    const int album = AddTestAlbum("Kept", {{images.server.Base() + "/empty", "a"}});
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(ReadBytes(save / "Kept" / "a.jpg"), "a photo from an earlier run");
    EXPECT_EQ(save.Files(), std::vector<std::string>{"Kept/a.jpg"}) << "no temporary left";
}

TEST_F(DownloadJobTest, LeftoversOfAKilledRunAreSwept) {
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone);
    const std::string alive = std::to_string(::getpid());
    std::filesystem::create_directories(save / "Swept");
    for (const std::string& name :
         {".brenvik-" + dead + "-3.part", "p1.jpg.part" + dead + "-0",
          ".brenvik-" + alive + "-999999.part", std::string("notes.part")}) {
        std::ofstream(save / "Swept" / name) << "half";
    }
    const int album = AddTestAlbum("Swept", {{images.Url(1), "p1"}});
    Run({album});
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"Swept/.brenvik-" + alive + "-999999.part",
                                        "Swept/notes.part", "Swept/p1.jpg", "Swept/pic.zvt"}))
        << "what a dead process left goes; a running one's file and the user's stay";
}

TEST_F(DownloadJobTest, FixFormatDoesNotPileUpCopiesOnReruns) {
    SetFlags(kFlagFixFormat);
    images.server.On("", "/png", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("\x89PNG\r\n\x1a\n rest", "image/png");
    });
    const int album = AddTestAlbum("Png", {{images.server.Base() + "/png", "pic"}});
    for (int run = 0; run < 3; ++run) {
        Run({album});
    }
    EXPECT_EQ(save.Files(), (std::vector<std::string>{"Png/pic.png", "Png/pic.zvt"}));
    EXPECT_EQ(session.downloads.Row(0).fileName, "pic.png");
}

TEST_F(DownloadJobTest, FallbackAfterAnyFailureOfTheFirstAddress) {
    test::RawServer reset([](int fd, const std::string&, test::RawServer&) {
        test::RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n\xFF\xD8 part");
        test::RawServer::Reset(fd);
    });
    test::RawServer cutShort([](int fd, const std::string&, test::RawServer&) {
        test::RawServer::Send(fd,
                              "HTTP/1.1 200 OK\r\nContent-Length: 4000\r\nConnection: close\r\n"
                              "\r\n\xFF\xD8 short");
    });
    const int album =
        AddTestAlbum("Fallbacks", {{reset.Base() + "/a\r\n" + images.Url(1), "reset"},
                                   {cutShort.Base() + "/b\r\n" + images.Url(2), "short"}});
    const auto outcome = Run({album});
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(ReadBytes(save / "Fallbacks" / "reset.jpg"), JpegBytes(2048, '1'));
    EXPECT_EQ(ReadBytes(save / "Fallbacks" / "short.jpg"), JpegBytes(2048, '2'));
}

TEST(DownloadOneImage, AStalledFirstAddressFallsBack) {
    test::RawServer stalled([](int fd, const std::string&, test::RawServer& self) {
        test::RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n\xFF\xD8");
        self.Sleep(20s);
    });
    ImageServer images;
    test::TempDir dir;
    WorkerSettings settings;
    settings.timeoutSeconds = 1;
    const ImageOutcome image =
        DownloadOneImage(stalled.Base() + "/x\r\n" + images.Url(4), "", dir / "s.jpg", settings);
    EXPECT_EQ(image.result, ImageResult::Saved);
    EXPECT_EQ(ReadBytes(dir / "s.jpg"), JpegBytes(2048, '4'));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"s.jpg"});
}

// A chain's fallback stands in for a list that failed, not for one that was stopped.
TEST_F(DownloadJobTest, AStopEndsTheChain) {
    static std::atomic<int> fallbackCalls{0};
    fallbackCalls = 0;
    RegisterPhotoLister(PhotoLister::QzonePhotos, [](Session& s, int) { RequestDownloadStop(s); });
    RegisterPhotoLister(PhotoLister::QzoneFallbackPhotos, [](Session&, int) { ++fallbackCalls; });
    session.siteIndex = 0;
    session.subKind = 0;
    const int album = AddTestAlbum("Chain", {});
    Run({album});
    EXPECT_EQ(fallbackCalls, 0);
}

TEST_F(DownloadJobTest, HostileAlbumAndOwnerNamesStayUnderTheSavePath) {
    const std::string hostile = "&amp;amp;lt; .. &amp;amp;gt;";
    AlbumRecord record;
    record.name = hostile;
    AddAlbum(session, record);
    photos[0] = {{images.Url(1), "a"}};
    for (const std::string& owner : {hostile, std::string("..")}) {
        session.SetOwnerName(owner);
        const auto inner = save / "inner";
        const auto outcome = RunDownloadJob(session, {0}, inner.string());
        EXPECT_TRUE(outcome.started);
        for (const auto& file : save.Files()) {
            EXPECT_TRUE(file.starts_with("inner/")) << file;
            const auto parts = std::filesystem::path(file);
            for (const auto& part : parts) {
                EXPECT_TRUE(IsSafeComponent(part.string())) << file;
            }
        }
        EXPECT_FALSE(save.Files().empty());
    }
}

TEST_F(DownloadJobTest, AFolderThatCannotBeMadeIsReportedNotOpened) {
    SetFlags(kFlagOpenFolder);
    std::ofstream(save / "Blocked") << "a file where the album folder would go";
    const int album = AddTestAlbum("Blocked", {{images.Url(1), "a"}});
    const auto outcome = Run({album});
    EXPECT_TRUE(outcome.folderFailed);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(front.messages, (std::vector<std::string>{(save / "Blocked").string(),
                                                        "请检测设置的保存路径是否有误"}));
    EXPECT_TRUE(front.openedFolders.empty());
    EXPECT_EQ(images.server.RequestCount(), 0u);
}

}  // namespace
}  // namespace brenvik
