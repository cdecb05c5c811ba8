// Address lists for download managers: what the aria2 and JSON lists hold, and that
// aria2c, given the list brenvik-cli wrote, downloads an album from a picture host that
// refuses requests without the album's Referer and the login cookie.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/LocalRenren.h"
#include "download/ListExport.h"
#include "net/CookieStore.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using test::ReadFile;

// aria2c as the user's shell finds it (Debian package aria2).
std::string Aria2c() {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / "aria2c";
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    ADD_FAILURE() << "aria2c is not installed (scripts/setup.sh installs it)";
    return "aria2c";
}

class ListExportTest : public ::testing::Test {
  protected:
    ~ListExportTest() override { CookieStore::Shared().Clear(); }
};

TEST_F(ListExportTest, Aria2EntriesCarryMirrorNameRefererAndCookie) {
    CookieStore::Shared().Clear();
    ASSERT_TRUE(CookieStore::Shared().Put(".img.example\tTRUE\t/\tFALSE\t0\tsid\tabc"));
    const std::vector<DownloadRow> rows = {
        {"https://a.img.example/1.jpg\r\nhttps://b.other.example/1.jpg", "一.jpg",
         "Accept-Encoding: gzip, deflate\r\nreferer: https://site.example/album/1"},
        {"https://c.other.example/2.jpg", "2.jpg", ""},
        // Only the fallback has cookies: the entry still carries them.
        {"https://d.other.example/3.jpg\r\nhttps://img.example/3.jpg", "3.jpg", ""}};
    EXPECT_EQ(Aria2Input(rows, "/save/相册"),
              "https://a.img.example/1.jpg\thttps://b.other.example/1.jpg\n"
              " dir=/save/相册\n out=一.jpg\n referer=https://site.example/album/1\n"
              " header=Cookie: sid=abc\n"
              "https://c.other.example/2.jpg\n dir=/save/相册\n out=2.jpg\n"
              "https://d.other.example/3.jpg\thttps://img.example/3.jpg\n dir=/save/相册\n"
              " out=3.jpg\n header=Cookie: sid=abc\n");
}

TEST_F(ListExportTest, NothingInAnAddressOrValueCanForgeAnEntryOrOption) {
    CookieStore::Shared().Clear();
    const std::vector<DownloadRow> rows = {
        {"https://x.example/a b\tc.jpg", "a\nb.jpg", "Referer: https://x.example/\rdir=/etc"}};
    EXPECT_EQ(Aria2Input(rows, "/save"),
              "https://x.example/a%20b%09c.jpg\n dir=/save\n out=ab.jpg\n"
              " referer=https://x.example/dir=/etc\n");
}

TEST_F(ListExportTest, JsonHasOneObjectPerPhotoInValidUtf8) {
    CookieStore::Shared().Clear();
    ASSERT_TRUE(CookieStore::Shared().Put("img.example\tFALSE\t/\tFALSE\t0\tsid\t\"q\""));
    const std::vector<DownloadRow> rows = {
        {"https://img.example/1.jpg\r\nhttps://img.example/1b.jpg", "名\xFF.jpg",
         "Referer: https://site.example/"},
        {"https://other.example/2.jpg", "2.jpg", ""}};
    const std::string json = PhotoListJson(rows, "/save/a\"b");
    EXPECT_EQ(json,
              "[\n  {\"address\":\"https://img.example/1.jpg\",\"fallback\":"
              "\"https://img.example/1b.jpg\",\"name\":\"名\xEF\xBF\xBD.jpg\",\"folder\":"
              "\"/save/a\\\"b\",\"headers\":{\"Referer\":\"https://site.example/\","
              "\"Cookie\":\"sid=\\\"q\\\"\"}},\n"
              "  {\"address\":\"https://other.example/2.jpg\",\"fallback\":\"\",\"name\":"
              "\"2.jpg\",\"folder\":\"/save/a\\\"b\",\"headers\":{}}\n]\n");
    EXPECT_EQ(PhotoListJson({}, "/save"), "[]\n");
}

class ExportCliTest : public test::LocalRenrenCliTest {
  protected:
    test::ProcessResult Cli(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"-a", "1"});
        return test::RunProcess(Command(std::move(extra)));
    }
};

TEST_F(ExportCliTest, Aria2DownloadsTheGuardedAlbumFromTheWrittenList) {
    const auto result = Cli({"--export", "aria2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(site.PictureRequests().empty()) << "the list is written instead of downloading";
    EXPECT_EQ(save.Files(), std::vector<std::string>{"张三/旅行/旅行.aria2.txt"});
    const std::filesystem::path list = Album() / "旅行.aria2.txt";
    EXPECT_EQ(ReadFile(list).substr(0, ReadFile(list).find('\n', 1) + 1), site.Picture(0) + "\n");
    EXPECT_NE(ReadFile(list).find(" dir=" + Album().string() + "\n out=1.jpg\n referer=" +
                                  test::LocalRenren::kAlbumReferer + "\n header=Cookie: pass=ok\n"),
              std::string::npos)
        << ReadFile(list);

    const auto aria2 = test::RunProcess({Aria2c(), "--no-conf", "--quiet", "--no-proxy=127.0.0.1",
                                         "--max-tries=1", "-i", list.string()});
    ASSERT_EQ(aria2.exitCode, 0) << aria2.out << aria2.err;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadFile(Album() / (std::to_string(i + 1) + ".jpg")),
                  test::PictureBytes("/101/" + std::to_string(i) + ".jpg"));
    }
    const auto requests = site.PictureRequests();
    ASSERT_EQ(requests.size(), 3u) << "each picture was given on the first request";
    for (const auto& request : requests) {
        EXPECT_NE(
            request.find(std::string(" <- ") + test::LocalRenren::kAlbumReferer + " | pass=ok"),
            std::string::npos)
            << request;
    }
}

TEST_F(ExportCliTest, TheGuardRefusesWhatAPlainAddressListGets) {
    // The .lst alone carries no Referer and no cookie: the guard turns it away, which is
    // why the aria2 list exists.
    ASSERT_EQ(Cli({"--export", "lst"}).exitCode, 0);
    const std::filesystem::path list = Album() / "旅行.lst";
    std::ofstream(home / "plain.txt") << ReadFile(list);
    const auto aria2 =
        test::RunProcess({Aria2c(), "--no-conf", "--quiet", "--no-proxy=127.0.0.1", "--max-tries=1",
                          "-d", (home / "plain").string(), "-i", (home / "plain.txt").string()});
    EXPECT_NE(aria2.exitCode, 0);
    EXPECT_EQ(site.PictureRequests().size(), 3u) << "aria2c asked for each picture";
    EXPECT_FALSE(std::filesystem::exists(home / "plain" / "0.jpg"));
    EXPECT_EQ(ReadFile(list),
              site.Picture(0) + "\r\n" + site.Picture(1) + "\r\n" + site.Picture(2) + "\r\n");
}

TEST_F(ExportCliTest, SeveralFormatsAtOnceAndJsonNamesTheFolder) {
    const auto result = Cli({"--export", "json", "--export", "lst", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"张三/旅行/旅行.json", "张三/旅行/旅行.lst"}));
    const std::string json = ReadFile(Album() / "旅行.json");
    EXPECT_EQ(json.substr(0, json.find("},") + 2),
              "[\n  {\"address\":\"" + site.Picture(0) +
                  "\",\"fallback\":\"\",\"name\":"
                  "\"1.jpg\",\"folder\":\"" +
                  Album().string() + "\",\"headers\":{\"Referer\":\"" +
                  test::LocalRenren::kAlbumReferer + "\",\"Cookie\":\"pass=ok\"}},");
    EXPECT_NE(result.out.find("\"images\":3,\"failed\":0"), std::string::npos) << result.out;
    EXPECT_TRUE(site.PictureRequests().empty());
}

TEST_F(ExportCliTest, AListThatCannotBeWrittenIsNoSuccess) {
    std::filesystem::create_directories(Album() / "旅行.aria2.txt" / "in-the-way");
    const auto result = Cli({"--export", "lst", "--export", "aria2"});
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.err.find((Album() / "旅行.aria2.txt").string()), std::string::npos)
        << result.err;
    EXPECT_TRUE(std::filesystem::exists(Album() / "旅行.lst")) << "the other list is written";
}

TEST_F(ExportCliTest, UnknownFormatIsAUsageError) {
    const auto result = test::RunProcess({BRENVIK_CLI_PATH, "--export", "csv", "12345"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--export 需要 lst、aria2 或 json"), std::string::npos);
}

}  // namespace
}  // namespace brenvik
