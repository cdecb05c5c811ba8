#include "download/Collect.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "session/Session.h"
#include "session/DownloadRecord.h"
#include "download/ListTypes.h"
#include "net/AtomicFile.h"
#include "support/FakeFrontEnd.h"
#include "support/SessionViews.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

class CollectTest : public ::testing::Test {
  protected:
    CollectTest() : session(home.Path(), front) { session.ready = true; }

    int AddAlbumNamed(const std::string& name) {
        AlbumRecord record;
        record.name = name;
        record.position = 99;  // never taken from the adapter
        record.thumbSlot = 5;
        AddAlbum(session, record);
        return static_cast<int>(session.albums.Size()) - 1;
    }
    void StartAlbum() {
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
};

TEST_F(CollectTest, AlbumNamesAreCleanedAndUnique) {
    AddAlbumNamed("Trip");
    AddAlbumNamed("Trip");
    AddAlbumNamed("Trip");
    AddAlbumNamed("a/b");
    AddAlbumNamed("");
    const auto albums = session.albums.All();
    ASSERT_EQ(albums.size(), 5u);
    EXPECT_EQ(albums[0].name, "Trip");
    EXPECT_EQ(albums[1].name, "Trip (1)");
    EXPECT_EQ(albums[2].name, "Trip (2)");
    EXPECT_EQ(albums[3].name, "ab");
    EXPECT_EQ(albums[4].name.size(), 14u) << "time stamp for an empty name";
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(albums[static_cast<std::size_t>(i)].position, i);
        EXPECT_EQ(albums[static_cast<std::size_t>(i)].thumbSlot, -1);
    }
    ASSERT_EQ(front.rows.size(), 5u);
    EXPECT_EQ(front.rows[1].name, "Trip (1)");
    EXPECT_EQ(session.albums.FindAlbumByName("Trip (2)"), 2);
    EXPECT_EQ(session.albums.FindAlbumByName("Nope"), -1);
}

TEST_F(CollectTest, AlbumsBeforeStartUpFinishedAreDropped) {
    session.ready = false;
    AddAlbumNamed("Early");
    EXPECT_EQ(session.albums.Size(), 0u);
    EXPECT_TRUE(front.rows.empty());
}

TEST_F(CollectTest, FirstPhotoMakesTheAlbumFolder) {
    const int album = AddAlbumNamed("Trip");
    StartAlbum();
    AddPhoto(session, "http://h/1.jpg", "sunset", "Referer: x", album);
    AddPhoto(session, "http://h/2.jpg\r\nhttp://h/2s.jpg", "sunset", "", album);
    EXPECT_TRUE(std::filesystem::is_directory(save / "Trip"));
    EXPECT_EQ(session.downloads.AlbumFolder(), save / "Trip");
    const auto rows = session.downloads.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].fileName, "sunset.jpg");
    EXPECT_EQ(rows[0].headers, "Referer: x");
    EXPECT_EQ(rows[1].fileName, "sunset(1).jpg");
    EXPECT_EQ(rows[1].url, "http://h/2.jpg\r\nhttp://h/2s.jpg");
    EXPECT_EQ(front.controls[kControlProgress], "已获取到2张图片信息");
    EXPECT_EQ(session.downloads.FindUrl("http://h/1.jpg"), 0);
    EXPECT_EQ(session.downloads.FindUrl("http://h/9.jpg"), -1);
}

TEST_F(CollectTest, SkipRuleEndsTheAlbumAtTheRememberedAddress) {
    SaveOptions rules = session.SaveRules(0);
    rules.flags |= kFlagSkipDownloaded;
    session.SetSaveRules(0, rules);
    const int album = AddAlbumNamed("Trip");
    std::filesystem::create_directories(save / "Trip");
    WriteFirstAddress(save / "Trip", "http://h/3.jpg");
    StartAlbum();
    for (int i = 1; i <= 5 && !PhotoListShouldStop(session); ++i) {
        AddPhoto(session, "http://h/" + std::to_string(i) + ".jpg", "", "", album);
    }
    EXPECT_EQ(session.downloads.Size(), 2u);
    EXPECT_EQ(session.downloadState, kDownloadAlbumComplete);

    // Without the option the remembered address changes nothing.
    rules.flags = 0;
    session.SetSaveRules(0, rules);
    StartAlbum();
    for (int i = 1; i <= 5 && !PhotoListShouldStop(session); ++i) {
        AddPhoto(session, "http://h/" + std::to_string(i) + ".jpg", "", "", album);
    }
    EXPECT_EQ(session.downloads.Size(), 5u);
}

TEST_F(CollectTest, RecordedPhotosAreSkippedOneByOneAndKeepTheirPlace) {
    SaveOptions rules = session.SaveRules(0);
    rules.flags |= kFlagSkipDownloaded;
    rules.namingMode = kNameBySequence;
    session.SetSaveRules(0, rules);
    const int album = AddAlbumNamed("Trip");
    std::filesystem::create_directories(save / "Trip");
    DownloadRecord earlier;
    earlier.Open(save / "Trip");
    earlier.Add("http://h/2.jpg");
    earlier.Add("http://h/4.jpg");
    earlier.Close();
    StartAlbum();
    for (int i = 1; i <= 5 && !PhotoListShouldStop(session); ++i) {
        AddPhoto(session, "http://h/" + std::to_string(i) + ".jpg\r\nhttp://h/s.jpg", "", "",
                 album);
    }
    EXPECT_EQ(test::RowFileNames(session), (std::vector<std::string>{"1.jpg", "3.jpg", "5.jpg"}))
        << "photos saved before are skipped wherever they stand, and keep their numbers";
    EXPECT_EQ(session.downloadState, kDownloadRunning) << "the list goes on after a skip";
    EXPECT_EQ(session.downloads.FirstOffered(), "http://h/1.jpg");
    EXPECT_EQ(session.downloads.Offered(), 5u);
}

TEST(DownloadRecord, SitsBesideTheFirstLineOlderFoldersHave) {
    test::TempDir dir;
    ASSERT_TRUE(WriteFirstAddress(dir.Path(), "http://h/first.jpg"));
    DownloadRecord record;
    record.Open(dir.Path());
    EXPECT_EQ(record.FirstAddress(), "http://h/first.jpg");
    EXPECT_TRUE(record.Add("http://h/图.jpg"));
    EXPECT_FALSE(record.Add("http://h/图.jpg")) << "never written twice";
    DownloadRecord reader;
    reader.Open(dir.Path());
    EXPECT_FALSE(reader.Contains("http://h/图.jpg")) << "a line waits until its image is synced";
    ASSERT_TRUE(record.Flush());
    reader.Open(dir.Path());
    EXPECT_TRUE(reader.Contains("http://h/图.jpg"));
    EXPECT_EQ(ReadFirstAddress(dir.Path()), "http://h/first.jpg") << "older readers see no change";

    // A crash may cut the last line short; it stays a line of its own.
    std::ofstream(dir / "pic.zvt", std::ios::app | std::ios::binary) << "\r\nhttp://h/cu";
    DownloadRecord again;
    again.Open(dir.Path());
    EXPECT_TRUE(again.Contains("http://h/图.jpg"));
    EXPECT_TRUE(again.Add("http://h/next.jpg"));
    ASSERT_TRUE(again.Complete("http://h/new-first.jpg"));
    DownloadRecord last;
    last.Open(dir.Path());
    EXPECT_EQ(ReadFirstAddress(dir.Path()), "http://h/new-first.jpg");
    EXPECT_TRUE(last.Contains("http://h/图.jpg"));
    EXPECT_TRUE(last.Contains("http://h/next.jpg"));
    EXPECT_FALSE(last.Contains("http://h/cut.jpg"));
}

TEST(KeepWithoutLoss, TakenNamesGiveWaySameBytesAreNotKeptTwiceEmptyFilesAndLinks) {
    test::TempDir dir;
    test::TempDir elsewhere;
    const auto write = [](const std::filesystem::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    };
    write(dir / "a.jpg", "earlier");
    write(dir / "new", "later");
    KeptFile kept = KeepWithoutLoss(dir / "new", dir / "a.jpg");
    EXPECT_TRUE(kept.ok);
    EXPECT_EQ(kept.path, dir / "a (1).jpg");

    write(dir / "new", "later");
    kept = KeepWithoutLoss(dir / "new", dir / "a.jpg");
    EXPECT_TRUE(kept.alreadyThere);
    EXPECT_EQ(kept.path, dir / "a (1).jpg");

    write(dir / "e.jpg", "");
    write(dir / "new", "whole");
    kept = KeepWithoutLoss(dir / "new", dir / "e.jpg");
    EXPECT_EQ(kept.path, dir / "e.jpg") << "an empty file holds nothing to lose";
    EXPECT_FALSE(kept.alreadyThere);

    write(elsewhere / "victim", "not yours");
    std::filesystem::create_symlink(elsewhere / "victim", dir / "l.jpg");
    write(dir / "new", "not yours");
    kept = KeepWithoutLoss(dir / "new", dir / "l.jpg");
    EXPECT_EQ(kept.path, dir / "l (1).jpg") << "a link is never taken for the same file";
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "l.jpg"));
    const auto read = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(dir / "a.jpg"), "earlier");
    EXPECT_EQ(read(dir / "e.jpg"), "whole");
    EXPECT_EQ(read(elsewhere / "victim"), "not yours");
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a (2).jpg"));
}

// The workers' bodies: nothing has a name until kept, and keeping follows the same rules.
TEST(UnnamedFile, HasNoNameUntilKeptThenKeepsWithoutLoss) {
    test::TempDir dir;
    test::TempDir elsewhere;
    const auto filled = [&](const std::string& bytes) {
        auto file = std::make_unique<UnnamedFile>(dir.Path());
        EXPECT_EQ(::write(file->Descriptor(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        return file;
    };
    const auto read = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    filled("dropped");
    EXPECT_TRUE(dir.Files().empty()) << "a body never kept leaves nothing";

    std::ofstream(dir / "a.jpg", std::ios::binary) << "earlier";
    KeptFile kept = filled("later")->Keep(dir / "a.jpg");
    EXPECT_TRUE(kept.ok);
    EXPECT_EQ(kept.path, dir / "a (1).jpg");
    EXPECT_EQ(read(dir / "a.jpg"), "earlier");
    EXPECT_EQ(read(dir / "a (1).jpg"), "later");

    kept = filled("later")->Keep(dir / "a.jpg");
    EXPECT_TRUE(kept.alreadyThere);
    EXPECT_EQ(kept.path, dir / "a (1).jpg");

    std::ofstream(elsewhere / "victim", std::ios::binary) << "not yours";
    std::filesystem::create_symlink(elsewhere / "victim", dir / "l.jpg");
    kept = filled("not yours")->Keep(dir / "l.jpg");
    EXPECT_EQ(kept.path, dir / "l (1).jpg") << "a link is never taken for the same file";
    EXPECT_EQ(read(elsewhere / "victim"), "not yours");

    // An empty file (a power cut's leftover) holds nothing to lose: the image takes its place.
    std::ofstream(dir / "e.jpg", std::ios::binary).flush();
    kept = filled("whole")->Keep(dir / "e.jpg");
    EXPECT_EQ(kept.path, dir / "e.jpg");
    EXPECT_EQ(read(dir / "e.jpg"), "whole");

    // A name of the whole 255 bytes is kept as it is.
    const std::string longName = std::string(251, 'n') + ".jpg";
    kept = filled("long")->Keep(dir / longName);
    EXPECT_EQ(kept.path, dir / longName);
    EXPECT_EQ(read(dir / longName), "long");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a (1).jpg", "a.jpg", "e.jpg", "l (1).jpg", "l.jpg",
                                               longName}));
}

TEST_F(CollectTest, SourceNameFileFollowsTheRows) {
    SaveOptions rules = session.SaveRules(0);
    rules.flags |= kFlagSourceNames;
    rules.folderMode = kFolderNone;
    session.SetSaveRules(0, rules);
    const int album = AddAlbumNamed("Trip");
    StartAlbum();
    AddPhoto(session, "http://h/1.jpg", "one", "", album);
    AddPhoto(session, "http://h/2.jpg", "two", "", album);
    std::ifstream in(save / "Trip.txt", std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(bytes, std::string("\xFF\xFEo\0n\0e\0\r\0\n\0t\0w\0o\0\r\0\n\0", 22));
}

TEST_F(CollectTest, HostileNamesStayInsideTheSavePath) {
    const int album = AddAlbumNamed("../../escape");
    StartAlbum();
    AddPhoto(session, "http://h/1.jpg", "/etc/passwd", "", album);
    AddPhoto(session, "http://h/2.jpg", "C:\\Windows\\win.ini", "", album);
    AddPhoto(session, "http://h/3.jpg", "..", "", album);
    for (const auto& row : session.downloads.Rows()) {
        const auto target =
            std::filesystem::weakly_canonical(session.downloads.AlbumFolder() / row.fileName);
        EXPECT_TRUE(target.string().starts_with(save.Path().string() + "/")) << target;
        EXPECT_EQ(target.parent_path(),
                  std::filesystem::weakly_canonical(session.downloads.AlbumFolder()));
    }
    EXPECT_EQ(session.downloads.AlbumFolder().parent_path(), save.Path());
}

TEST(ListTypes, DispatchTableAndChains) {
    auto choice = ChoosePhotoListers(0, 0);
    EXPECT_TRUE(choice.known);
    EXPECT_EQ(choice.chain,
              (std::vector{PhotoLister::QzonePhotos, PhotoLister::QzoneFallbackPhotos}));
    EXPECT_TRUE(ChoosePhotoListers(0, 7).chain.empty());
    EXPECT_TRUE(ChoosePhotoListers(0, -1).chain.empty());
    EXPECT_EQ(ChoosePhotoListers(1, -1).chain, std::vector{PhotoLister::TiebaPostPictures});
    EXPECT_EQ(ChoosePhotoListers(3, 0).chain.size(), 3u);
    EXPECT_EQ(ChoosePhotoListers(3, 10).chain, std::vector{PhotoLister::RenrenZhanPictures});
    EXPECT_EQ(ChoosePhotoListers(9, 1).chain, std::vector{PhotoLister::ShopDetailPictures});
    EXPECT_EQ(ChoosePhotoListers(9, 0).chain, std::vector{PhotoLister::ZolAlbumPhotos});
    EXPECT_EQ(ChoosePhotoListers(16, 1).chain, std::vector{PhotoLister::ShopDetailPictures});
    EXPECT_EQ(ChoosePhotoListers(18, 5).chain, std::vector{PhotoLister::HuabanBoardPins});
    EXPECT_EQ(ChoosePhotoListers(20, -1).chain, std::vector{PhotoLister::TopitAlbumPhotos});
    for (int site = 0; site <= kHighestSiteIndex; ++site) {
        EXPECT_TRUE(ChoosePhotoListers(site, -1).known);
    }
    EXPECT_FALSE(ChoosePhotoListers(21, 0).known);
    EXPECT_FALSE(ChoosePhotoListers(-1, 0).known);
}

TEST(ListTypes, AdaptersRegisterByIdentity) {
    const PhotoListFn fn = [](Session&, int) {};
    {
        const ScopedPhotoListers isolated;
        EXPECT_EQ(FindPhotoLister(PhotoLister::LofterPictures), nullptr);
        RegisterPhotoLister(PhotoLister::LofterPictures, fn);
        EXPECT_EQ(FindPhotoLister(PhotoLister::LofterPictures), fn);
    }
    EXPECT_NE(FindPhotoLister(PhotoLister::LofterPictures), fn)
        << "a test's registration does not outlive it";
}

}  // namespace
}  // namespace brenvik
