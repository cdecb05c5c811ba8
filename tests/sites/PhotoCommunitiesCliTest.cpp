// The six gallery sites end to end: the real brenvik-cli lists and downloads against
// local HTTPS servers playing each site (GBK pages, gzip where the site compresses).
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "app/AddressRule.h"
#include "app/Classify.h"
#include "download/ListTypes.h"
#include "sites/PhotoCommunitiesServers.h"
#include "sites/Sites.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/SiteCliTest.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class CommunityCliTest : public test::SiteCliTest<test::CommunityServers> {
  protected:
    // Every file below the save path but the "pic.zvt" each album folder keeps.
    std::vector<std::string> Saved() const {
        std::vector<std::string> files = save.Files();
        std::erase_if(files, [](const std::string& f) { return f.ends_with("pic.zvt"); });
        return files;
    }
    // Each address asked for exactly once, and nothing else from the image hosts.
    void ExpectImagesOnce(const std::vector<std::string>& addresses) {
        std::map<std::string, int> expected;
        for (const auto& address : addresses) {
            expected[address] = 1;
        }
        EXPECT_EQ(servers.ImageRequests(), expected);
        EXPECT_EQ(servers.BadReferers(), std::vector<std::string>{});
    }
    int PageRequests(const std::string& host, const std::string& pathStart) const {
        const auto requests = servers.server.Requests();
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), [&](const auto& r) {
            return r.host == host && r.path.starts_with(pathStart);
        }));
    }
    // A hostile name must not have made anything outside the save path.
    void ExpectNothingBeside(const std::string& name) const {
        EXPECT_FALSE(fs::exists(save.Path().parent_path() / name));
        EXPECT_FALSE(fs::exists(save.Path().parent_path().parent_path() / name));
    }
};

TEST_F(CommunityCliTest, Site56ListsOverPagesAndDownloadsTwoAlbums) {
    const auto result =
        Run({"-a", "1,2", "https://i.56.com/u/photo/album/index.php?user=bob&tab=1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t旅行\t   3\t\n0002\t逃逸\t   1\t\n0003\t家\t   1\t\n");
    EXPECT_EQ(PageRequests("photo.56.com", "/photo/album/index.php"), 3)
        << "the third page repeats the second and ends the list";
    EXPECT_EQ(Saved(), (std::vector<std::string>{"旅行/晴天.jpg", "旅行/阴天.jpg", "旅行/雨天.jpg",
                                                 "逃逸/出界.jpg"}));
    ExpectImagesOnce({"img.56.com/p/A1/1/1.jpg", "img.56.com/p/A1/1/2.jpg",
                      "img.56.com/p/A1/2/3.jpg", "img.56.com/p/A2/1/1.jpg"});
    EXPECT_EQ(PageRequests("photo.56.com", "/photo/album/?do=Plist&did=A1"), 3);
    ExpectNothingBeside("逃逸");
    std::ifstream in(save / "旅行" / "雨天.jpg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              test::CommunityServers::ImageBytes("img.56.com/p/A1/2/3.jpg"));
}

TEST_F(CommunityCliTest, PocoAlbumsAndPosts) {
    auto result = Run({"-a", "1,3", "https://my.poco.cn/album/album_list.htx&user_id=42"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t海边\t未知\t\n0002\t私人\t未知\t加密相册\n0003\t山\t未知\t\n");
    EXPECT_EQ(Saved(), (std::vector<std::string>{"摄影师/山/峰.jpg", "摄影师/海边/沙.jpg",
                                                 "摄影师/海边/浪.jpg", "摄影师/海边/海边.jpg"}));
    ExpectImagesOnce({"img.poco.cn/h1_1.jpg", "img.poco.cn/h1_2.jpg", "img.poco.cn/h1_3.jpg",
                      "img.poco.cn/h3_1.jpg"});

    servers.images.clear();
    result = Run({"https://my.poco.cn/id-42.shtml?p=2"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t帖一\t未知\t\n0002\t帖二\t未知\t\n");
    EXPECT_TRUE(fs::exists(save / "摄影师" / "帖一" / "帖一(1).jpg"));
    EXPECT_TRUE(fs::exists(save / "摄影师" / "帖二" / "帖二.jpg"));
    ExpectImagesOnce(
        {"img.poco.cn/post1_a.jpg", "img.poco.cn/post1_b.jpg", "img.poco.cn/post2_a.jpg"});
}

TEST_F(CommunityCliTest, YupooAlbumsOriginalsAndDescription) {
    const auto result = Run({"-a", "1,2", "https://bob.yupoo.com/"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t春天\t   3\t\n0002\t夏天\t   1\t\n0003\t秋天\t   0\t\n");
    EXPECT_EQ(PageRequests("www.yupoo.com", "/photos/bob/albums/page"), 3);
    EXPECT_EQ(Saved(), (std::vector<std::string>{"bob/夏天/图p4.jpg", "bob/春天/图p1.jpg",
                                                 "bob/春天/图p3.jpg", "bob/春天/相册描述.txt",
                                                 "bob/春天/题p2.jpg"}));
    ExpectImagesOnce({"pic.yupoo.com/bob/p1/big.jpg", "pic.yupoo.com/bob/p2/big.jpg",
                      "pic.yupoo.com/bob/p3/big.jpg", "pic.yupoo.com/bob/p4/big.jpg"});
    EXPECT_EQ(PageRequests("www.yupoo.com", "/photos/bob/albums/11/page"), 3)
        << "page 3 repeats page 2 and ends the album";
}

TEST_F(CommunityCliTest, Site51AlbumsAndABusyServer) {
    auto result = Run({"-a", "1,2", "https://home.51.com/carol"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "0001\t旅行\t   2\t\n0002\t聚会\t   2\t\n0003\t忙\t   2\t\n0004\t挤\t   2\t\n");
    const auto saved = Saved();
    EXPECT_EQ(saved.size(), 4u);
    EXPECT_EQ(std::count_if(saved.begin(), saved.end(),
                            [](const auto& f) { return f.starts_with("carol/聚会/"); }),
              2);
    ExpectImagesOnce({"img.51.com/b/7/1.jpg", "img.51.com/b/7/2.jpg", "img.51.com/b/8/1.jpg",
                      "img.51.com/b/8/2.jpg"});

    // Busy answers come gzip-compressed and in GBK, with usable-looking content after
    // the busy text; they are still recognised and their content is not used.
    servers.images.clear();
    result = Run({"-a", "3,4", "https://home.51.com/carol"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("[提示] 请稍候再试\n"), std::string::npos) << result.err;
    EXPECT_EQ(PageRequests("home.51.com", "/carol/photo/getdataview/?id=9001"), 1);
    EXPECT_EQ(PageRequests("home.51.com", "/carol/photo/getdataview/?id=6001"), 0)
        << "a busy album page ends that album";
    ExpectImagesOnce({});
    EXPECT_EQ(Saved().size(), 4u);
}

TEST_F(CommunityCliTest, DuitangPausedListAndFullSizePhotos) {
    const auto result = Run({"-a", "1,2", "https://www.duitang.com/people/?user_id=77"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t猫\t   2\t\n0002\t狗\t   2\t\n0003\t鸟\t   2\t\n");
    const auto times = servers.DuitangListTimes();
    ASSERT_EQ(times.size(), 3u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 1400ms) << "the site asks for a pause between pages";
    }
    EXPECT_EQ(Saved(), (std::vector<std::string>{"堆糖_77/狗/图1.jpg", "堆糖_77/狗/图2.jpg",
                                                 "堆糖_77/猫/图1.jpg", "堆糖_77/猫/图2.jpg"}));
    ExpectImagesOnce({"img.duitang.com/55_1.jpeg", "img.duitang.com/55_2.jpeg",
                      "img.duitang.com/56_1.jpeg", "img.duitang.com/56_2.jpeg"});
    ExpectNothingBeside("狗");
}

TEST_F(CommunityCliTest, DuitangAlbumAddressDownloadsThatAlbum) {
    const auto result = Run({"-l", "https://www.duitang.com/album/?id=56&from=share"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t专辑56\t   2\t\n");
    EXPECT_EQ(PageRequests("www.duitang.com", "/album/list/"), 0);
    const auto all = Run({"https://www.duitang.com/album/?id=56"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(Saved(),
              (std::vector<std::string>{"堆糖_77/专辑56/图1.jpg", "堆糖_77/专辑56/图2.jpg"}));
}

TEST_F(CommunityCliTest, HuabanBoardsAndTheirPins) {
    auto result = Run({"https://huaban.com/boards/900/"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t画板900\t  40\t\n");
    result = Run({"https://huaban.com/boards/901?md=newbn"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(servers.HuabanMax(), (std::vector<std::string>{"9002", "9004", "9012", "9014"}))
        << "the page after pin 4 repeats pins 3 and 4 and ends the board";
    std::vector<std::string> expected;
    std::vector<std::string> files;
    for (const std::string board : {"900", "901"}) {
        for (const std::string n : {"1", "2", "3", "4"}) {
            expected.push_back("hbimg.huabanimg.com/" + board + "k" + n);
            files.push_back("花花/画板" + board + "/钉" + n + ".jpg");
        }
    }
    ExpectImagesOnce(expected);
    EXPECT_EQ(Saved(), files);
}

TEST_F(CommunityCliTest, NothingFoundShowsItsMessageAndExitsOne) {
    struct Case {
        std::string address;
        std::string message;  // empty: the site has none
    };
    const std::vector<Case> cases = {
        {"https://i.56.com/photo/album/index.php?user=nobody", ""},
        {"https://my.poco.cn/album/album_list.htx&user_id=7", ""},
        {"https://nobody.yupoo.com/", "[提示] 没有获取到相册，如果你输入的网址正确"},
        {"https://home.51.com/nobody", ""},
        {"https://www.duitang.com/people/?user_id=5",
         "[提示] 没有找到堆糖用户\n请输入堆糖用户主页或专辑的网址"},
        {"https://huaban.com/nobody/", "[提示] 请输入花瓣画板的网址\n(网址中含有/boards/)"},
    };
    for (const auto& c : cases) {
        const auto result = Run({"-l", c.address});
        EXPECT_EQ(result.exitCode, 1) << c.address;
        EXPECT_EQ(result.out, "") << c.address;
        if (!c.message.empty()) {
            EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        }
    }
    EXPECT_TRUE(save.Files().empty());
}

// The window and the CLI pick the site from the typed address; each address must reach
// a registered album-list adapter, and the sub-kind it leaves a photo-list adapter.
TEST(CommunityAddresses, EveryAddressReachesItsAdapters) {
    RegisterAllSites();
    const PageReader duitangPage = [](const std::string&) -> std::optional<std::string> {
        return "<div class=\"dt-header-btm\"><a href=\"/people/?user_id=77\">";
    };
    const std::vector<std::pair<std::string, int>> addresses = {
        {"https://i.56.com/u/photo/album/index.php?user=bob", 5},
        {"https://my.poco.cn/album/album_list.htx&user_id=42", 6},
        {"https://my.poco.cn/id-42.shtml", 6},
        {"https://bob.yupoo.com/", 7},
        {"https://home.51.com/carol", 8},
        {"https://www.duitang.com/people/?user_id=77", 18},
        {"https://huaban.com/boards/900/", 18},
    };
    for (const auto& [address, site] : addresses) {
        const auto guess = SiteForAddress(address);
        ASSERT_TRUE(guess) << address;
        EXPECT_EQ(guess->site, site) << address;
        const ListPlan plan = Classify(site, 0, address, duitangPage);
        ASSERT_EQ(plan.chain.size(), 1u) << address;
        EXPECT_NE(FindAlbumLister(plan.chain[0].lister), nullptr) << address;
        const auto photos = ChoosePhotoListers(site, plan.chain[0].subKind).chain;
        ASSERT_EQ(photos.size(), 1u) << address;
        EXPECT_NE(FindPhotoLister(photos[0]), nullptr) << address;
    }
    EXPECT_EQ(Classify(8, 0, "https://home.51.com/carol/photo", duitangPage).input, "carol")
        << "an https address gives the user too";
}

}  // namespace
}  // namespace brenvik
