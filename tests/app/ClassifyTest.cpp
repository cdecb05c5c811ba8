#include "app/Classify.h"

#include <map>

#include <gtest/gtest.h>

#include "app/AddressRule.h"
#include "support/PagesByAddress.h"

namespace brenvik {
namespace {

using L = AlbumLister;

class ClassifyTest : public ::testing::Test {
  protected:
    ListPlan Of(int site, const std::string& text, int sub = 0) {
        return Classify(site, sub, text, fetcher.Source());
    }
    static std::vector<L> Listers(const ListPlan& plan) {
        std::vector<L> ids;
        for (const auto& step : plan.chain) {
            ids.push_back(step.lister);
        }
        return ids;
    }
    test::PagesByAddress fetcher;
};

TEST_F(ClassifyTest, QzoneNumbers) {
    auto plan = Of(0, "https://user.qzone.qq.com/12345?x=1");
    EXPECT_EQ(plan.input, "12345");
    EXPECT_EQ(Listers(plan), (std::vector{L::QzoneV2, L::QzoneV3}));
    EXPECT_EQ(plan.chain[0].subKind, 0);
    EXPECT_TRUE(plan.noAlbumMessage.starts_with("没有获取到相册，原因如下："));
    EXPECT_EQ(Of(0, "12345").input, "12345");
    plan = Of(0, "12a45");
    EXPECT_TRUE(plan.chain.empty());
    EXPECT_EQ(plan.message, "请直接输入QQ号进行下载");
    // With the sub-selector on Qzone albums, a Tencent Weibo address is still a Qzone input.
    EXPECT_EQ(Of(0, "http://t.qq.com/someone", 0).message, "请直接输入QQ号进行下载");
}

TEST_F(ClassifyTest, TencentWeiboAndQqGroups) {
    auto plan = Of(0, "http://t.qq.com/someone?from=1", 1);
    EXPECT_EQ(Listers(plan), std::vector{L::TweiboAlbums});
    EXPECT_EQ(plan.chain[0].subKind, 2);
    EXPECT_EQ(plan.input, "someone");
    EXPECT_EQ(plan.ownerName, "someone");
    EXPECT_EQ(Of(0, "http://p.t.qq.com/photo/someone/x", 2).input, "someone");

    plan = Of(0, "http://qun.qq.com/#!/98765/album?x", 1);
    EXPECT_EQ(Listers(plan), std::vector{L::QqGroupAlbums});
    EXPECT_EQ(plan.chain[0].subKind, 1);
    EXPECT_EQ(plan.input, "98765");
    EXPECT_EQ(plan.ownerName, "98765");
}

TEST_F(ClassifyTest, TiebaAndBaidu) {
    auto plan = Of(1, "http://tieba.baidu.com/f?kw=%E7%8C%AB&ie=utf-8");
    EXPECT_EQ(Listers(plan), std::vector{L::TiebaForumAlbums});
    EXPECT_EQ(plan.input, "%E7%8C%AB");
    EXPECT_EQ(plan.pageBase, "%E7%8C%AB");
    EXPECT_EQ(plan.ownerAfter, OwnerAfter::TiebaKeyword);

    fetcher.pages["http://tieba.baidu.com/p/4242?pn=2"] = "<a href=\"/f?kw=%E7%8C%AB\">";
    plan = Of(1, "http://tieba.baidu.com/p/4242?pn=2");
    EXPECT_EQ(Listers(plan), std::vector{L::TiebaPostAlbum});
    EXPECT_EQ(plan.chain[0].subKind, 2);
    EXPECT_EQ(plan.input, "https://tieba.baidu.com/photo/p?kw=%E7%8C%AB&fp=1&tid=4242");
    EXPECT_EQ(plan.autoDownload, AutoDownload::ExactlyOne);

    plan = Of(1, "http://tieba.baidu.com/photo/p?kw=x&tid=9");
    EXPECT_EQ(plan.input, "http://tieba.baidu.com/photo/p?kw=x&tid=9");
    EXPECT_EQ(Listers(plan), std::vector{L::TiebaPostAlbum});

    plan = Of(1, "http://xiangce.baidu.com/u/someone/albums?x");
    EXPECT_EQ(Listers(plan), std::vector{L::BaiduAlbums});
    EXPECT_EQ(plan.input, "someone");
    EXPECT_TRUE(fetcher.asked.size() == 1);

    fetcher.pages["http://xiangce.baidu.com/home"] = "<a href=\"/profile/u/owner7?x\">";
    EXPECT_EQ(Of(1, "http://xiangce.baidu.com/home").input, "owner7");
    // A page that cannot be fetched ends the job quietly.
    plan = Of(1, "http://xiangce.baidu.com/nowhere");
    EXPECT_TRUE(plan.chain.empty());
    EXPECT_TRUE(plan.message.empty());
}

TEST_F(ClassifyTest, NeteaseRenrenSina) {
    // The community is its own domain; the album host's addresses are plain NetEase albums.
    EXPECT_EQ(Listers(Of(2, "http://pp.163.com/user/pp/1.html")),
              std::vector{L::NeteaseCommunityAlbums});
    EXPECT_EQ(Of(2, "http://user.pp.163.com/").chain[0].subKind, 1);
    EXPECT_EQ(Listers(Of(2, "http://photo.163.com/user/")), std::vector{L::NeteaseAlbums});
    EXPECT_EQ(Listers(Of(2, "http://someone.blog.163.com/")), std::vector{L::NeteaseAlbums});
    EXPECT_EQ(Of(2, "http://someone.blog.163.com/").chain[0].subKind, -1);

    auto plan = Of(3, "http://photo.renren.com/photo/1/album-2/v7?x=1");
    EXPECT_EQ(Listers(plan), std::vector{L::RenrenV7Albums});
    EXPECT_EQ(plan.input, "http://photo.renren.com/photo/1/album-2/v7");
    EXPECT_EQ(Listers(Of(3, "http://photo.renren.com/photo/1/album-2")),
              std::vector{L::RenrenAlbumPage});
    plan = Of(3, "http://zhan.renren.com/tag");
    EXPECT_EQ(Listers(plan), std::vector{L::RenrenZhanAlbums});
    EXPECT_EQ(plan.chain[0].subKind, 10);
    plan = Of(3, "http://www.renren.com/profile.do?id=123456");
    EXPECT_EQ(plan.input, "123456");
    EXPECT_EQ(Listers(plan), (std::vector{L::RenrenV7Albums, L::RenrenAlbumPage}));
    fetcher.pages["https://page.renren.com/brand"] = "var x = {pid: '600001'};";
    plan = Of(3, "http://page.renren.com/brand/photos");
    EXPECT_EQ(plan.input, "600001");
    EXPECT_EQ(Listers(plan), (std::vector{L::RenrenPublicPage, L::RenrenV7Albums}));
    fetcher.pages["https://www.renren.com/nick"] = "profile_owner = 777 ;";
    EXPECT_EQ(Of(3, "http://www.renren.com/nick").input, "777");

    plan = Of(4, "http://blog.sina.com.cn/s/blog_abc_01.html");
    EXPECT_EQ(Listers(plan), std::vector{L::SinaBlogArticles});
    EXPECT_EQ(plan.input, "http://blog.sina.com.cn/s/blog_abc");
    EXPECT_EQ(Listers(Of(4, "http://weibo.com/u/1")), std::vector{L::WeiboAlbums});
    EXPECT_EQ(Listers(Of(4, "http://blog.sina.com.cn/u/1")), std::vector{L::SinaBlogPhotos});
    EXPECT_EQ(Of(4, "http://weibo.com/u/1").noAlbumMessage,
              "没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录");
}

TEST_F(ClassifyTest, GallerySites) {
    EXPECT_EQ(Of(5, "http://i.56.com/photo/album/index.php?user=bob&x").input,
              "https://photo.56.com/photo/album/index.php?user=bob&perPage=20");
    auto plan = Of(6, "http://my.poco.cn/album/album_list.htx&user_id=42&p=2");
    EXPECT_EQ(Listers(plan), std::vector{L::PocoAlbums});
    EXPECT_EQ(plan.input, "42");
    plan = Of(6, "http://my.poco.cn/act/act_list.htx&user_id=42&p=3");
    EXPECT_EQ(Listers(plan), std::vector{L::PocoActivityList});
    EXPECT_EQ(plan.input, "http://my.poco.cn/act/act_list.htx&user_id=42&zvt=3");
    EXPECT_EQ(Of(6, "http://my.poco.cn/id-42.shtml").input,
              "https://www.poco.cn/act/act_list.htx&user_id=42&act_type_id=0");

    EXPECT_EQ(Of(7, "http://bob.v.yupoo.com/collections").input,
              "https://v.yupoo.com/photos/bob/albums/");
    EXPECT_EQ(Of(7, "http://www.yupoo.com/photos/bob/albums/page2").input,
              "http://www.yupoo.com/photos/bob/albums/");
    EXPECT_EQ(Of(7, "http://bob.yupoo.com").input, "https://www.yupoo.com/photos/bob/albums/");
    EXPECT_EQ(Of(8, "http://photo.51.com/carol/albums").input, "carol");
    EXPECT_EQ(Of(18, "http://huaban.com/user/x").message,
              "请输入花瓣画板的网址\n(网址中含有/boards/)");
    plan = Of(18, "http://huaban.com/boards/123/");
    EXPECT_EQ(Listers(plan), std::vector{L::HuabanBoard});
    EXPECT_EQ(plan.autoDownload, AutoDownload::Always);

    fetcher.pages["http://www.duitang.com/album/?id=55"] =
        "<div user_id=\"1\"></div><div class=\"dt-header-btm\"><a "
        "href=\"/people/?user_id=9876?x\">";
    plan = Of(18, "http://www.duitang.com/album/?id=55");
    EXPECT_EQ(Listers(plan), std::vector{L::DuitangAlbums});
    EXPECT_EQ(plan.input, "9876");
    EXPECT_EQ(plan.extra, "55");
    EXPECT_EQ(plan.ownerName, "堆糖_9876");
    EXPECT_EQ(plan.autoDownload, AutoDownload::Always);
    fetcher.pages["http://www.duitang.com/people/"] = "<div class=\"dt-header-btm\">nobody</div>";
    EXPECT_EQ(Of(18, "http://www.duitang.com/people/").message,
              "没有找到堆糖用户\n请输入堆糖用户主页或专辑的网址");

    EXPECT_EQ(Of(19, "http://bob.lofter.com/post/1d_2").input, "http://bob.lofter.com/");
    EXPECT_EQ(Of(19, "http://bob.lofter.com").input, "http://bob.lofter.com/");
    EXPECT_EQ(Of(20, "http://www.topit.me/user/5/albums?p=1").input, "http://www.topit.me/user/5");
    EXPECT_EQ(Of(20, "http://www.topit.me/album/9/item/3").input, "http://www.topit.me/album/9");
}

TEST_F(ClassifyTest, PhotoSitesTwo) {
    auto plan = Of(9, "http://detail.zol.com.cn/123/456.html#top");
    EXPECT_EQ(Listers(plan), std::vector{L::ShopItem});
    EXPECT_EQ(plan.input, "http://detail.zol.com.cn/123/456.html");
    EXPECT_EQ(plan.autoDownload, AutoDownload::ExactlyOne);
    EXPECT_EQ(Of(9, "http://bbs.zol.com.cn/dan/photos").input, "dan");
    EXPECT_EQ(Of(10, "http://photo.pchome.com.tw/ellen/album?x").input, "ellen");
    EXPECT_EQ(Of(12, "http://www.moko.cc/kate/index.html").input,
              "https://www.moko.cc/post/kate/list.html");
    EXPECT_EQ(Of(12, "http://www.moko.cc/post/kate/list.html").input,
              "http://www.moko.cc/post/kate/list.html");
    plan = Of(13, "http://www.babytree.com/u1234/photo&x");
    EXPECT_EQ(plan.input, "u1234");
    ASSERT_EQ(plan.chain.size(), 2u);
    EXPECT_EQ(plan.chain[1].lister, L::BabytreeSecondForm);
    EXPECT_EQ(plan.chain[1].subKind, 1);
    EXPECT_EQ(Of(14, "http://photo.pconline.com.cn/x_p3_y.html").input,
              "http://photo.pconline.com.cn/x_dk1stp_y.html");
    EXPECT_EQ(Of(14, "http://my.pconline.com.cn/photo/album.html").input,
              "http://my.pconline.com.cn/photo/album_dk1stp_n15.html");
    EXPECT_EQ(Of(14, "http://someone.pconline.com.cn/abc/def").input,
              "https://photo.pconline.com.cn/abc/myphoto_dk1stp_n15.html");
    EXPECT_EQ(Of(15, "http://my.hupu.com/x").noAlbumMessage,
              "请先在登录菜单里登录虎扑帐号后重试(登录时勾上下次自动登录)");
}

TEST_F(ClassifyTest, Shops) {
    auto plan = Of(11, "http://shop1.taobao.com/#anchor");
    EXPECT_EQ(plan.input, "http://shop1.taobao.com/?search=y");
    EXPECT_EQ(Listers(plan), std::vector{L::TaobaoShop});
    EXPECT_EQ(plan.autoDownload, AutoDownload::ExactlyOne);
    EXPECT_EQ(Of(11, "http://shop1.taobao.com/search.htm?pageNum=2&viewType=grid").input,
              "http://shop1.taobao.com/search.htm?Zvt1=2&Zvt2=grid");
    EXPECT_EQ(Of(11, "http://item.taobao.com/item.htm").input, "http://item.taobao.com/item.htm?");
    plan = Of(11, "http://abc.1688.com/");
    EXPECT_EQ(Listers(plan), std::vector{L::Shop1688});
    EXPECT_EQ(plan.input, "http://abc.1688.com/page/offerlist.htm?");
    EXPECT_EQ(Of(11, "http://detail.1688.com/offer/1.html").input,
              "http://detail.1688.com/offer/1.html");
    EXPECT_EQ(Of(11, "http://abc.1688.com/page/offerlist.htm?pageNum=3&showType=x").input,
              "http://abc.1688.com/page/offerlist.htm?Zvt1=3&Zvt2=x");

    EXPECT_EQ(Listers(Of(16, "http://item.jd.com/100.html")), std::vector{L::JdItem});
    EXPECT_EQ(Listers(Of(16, "http://detail.zol.com.cn/1.html")), std::vector{L::ShopItem});
    EXPECT_EQ(Of(16, "http://www.jd.com/").message, "请输入京东商品网址或ZOL商品网址");

    plan = Of(17, "https://www.instagram.com/someone/?hl=en");
    EXPECT_EQ(plan.input, "someone");
    EXPECT_EQ(plan.pageBase, "https://www.instagram");
    EXPECT_EQ(plan.autoDownload, AutoDownload::Always);
}

TEST(AddressRule, FragmentsInOrder) {
    EXPECT_FALSE(SiteForAddress("12345"));
    EXPECT_FALSE(SiteForAddress("http://unknown.example/"));
    EXPECT_EQ(SiteForAddress("http://detail.zol.com.cn/1.html")->site, 9);
    EXPECT_EQ(SiteForAddress("http://user.qzone.qq.com/12345")->site, 0);
    EXPECT_EQ(SiteForAddress("http://user.qzone.qq.com/12345")->subSelector, 0);
    EXPECT_EQ(SiteForAddress("http://t.qq.com/bob")->subSelector, 2);
    EXPECT_EQ(SiteForAddress("http://qun.qq.com/#!/1")->subSelector, 1);
    // The QQ domain with a slash beside the NetEase one does not pick QQ.
    EXPECT_EQ(SiteForAddress("http://photo.163.com/x?from=qq.com/")->site, 2);
    EXPECT_EQ(SiteForAddress("https://www.instagram.com/x")->site, 17);
    EXPECT_EQ(SiteForAddress("http://www.duitang.com/x")->site, 18);
    EXPECT_EQ(SiteForAddress("http://www.topit.me/x")->site, 20);
    EXPECT_EQ(SiteForAddress("http://shop.tmall.com/x")->site, 11);
    EXPECT_EQ(SiteForAddress("http://weibo.com/x")->site, 4);
    // A fragment at the very start does not count.
    EXPECT_FALSE(SiteForAddress("qq.com/ http://x"));
}

}  // namespace
}  // namespace brenvik
