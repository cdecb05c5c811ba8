// The paging loops, address rewrites and address rules of ZOL albums, PChome, moko,
// babytree, PConline, Hupu and Instagram, with pages from a fake page source.
#include <map>

#include <gtest/gtest.h>

#include "app/AddressRule.h"
#include "app/Classify.h"
#include "download/ListTypes.h"
#include "sites/AdapterKit.h"
#include "sites/Babytree.h"
#include "sites/Hupu.h"
#include "sites/Instagram.h"
#include "sites/Pchome.h"
#include "sites/Pconline.h"
#include "sites/Sites.h"
#include "sites/Zol.h"
#include "support/PagesByAddress.h"

namespace brenvik {
namespace {

std::string PageAddress(int page) {
    return "p" + std::to_string(page);
}

// Items of a fake page are written "[key]"; the handler takes each fresh one.
struct Taker {
    std::vector<std::string> taken;
    std::size_t stopAfter = 0;  // 0: never stop
    PageHandler Handler() {
        return [this](const std::string& text, int, SeenKeys& keys) {
            for (std::size_t at = text.find('['); at != std::string::npos;
                 at = text.find('[', at + 1)) {
                const std::string key = text.substr(at + 1, text.find(']', at) - at - 1);
                if (keys.Add(key)) {
                    taken.push_back(key);
                    if (stopAfter && taken.size() == stopAfter) {
                        return false;
                    }
                }
            }
            return true;
        };
    }
};

TEST(MarkedPages, FollowTheMarkerUntilItIsMissing) {
    test::PagesByAddress fake;
    fake.pages = {{"p1", "[a][b] next>"}, {"p2", "[c] next>"}, {"p3", "[d]"}, {"p4", "[e]"}};
    Taker taker;
    WalkMarkedPages(fake.Source(), PageAddress, {"other", "next>"}, taker.Handler());
    EXPECT_EQ(taker.taken, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(fake.asked, (std::vector<std::string>{"p1", "p2", "p3"}));
}

TEST(MarkedPages, RepeatedPagesEndTheWalk) {
    // A service that answers every page number with the first page.
    test::PagesByAddress fake;
    Taker taker;
    std::vector<std::string> asked;
    WalkMarkedPages(
        [&](const std::string& address) -> std::optional<std::string> {
            asked.push_back(address);
            return "[a][b] next>";
        },
        PageAddress, {"next>"}, taker.Handler());
    EXPECT_EQ(taker.taken, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(asked.size(), 2u);

    // Two pages in turn: the third brings nothing new.
    asked.clear();
    Taker alternating;
    WalkMarkedPages(
        [&](const std::string& address) -> std::optional<std::string> {
            asked.push_back(address);
            return asked.size() % 2 ? "[a] next>" : "[b] next>";
        },
        PageAddress, {"next>"}, alternating.Handler());
    EXPECT_EQ(alternating.taken, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(asked.size(), 3u);
}

TEST(MarkedPages, FailuresEmptyPagesAndStops) {
    test::PagesByAddress fake;
    fake.pages = {{"p1", "[a] next>"}, {"p2", ""}, {"p3", "[c]"}};
    Taker taker;
    WalkMarkedPages(fake.Source(), PageAddress, {"next>"}, taker.Handler());
    EXPECT_EQ(taker.taken, std::vector<std::string>{"a"});
    EXPECT_EQ(fake.asked.size(), 2u);

    fake.asked.clear();
    fake.pages = {{"p1", "[a] next>"}};
    Taker failed;
    WalkMarkedPages(fake.Source(), PageAddress, {"next>"}, failed.Handler());
    EXPECT_EQ(fake.asked.size(), 2u) << "the missing page 2 is a failed fetch";

    fake.asked.clear();
    fake.pages = {{"p1", "[a][b] next>"}, {"p2", "[c]"}};
    Taker stopping;
    stopping.stopAfter = 1;
    WalkMarkedPages(fake.Source(), PageAddress, {"next>"}, stopping.Handler());
    EXPECT_EQ(stopping.taken, std::vector<std::string>{"a"});
    EXPECT_EQ(fake.asked.size(), 1u);
}

TEST(MarkedPages, WithoutMarkersPagesFollowWhileTheyBringSomething) {
    test::PagesByAddress fake;
    fake.pages = {{"p1", "[a]"}, {"p2", "[b][a]"}, {"p3", "{}"}, {"p4", "[z]"}};
    Taker taker;
    WalkMarkedPages(fake.Source(), PageAddress, {}, taker.Handler());
    EXPECT_EQ(taker.taken, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(fake.asked.size(), 3u);
}

TEST(CursorPages, EndOnMissingEmptyOrRepeatedCursor) {
    test::PagesByAddress fake;
    fake.pages = {{"first", "c1"}, {"next c1", "c2"}, {"next c2", "c1"}, {"next c9", "x"}};
    const auto walk = [&](const CursorHandler& handler) {
        fake.asked.clear();
        WalkCursorPages(
            fake.Source(), "first", [](const std::string& c) { return "next " + c; }, handler);
        return fake.asked;
    };
    const CursorHandler pageIsCursor = [](const std::string& text) { return text; };
    EXPECT_EQ(walk(pageIsCursor), (std::vector<std::string>{"first", "next c1", "next c2"}))
        << "c1 came back: the walk ends instead of circling";

    EXPECT_EQ(walk([](const std::string&) { return std::string(); }),
              std::vector<std::string>{"first"});
    EXPECT_EQ(walk([](const std::string&) { return std::nullopt; }),
              std::vector<std::string>{"first"});
    fake.pages["first"] = "c9";
    EXPECT_EQ(walk(pageIsCursor), (std::vector<std::string>{"first", "next c9", "next x"}))
        << "a failed fetch ends the walk";
}

TEST(GalleryRewrites, ZolDropsSizeFolderAndSuffix) {
    EXPECT_EQ(ZolFullSizeAddress("https://i.zol.com.cn/t_s120x90/g1/M00/abc_120x90.jpg"),
              "https://i.zol.com.cn/g1/M00/abc.jpg");
    EXPECT_EQ(ZolFullSizeAddress("https://i.zol.com.cn/g1/name_suffix.jpg"),
              "https://i.zol.com.cn/g1/name.jpg");
    // Without a "_" there is no suffix, and the address is the picture itself.
    EXPECT_EQ(ZolFullSizeAddress("https://i.zol.com.cn/g1/plain.jpg"),
              "https://i.zol.com.cn/g1/plain.jpg");
    EXPECT_EQ(ZolFullSizeAddress("https://i.zol.com.cn/t_s60x60/p.png"),
              "https://i.zol.com.cn/p.png");
    EXPECT_EQ(ZolFullSizeAddress(""), "");
}

TEST(GalleryRewrites, BabytreePictures) {
    EXPECT_EQ(BabytreeFullSizeAddress("https://p.babytree.com/foto3/thumbs/2015/a_sm.jpg"),
              "https://p.babytree.com/foto3/thumbs/2015/a_nb.jpg")
        << "pictures under foto3/thumbs/ keep their folder";
    EXPECT_EQ(BabytreeFullSizeAddress("https://p.babytree.com/thumbs/x/b_sm.jpg"),
              "https://p.babytree.com/photos/x/b_b.jpg");
}

TEST(GalleryRewrites, PchomePconlineHupu) {
    EXPECT_EQ(PchomeFullSizeAddress("ellen/a1/p1s.jpg"),
              "https://photo.pchome.com.tw/ellen/a1/p1.jpg");
    EXPECT_EQ(PconlineListPage("https://h/u/myphoto_dk1stp_n15.html", 3),
              "https://h/u/myphoto_p3_n15.html");
    EXPECT_EQ(HupuAlbumKey("https://my.hupu.com/bob/photo/a12-3.html"), "bob/photo/a12");
    EXPECT_EQ(HupuAlbumKey("/bob/photo/a11.html"), "bob/photo/a11");
    EXPECT_EQ(HupuUser("https://my.hupu.com/bob?x=1"), "bob");
    EXPECT_EQ(HupuUser("https://example.com/bob"), "");
}

TEST(GalleryRewrites, InstagramResolutionAndPhotoHost) {
    const std::string all =
        R"({"low_resolution":{"url":"https:\/\/h\/l.jpg","width":320},"thumbnail":{"url":"https:\/\/h\/t.jpg","width":150},"standard_resolution":{"url":"https:\/\/h\/s.jpg","width":640}})";
    EXPECT_EQ(InstagramItemPicture(all), "https://h/s.jpg");
    const std::string lowOnly = R"({"low_resolution":{"url":"https:\/\/h\/l.jpg","width":320}})";
    EXPECT_EQ(InstagramItemPicture(lowOnly), "https://h/l.jpg");
    const std::string lowAndThumb =
        R"({"thumbnail":{"url":"https:\/\/h\/t.jpg","width":150},"low_resolution":{"url":"https:\/\/h\/l.jpg","width":320}})";
    EXPECT_EQ(InstagramItemPicture(lowAndThumb), "https://h/l.jpg")
        << "a thumbnail never wins over a larger picture";
    EXPECT_EQ(InstagramItemPicture(R"({"thumbnail":{"url":"https:\/\/h\/t.jpg","w":1}})"),
              "https://h/t.jpg");
    EXPECT_EQ(InstagramItemPicture(R"({"caption":"x"})"), "");

    const std::string cdn = "https://scontent.instagram.com/hphotos-xaf1/t51/1.jpg";
    EXPECT_EQ(InstagramPhotoHostAddress(cdn, 1), cdn);
    EXPECT_EQ(InstagramPhotoHostAddress(cdn, 0),
              "https://photos-a.ak.instagram.com/hphotos-ak-xaf1/t51/1.jpg");
    EXPECT_EQ(InstagramPhotoHostAddress("https://h/s.jpg", 0), "https://h/s.jpg");
    EXPECT_EQ(std::string(kInstagramHeaders).size(), 178u);
}

// --- Address rules ---------------------------------------------------------------------

using L = AlbumLister;

class GalleryClassifyTest : public ::testing::Test {
  protected:
    ListPlan Of(int site, const std::string& text) {
        return Classify(site, 0, text, [this](const std::string& address) {
            asked.push_back(address);
            return std::optional<std::string>();
        });
    }
    static L Lister(const ListPlan& plan) { return plan.chain.at(0).lister; }
    std::vector<std::string> asked;
};

TEST_F(GalleryClassifyTest, ZolAlbumsPlainAndSecure) {
    for (const char* typed :
         {"http://bbs.zol.com.cn/dan/album_2.html", "https://bbs.zol.com.cn/dan/album_2.html"}) {
        const ListPlan plan = Of(9, typed);
        EXPECT_EQ(Lister(plan), L::ZolAlbums) << typed;
        EXPECT_EQ(plan.input, "dan") << typed;
        EXPECT_EQ(plan.chain[0].subKind, 0);
    }
    EXPECT_EQ(Lister(Of(9, "https://detail.zol.com.cn/1/2.html")), L::ShopItem);
    EXPECT_EQ(Of(9, "https://bbs.zol.com.cn/").message, "输入网址有误");
    EXPECT_EQ(Of(9, "https://www.zol.com/dan").message, "输入网址有误");
}

TEST_F(GalleryClassifyTest, PchomeMokoBabytree) {
    EXPECT_EQ(Of(10, "https://photo.pchome.com.tw/ellen*2?x").input, "ellen");
    EXPECT_EQ(Of(10, "https://photo.pchome.com.tw/").message, "输入网址有误");

    EXPECT_EQ(Of(12, "https://www.moko.cc/kate/").input, "https://www.moko.cc/post/kate/list.html");
    EXPECT_EQ(Of(12, "https://www.moko.cc/post/kate/category/1/3.html").input,
              "https://www.moko.cc/post/kate/category/1/3.html");
    EXPECT_EQ(Of(12, "https://moko.example/kate").message, "输入网址有误");

    const ListPlan plan = Of(13, "https://home.babytree.com/u42/photo");
    EXPECT_EQ(plan.input, "u42");
    ASSERT_EQ(plan.chain.size(), 2u);
    EXPECT_EQ(plan.chain[0].lister, L::BabytreeFirstForm);
    EXPECT_EQ(plan.chain[0].subKind, 0);
    EXPECT_EQ(plan.chain[1].lister, L::BabytreeSecondForm);
    EXPECT_EQ(plan.chain[1].subKind, 1);
    // Without "om/" the cut would leave "https:" as the user.
    EXPECT_EQ(Of(13, "https://babytree.cn/u42").message, "输入网址有误");
    EXPECT_EQ(Of(13, "https://home.babytree.com/").message, "输入网址有误");
}

TEST_F(GalleryClassifyTest, PconlineHupuInstagram) {
    EXPECT_EQ(Of(14, "https://photo.pconline.com.cn/pcuser/myphoto_p3_n15.html").input,
              "https://photo.pconline.com.cn/pcuser/myphoto_dk1stp_n15.html");
    EXPECT_EQ(Of(14, "https://photo.pconline.com.cn/pcuser/").input,
              "https://photo.pconline.com.cn/pcuser/myphoto_dk1stp_n15.html");
    // "_p" without a page number would make every list page the same address.
    EXPECT_EQ(Of(14, "https://photo.pconline.com.cn/pc_person/").message, "输入网址有误");

    EXPECT_EQ(Lister(Of(15, "https://my.hupu.com/bob")), L::HupuAlbums);
    EXPECT_EQ(Of(15, "https://my.hupu.com/bob/photo/a11.html").input,
              "https://my.hupu.com/bob/photo/a11.html");
    EXPECT_EQ(Of(15, "https://my.hupu.com/bo-b/photo/a11.html").message, "输入网址有误");
    EXPECT_EQ(Of(15, "https://my.hupu.com/").message, "输入网址有误");

    const ListPlan plan = Of(17, "https://www.instagram.com/someone/?hl=en");
    EXPECT_EQ(plan.input, "someone");
    EXPECT_EQ(plan.pageBase, "https://www.instagram");
    EXPECT_EQ(plan.autoDownload, AutoDownload::Always);
    EXPECT_EQ(Of(17, "https://www.instagram.com/").message, "输入网址有误");
    EXPECT_TRUE(asked.empty()) << "none of these rules fetches a page";
}

// Typing an address picks the site, whose listing and photo adapters are all registered.
TEST(GalleryReach, AddressesReachTheirAdapters) {
    RegisterAllSites();
    const struct {
        const char* address;
        int site;
        int subKind;
    } cases[] = {
        {"https://bbs.zol.com.cn/dan/", 9, 0},
        {"https://photo.pchome.com.tw/ellen", 10, -1},
        {"https://www.moko.cc/kate/", 12, -1},
        {"https://home.babytree.com/u42", 13, 0},
        {"https://photo.pconline.com.cn/pcuser/", 14, -1},
        {"https://my.hupu.com/bob", 15, -1},
        {"https://www.instagram.com/someone/", 17, -1},
    };
    for (const auto& c : cases) {
        const auto guess = SiteForAddress(c.address);
        ASSERT_TRUE(guess) << c.address;
        EXPECT_EQ(guess->site, c.site) << c.address;
        const ListPlan plan = Classify(c.site, 0, c.address, {});
        ASSERT_FALSE(plan.chain.empty()) << c.address;
        for (const auto& step : plan.chain) {
            EXPECT_NE(FindAlbumLister(step.lister), nullptr) << c.address;
            const auto photos = ChoosePhotoListers(c.site, step.subKind);
            ASSERT_EQ(photos.chain.size(), 1u) << c.address;
            EXPECT_NE(FindPhotoLister(photos.chain[0]), nullptr) << c.address;
        }
        EXPECT_EQ(plan.chain[0].subKind, c.subKind) << c.address;
    }
}

}  // namespace
}  // namespace brenvik
