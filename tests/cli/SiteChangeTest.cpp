// A site that changed its pages: brenvik-cli keeps the last page that answered but held
// none of the markers, says once where it is, keeps only the newest pages; and
// --save-pages keeps every page fetched, for bug reports.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/LocalRenren.h"
#include "session/PageWatch.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

constexpr const char* kSiteChanged = "网站可能已改版。最后取回的页面已保存到: ";

using test::ReadFile;

int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

class SiteChangeTest : public test::LocalRenrenCliTest {
  protected:
    test::ProcessResult Cli(std::vector<std::string> extra) {
        return test::RunProcess(Command(std::move(extra)));
    }
    std::vector<std::filesystem::path> Diagnostics() const {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Data() / "diagnostics", ec)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }
    // The file the message names, as the user would read it from the terminal.
    static std::filesystem::path NamedFile(const std::string& err) {
        const std::size_t at = err.find(kSiteChanged);
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t start = at + std::string(kSiteChanged).size();
        return err.substr(start, err.find('\n', start) - start);
    }
};

TEST_F(SiteChangeTest, AnEmptyListingOfAnsweredPagesKeepsTheLastPage) {
    site.listChanged = true;
    const auto result = Cli({"-l"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(Occurrences(result.err, kSiteChanged), 1) << result.err;
    const auto files = Diagnostics();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(NamedFile(result.err), files[0]);
    EXPECT_TRUE(files[0].filename().string().starts_with("renren-")) << files[0];
    EXPECT_EQ(files[0].extension(), ".html");
    const std::string page = ReadFile(files[0]);
    EXPECT_TRUE(page.starts_with("<!-- https://photo.renren.com/")) << page;
    EXPECT_NE(page.find(test::LocalRenren::ChangedPage()), std::string::npos)
        << "the page as decoded text";
}

TEST_F(SiteChangeTest, AFailingSiteIsNotTakenForAChangedOne) {
    site.SetStatus(503);
    const auto result = Cli({"-l"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.find(kSiteChanged), std::string::npos) << result.err;
    EXPECT_TRUE(Diagnostics().empty());
}

TEST_F(SiteChangeTest, AlbumsWhosePhotoPagesChangedAreToldOnceForTheWholeJob) {
    site.photosChanged = true;
    const auto result = Cli({});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(Occurrences(result.err, kSiteChanged), 1) << result.err;
    const auto files = Diagnostics();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(NamedFile(result.err), files[0]);
    const std::string page = ReadFile(files[0]);
    EXPECT_TRUE(page.starts_with("<!-- https://photo.renren.com/photo/42/album-101/"))
        << "the first album's last photo page, not the listing's: " << page;
    EXPECT_TRUE(site.PictureRequests().empty());
}

TEST_F(SiteChangeTest, AWorkingSiteLeavesNoDiagnostics) {
    const auto result = Cli({"-l"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find(kSiteChanged), std::string::npos);
    EXPECT_TRUE(Diagnostics().empty());
}

TEST_F(SiteChangeTest, OnlyTheNewestTwentyPagesAreKept) {
    const auto folder = Data() / kDiagnosticsFolder;
    std::filesystem::create_directories(folder);
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    for (int i = 0; i < 25; ++i) {
        const auto file = folder / ("baidu-old" + std::to_string(100 + i) + ".html");
        std::ofstream(file) << i;
        std::filesystem::last_write_time(file, old + std::chrono::minutes(i));
    }
    site.listChanged = true;
    const auto result = Cli({"-l"});
    const auto files = Diagnostics();
    ASSERT_EQ(files.size(), kDiagnosticPagesKept);
    EXPECT_EQ(files.front().filename(), "baidu-old106.html") << "the six oldest went";
    EXPECT_TRUE(files.back().filename().string().starts_with("renren-"));
    EXPECT_EQ(NamedFile(result.err), files.back());
}

TEST_F(SiteChangeTest, SavePagesKeepsEveryPageFetchedInOrder) {
    const auto pages = home / "pages";
    const auto result = Cli({"-l", "--save-pages", pages.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> asked = site.Pages();
    ASSERT_EQ(asked.size(), 2u);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(pages)) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"0001.html", "0002.html"}));
    EXPECT_EQ(ReadFile(pages / "0001.html"),
              "<!-- https://www.renren.com/zhangsan -->\n<script>var profile_owner = "
              "42;</script>");
    const std::string second = ReadFile(pages / "0002.html");
    EXPECT_TRUE(second.starts_with("<!-- https://photo.renren.com/photo/42/albumlist/v7"))
        << second;
    EXPECT_NE(second.find("张三的相册"), std::string::npos);

    // A second run into the same folder adds after what is there.
    ASSERT_EQ(Cli({"-l", "--save-pages", pages.string()}).exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(pages / "0004.html"));
    EXPECT_EQ(ReadFile(pages / "0001.html").substr(0, 40),
              "<!-- https://www.renren.com/zhangsan -->");
}

TEST_F(SiteChangeTest, SavePagesIntoAFileIsAUsageError) {
    std::ofstream(home / "file") << "x";
    const auto result = Cli({"-l", "--save-pages", (home / "file").string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("无法使用页面保存目录"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace brenvik
