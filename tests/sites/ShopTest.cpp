// Shop adapters against local servers playing 1688, Taobao/Tmall, JD and ZOL product
// pages (HTTPS, GBK where the shops send GBK) and their picture hosts (plain HTTP, since
// the shops hand out "//host/path" addresses that become "http:" ones), in-process and
// through the real brenvik-cli.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/DownloadJob.h"
#include "net/TextKit.h"
#include "settings/Settings.h"
#include "sites/AdapterKit.h"
#include "sites/Shop.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/RequestLog.h"
#include "support/SessionViews.h"
#include "support/SiteCliTest.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

constexpr int kSiteShops = 11;
constexpr int kSiteZol = 9;
constexpr int kSiteJd = 16;
constexpr const char* kJdItem = "https://item.jd.com/100.html";
// How a JD item page opens its thumbnail strip.
constexpr const char* kThumbStrip =
    "<ul class=\"sp"
    "ec-items\">";

std::string ImageBytes(const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(4096, 'i');
    return bytes;
}

void SendGbk(httplib::Response& res, const std::string& utf8) {
    res.set_content(ToGbk(utf8), "text/html; charset=gbk");
}

// --- Pages built from the shops' markers ------------------------------------------------

std::string OfferListPage(const std::vector<int>& offers, bool last) {
    std::string page =
        "<html><div class=\"company_compname\"><a href=\"/\">好物工厂</a></div>"
        "<div class=\"filters\">筛选</div><ul>";
    for (int offer : offers) {
        const std::string id = std::to_string(offer);
        page += "<li><div class=\"image\"><a href=\"//detail.1688.com/offer/" + id +
                ".html\" title=\"货品" + id + "\"><img load-src=\"//img.1688.com/cover" + id +
                ".jpg\"></a></div><div class=\"attributes\">x</div></li>";
    }
    page += "<li><div class=\"image\">an ad without attributes</div></li></ul>";
    page += last ? "<a class=\"next-disabled\">下一页</a>" : "<a class=\"next\">下一页</a>";
    return page +
           "<div class=\"common-tips\"><div class=\"image\"><div class=\"attributes\">"
           "<a href=\"//never\" title=\"never\"></a></div></div></html>";
}

std::string OfferPage(const std::string& id, bool urlForm) {
    std::string page =
        "<html><div class=\"chinaname hidden\"><a href=\"/\">好物工厂</a></div>"
        "<div class=\"box-img\"><img title=\"点击查看大图：货品" +
        id + "\"></div><div data-tfs-url=\"//img.1688.com/desc" + id + ".js\"></div>";
    if (urlForm) {
        page += "<i style=\"background:image:url(//img.1688.com/o" + id +
                "a.jpg)\"></i><i style=\"image:url(//img.1688.com/o" + id + "b.jpg)\"></i>";
    } else {
        page += "<script>{\"original\":\"//img.1688.com/o" + id +
                "a.jpg\",\"x\":1},{\"original\":\"https://img.1688.com/o" + id +
                "b.jpg\"},{\"original\":\"\"}</script>";
    }
    return page + "</html>";
}

std::string TaobaoListItem(const std::string& id, const std::string& name, int sales, bool dl) {
    const std::string link = "<a href=\"//item.taobao.com/item.htm?id=" + id + "\">";
    if (dl) {
        return "<dl class=\"item\">" + link + "<img lazyload=\"//img.taobao.com/c" + id +
               ".jpg\"></a><a target=\"_blank\" class=\"item-name\">" + name +
               "</a><span class=\"sale-num\">" + std::to_string(sales) + "</span></dl>";
    }
    return "<div class=\"item\">" + link + "<img src=\"//img.taobao.com/c" + id +
           ".jpg\"></a><a class=\"item-name\" href=\"#\">" + name + "</a><em>" +
           std::to_string(sales) + "</em></div>";
}

std::string TaobaoShopPage(int page) {
    std::string text = "<html><script>var shop={nickName:'小店',x:1};</script>排序：";
    if (page == 1) {
        text += TaobaoListItem("1", "连衣裙", 120, true) + TaobaoListItem("2", "短裙", 7, true);
        text += "<a href=\"?pageNum=2\">下一页</a>";
    } else {
        text += TaobaoListItem("3", "风衣", 9, false) + "<span>没有下一页</span>";
    }
    return text + "<button type=\"submit\">确定</button><dl class=\"item\">never</dl></html>";
}

std::string TaobaoItemPage(const std::string& id, bool withDescription = true) {
    std::string page = "<html><head><title>商品" + id +
                       "-淘宝网</title></head><script>var g_config={sellerNick:'小店',"
                       "defaultItemPrice':'12.50',x:1};";
    if (withDescription) {
        page += "descUrl:'//dsc.taobao.com/desc" + id + ".js',";
    }
    page += "</script><ul id=\"J_UlThumb\">";
    page += "<li><img src=\"//img.taobao.com/t" + id + "a.jpg_60x60.jpg\"></li>";
    page += "<li><img src=\"//img.taobao.com/spacer.gif\" lazyload=\"//img.taobao.com/t" + id +
            "b.jpg_60x60.jpg\"></li>";
    page += "</ul><img src=\"//img.taobao.com/not-a-thumb.jpg\"></html>";
    return page;
}

std::string JdItemPage(bool variants) {
    std::string page =
        "<html><script>desc: '//cd.jd.com/description/100',</script>"
        "<div id=\"product-intro\"><h1>京东手机</h1>"
        "<div id=\"summary-stock\">";
    if (variants) {
        page +=
            "<div class=\"item\"><a href=\"//item.jd.com/101.html\" title=\"红色\"></a></div>"
            "<div class=\"item\"><a href=\"#none\" title=\"售罄\"></a></div>"
            "<div class=\"item\"><a href=\"//item.jd.com/102.html\" title=\"蓝色\"></a></div>";
    }
    page += "<a class=\"btn-append\">加入购物车</a></div>" + std::string(kThumbStrip) +
            "<li><img src=\"//img.jd.com/n5/jfs/main1.jpg\"></li>"
            "<li><img src='//img.jd.com/s75x75_jfs/main2.jpg'></li></ul>"
            "<img src=\"//img.jd.com/n5/jfs/outside.jpg\"></div></html>";
    return page;
}

std::string JdVariantPage(const std::string& colour) {
    return std::string(kThumbStrip) + "<li><img src=\"//img.jd.com/n5/jfs/" + colour +
           ".jpg\"></li><li><img src=\"//img.jd.com/n9/jfs/shared.jpg\"></li></ul>";
}

std::string ZolProductPage(const std::string& title) {
    return "<html><h1 class=\"page-title\">" + title +
           "</h1><div class=\"content\"><div class=\"section\"><ul>"
           "<li><img src=\"https://img.zol.com.cn/p_120x90/a.jpg\"></li>"
           "<li><img src=\"x\"></li>"
           "<li><img src=\"https://img.zol.com.cn/p_120x90/b.jpg\"></li></ul>"
           "<a href=\"/Detail/RelativePro\"><li><img src=\"https://img.zol.com.cn/p/c.jpg\">"
           "</li></a></div></div></html>";
}

// --- The servers ------------------------------------------------------------------------

// Every host answers on both schemes: the shops' "//host/path" addresses become "http:"
// ones, typed addresses are https.
// Page requests are logged; picture and description requests are logged as host and path.
class ShopServers : public test::RequestLog {
  public:
    ShopServers() : secure_(/*https=*/true), plain_(/*https=*/false) {
        On("shop1.1688.com", "/page/offerlist.htm",
           [this](const httplib::Request& req, httplib::Response& res) {
               const std::string page = req.get_param_value("pageNum");
               Log("1688 list " + page + " " + req.get_param_value("showType"));
               const bool last = page != "1" && !repeatOfferPage;
               SendGbk(res, last ? OfferListPage({3}, true) : OfferListPage({1, 2}, false));
           });
        On("detail.1688.com", "*", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string id = req.path.substr(std::string("/offer/").size(), 1);
            Log("1688 offer " + id);
            if (id == "9") {
                SendGbk(res,
                        "<html>改版后的页面<div class=\"chinaname hidden\"><a href=\"/\">"
                        "好物工厂</a></div></html>");
                return;
            }
            SendGbk(res, OfferPage(id, id == "3"));
        });
        On("www.taobao.com", "/", [this](const httplib::Request&, httplib::Response& res) {
            Log("taobao home");
            res.set_content("<html>home</html>", "text/html");
        });
        On("shop.taobao.com", "/", [this](const httplib::Request& req, httplib::Response& res) {
            Log("taobao list " + req.get_param_value("pageNum") + " " +
                req.get_param_value("viewType"));
            SendGbk(res, TaobaoShopPage(std::stoi(req.get_param_value("pageNum"))));
        });
        On("s.taobao.com", "/search", [](const httplib::Request&, httplib::Response& res) {
            SendGbk(res, "<html>很抱歉，搜索到“<em>0</em>”个宝贝</html>");
        });
        On("item.taobao.com", "/item.htm",
           [this](const httplib::Request& req, httplib::Response& res) {
               const std::string id = req.get_param_value("id");
               Log("taobao item " + id);
               if (id == "6") {
                   SendGbk(res, "<script>var u='http://hws.m.taobao.com/item.htm';</script>");
                   return;
               }
               SendGbk(res, TaobaoItemPage(id, id != "8"));
           });
        On("hws.m.taobao.com", "/item.htm",
           [this](const httplib::Request& req, httplib::Response& res) {
               Log("package " + req.get_param_value("id"));
               SendGbk(res, TaobaoItemPage("p" + req.get_param_value("id")));
           });
        On("detail.tmall.com", "/item.htm",
           [this](const httplib::Request& req, httplib::Response& res) {
               Log("tmall item " + req.get_param_value("id"));
               SendGbk(res, TaobaoItemPage("t" + req.get_param_value("id")));
           });
        On("item.jd.com", "*", [this](const httplib::Request& req, httplib::Response& res) {
            Log("jd " + req.path);
            if (req.path == "/100.html") {
                SendGbk(res, JdItemPage(jdVariants));
            } else {
                SendGbk(res, JdVariantPage(req.path == "/101.html" ? "red" : "blue"));
            }
        });
        On("detail.zol.com.cn", "*", [](const httplib::Request& req, httplib::Response& res) {
            SendGbk(res, ZolProductPage(req.path == "/hostile.html" ? "../../逃出去:*?|" : "相机"));
        });
        for (const char* host : {"dsc.taobao.com", "cd.jd.com"}) {
            On(host, "*", [this, host](const httplib::Request& req, httplib::Response& res) {
                LogImage(host + req.path);
                res.set_content(
                    "var desc='<p><img src=\"https://img.zol.com.cn/d1.jpg\" />"
                    "<img class=\"x\" src=\\\"https:\\/\\/img.zol.com.cn\\/d2.jpg\\\">"
                    "<img src=\"https://img.zol.com.cn/d1.jpg\"></p>';",
                    "application/javascript");
            });
        }
        for (const char* host :
             {"img.1688.com", "img.taobao.com", "img.jd.com", "img.zol.com.cn"}) {
            On(host, "*", [this, host](const httplib::Request& req, httplib::Response& res) {
                LogImage(host + req.path);
                // The JD picture host wants the item page as Referer.
                if (std::string(host) == "img.jd.com" &&
                    req.get_header_value("Referer") != kJdItem) {
                    res.status = 403;
                    return;
                }
                res.set_content(ImageBytes(req.path), "image/jpeg");
            });
        }
    }

    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const std::string& host : hosts_) {
            routes.push_back(host + ":80:127.0.0.1:" + std::to_string(plain_.Port()));
            routes.push_back(host + ":443:127.0.0.1:" + std::to_string(secure_.Port()));
        }
        return routes;
    }

    std::atomic<bool> repeatOfferPage{false};
    std::atomic<bool> jdVariants{true};

  private:
    void On(const std::string& host, const std::string& path, const test::Handler& handler) {
        secure_.On(host, path, handler);
        plain_.On(host, path, handler);
        if (std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) {
            hosts_.push_back(host);
        }
    }

    test::TestServer secure_;
    test::TestServer plain_;
    std::vector<std::string> hosts_;
};

bool Has(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

std::u16string Utf16File(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE") {
        return u"(no byte-order mark)";
    }
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

// --- Rules without a server ---------------------------------------------------------------

TEST(ShopRules, PricePrefix) {
    EXPECT_EQ(TaobaoPricePrefix("12.50", true, 3), "价格15.50元_");
    EXPECT_EQ(TaobaoPricePrefix("12.50", true, 0), "价格12.50元_") << "the text as found";
    EXPECT_EQ(TaobaoPricePrefix("99", true, -10), "价格89.00元_");
    EXPECT_EQ(TaobaoPricePrefix("12.50", false, 3), "");
    EXPECT_EQ(TaobaoPricePrefix("", true, 3), "") << "no price found: no prefix";
}

TEST(ShopRules, JdPictureSizes) {
    EXPECT_EQ(JdFullSizeAddress("http://img.jd.com/s75x75_jfs/t1/a.jpg"),
              "http://img.jd.com/jfs/t1/a.jpg");
    EXPECT_EQ(JdFullSizeAddress("http://img.jd.com/n5/jfs/a.jpg"),
              "http://img.jd.com/n12/jfs/a.jpg");
    EXPECT_EQ(JdFullSizeAddress("http://img.jd.com/n9/jfs/a.jpg"),
              "http://img.jd.com/n12/jfs/a.jpg");
    EXPECT_EQ(JdFullSizeAddress("http:\"//img.jd.com/n1/a.jpg"), "http://img.jd.com/n1/a.jpg");
}

TEST(ShopRules, DescriptionPicturesInEveryQuoting) {
    const auto pictures = DescriptionPictures(
        "<p><img src=\"https://a/1.jpg\"><IMG src=x><img alt='x' src='//a/2.jpg'>"
        "<img src=\\\"https:\\/\\/a\\/3.jpg\\\"><img src=\"https://a/1.jpg\"><img src=\"\">"
        "<a href=\"https://a/4.jpg\">not a picture</a>");
    EXPECT_EQ(pictures,
              (std::vector<std::string>{"https://a/1.jpg", "//a/2.jpg", "https://a/3.jpg"}));
}

TEST(ShopRules, PriceSettingWords) {
    test::TempDir folder;
    const auto priceSetting = [&](const std::string& value) {
        std::ofstream(folder / "下载器扩展设置.ini", std::ios::binary)
            << "[淘宝]\r\n图片名中是否有价格=" << value << "\r\n";
        return ReadExtendedSettings(folder.Path()).priceInNames;
    };
    EXPECT_TRUE(priceSetting("有"));
    EXPECT_TRUE(priceSetting("图片名中有价格")) << "containing 有 is enough";
    EXPECT_FALSE(priceSetting("没有"));
    EXPECT_FALSE(priceSetting("无"));
}

// --- In-process listings and downloads --------------------------------------------------

class ShopTest : public ::testing::Test {
  protected:
    ShopTest() : session(home.Path(), front) {
        RegisterAllSites();
        SetAdapterPauseHook([this](std::chrono::milliseconds time) {
            std::lock_guard lock(pauseMutex);
            pauses.push_back(time.count());
        });
        session.ready = true;
    }
    ~ShopTest() override { SetAdapterPauseHook(nullptr); }

    ListJobOutcome List(int site, const std::string& text) {
        PrepareListing(session, site);
        return GetListFunc(session, text, 0);
    }
    std::vector<std::string> Names() { return test::AlbumNames(session); }
    std::vector<std::string> FileNames() { return test::RowFileNames(session); }
    void SetOption(int site, unsigned bit) {
        SaveOptions rules = session.SaveRules(site);
        rules.flags = static_cast<std::uint16_t>(rules.flags | bit);
        session.SetSaveRules(site, rules);
    }
    void WriteExtended(const std::string& text) {
        std::ofstream(home / "下载器扩展设置.ini", std::ios::binary) << text;
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    ShopServers servers;
    test::LocalRouting routing{servers.Routes()};
    std::mutex pauseMutex;
    std::vector<long long> pauses;
};

TEST_F(ShopTest, OfferListOverPagesThenPictures) {
    ASSERT_EQ(List(kSiteShops, "https://shop1.1688.com/page/offerlist.htm?pageNum=5#top").albums,
              3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"货品1", "货品2", "货品3"}));
    EXPECT_EQ(session.OwnerName(), "好物工厂");
    const auto first = session.albums.At(0);
    EXPECT_EQ(first->key, "http://detail.1688.com/offer/1.html") << "completed with http:";
    EXPECT_EQ(first->coverUrl, "http://img.1688.com/cover1.jpg") << "covers too";
    EXPECT_EQ(servers.Logged(),
              (std::vector<std::string>{"1688 list 1 window", "1688 list 2 window"}))
        << "the typed page number gives way to the adapter's own, and next-disabled ends";

    RunDownloadJob(session, {0, 2}, save.Path().string());
    EXPECT_TRUE(Has(servers.Logged(), "1688 offer 1")) << "a list row's key is fetched";
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品1" / "主图_1.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品1" / "主图_2.jpg"));
    // The "image:url(" form, without its closing parenthesis.
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品3" / "主图_2.jpg"));
    EXPECT_TRUE(Has(servers.Images(), "img.1688.com/o3a.jpg"));
    EXPECT_FALSE(Has(servers.Images(), "img.1688.com/o3a.jpg)"));
}

TEST_F(ShopTest, RepeatedOfferPageEndsThePaging) {
    servers.repeatOfferPage = true;
    EXPECT_EQ(List(kSiteShops, "https://shop1.1688.com/").albums, 2);
    EXPECT_EQ(servers.Logged().size(), 2u) << "the second page brought nothing new";
}

TEST_F(ShopTest, SingleOfferIsKeptAndDownloadsAtOnce) {
    const auto outcome = List(kSiteShops, "https://detail.1688.com/offer/2.html");
    ASSERT_EQ(outcome.albums, 1);
    EXPECT_TRUE(outcome.autoDownload);
    EXPECT_EQ(Names(), std::vector<std::string>{"货品2"}) << "without the 点击查看大图： lead";
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(servers.Logged(), std::vector<std::string>{"1688 offer 2"}) << "the kept page serves";
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"主图_1.jpg", "主图_2.jpg"}))
        << "an empty original address is passed over";

    // A shop listed afterwards must not inherit the offer's kept page.
    ASSERT_EQ(List(kSiteShops, "https://shop1.1688.com/").albums, 3);
    RunDownloadJob(session, {2}, save.Path().string());
    EXPECT_TRUE(Has(servers.Logged(), "1688 offer 3"));
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品3" / "主图_1.jpg"));
}

TEST_F(ShopTest, UnreadableOfferPageGoesToLogFile) {
    ASSERT_EQ(List(kSiteShops, "https://detail.1688.com/offer/9.html").albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    const auto logFile = home / "log.err";
    ASSERT_EQ(front.messages.size(), 1u);
    EXPECT_EQ(front.messages[0],
              "获取信息出错(2),请将" + logFile.string() + "文件发给作者,以便修改");
    EXPECT_NE(Utf16File(logFile).find(u"改版后的页面"), std::u16string::npos);
    EXPECT_EQ(session.downloads.Size(), 0u);
}

TEST_F(ShopTest, TaobaoShopInBothLayouts) {
    ASSERT_EQ(List(kSiteShops, "https://shop.taobao.com/shop/view.htm").albums, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"连衣裙", "短裙", "风衣"}));
    EXPECT_EQ(session.OwnerName(), "小店");
    EXPECT_EQ(session.albums.At(0)->number2, 120);
    EXPECT_EQ(session.albums.At(2)->number2, 9);
    EXPECT_EQ(session.albums.At(0)->coverUrl, "http://img.taobao.com/c1.jpg");
    EXPECT_EQ(session.albums.At(2)->coverUrl, "http://img.taobao.com/c3.jpg");
    EXPECT_EQ(session.albums.At(0)->key, "http://item.taobao.com/item.htm?id=1");
    EXPECT_EQ(servers.Logged(), (std::vector<std::string>{"taobao home", "taobao list 1 grid",
                                                          "taobao list 2 grid"}));
}

TEST_F(ShopTest, SearchWithoutResults) {
    EXPECT_EQ(List(kSiteShops, "https://s.taobao.com/search?q=x").albums, 0);
    ASSERT_EQ(front.messages.size(), 1u) << "the hint and the note go in one message";
    EXPECT_TRUE(front.messages[0].starts_with(
        std::string("没有获取到宝贝，请确认输入的是淘宝/天猫店铺网址或宝贝网址") + "\n\n"))
        << front.messages[0];
    EXPECT_NE(front.messages[0].find("网站可能已改版"), std::string::npos)
        << "a results page without items is kept as a changed one would be";
}

TEST_F(ShopTest, ItemPicturesWithPricesInNames) {
    WriteExtended("[淘宝]\r\n图片名中是否有价格=有\r\n价格增减=3\r\n");
    ASSERT_EQ(List(kSiteShops, "https://detail.tmall.com/item.htm?id=5").albums, 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"商品t5"});
    EXPECT_EQ(session.OwnerName(), "小店");
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(FileNames(),
              (std::vector<std::string>{"价格15.50元_主图_1.jpg", "价格15.50元_主图_2.jpg"}));
    // Full pictures only: the size suffix is cut, and nothing outside the strip is taken.
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"img.taobao.com/tt5a.jpg", "img.taobao.com/tt5b.jpg"}));
}

TEST_F(ShopTest, PackageItemIsReadFromThePackageHost) {
    ASSERT_EQ(List(kSiteShops, "https://item.taobao.com/item.htm?id=6").albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_TRUE(Has(servers.Logged(), "package 6"));
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"img.taobao.com/tp6a.jpg", "img.taobao.com/tp6b.jpg"}));
}

TEST_F(ShopTest, ItemPageWithoutDescriptionMarkGoesToLogFile) {
    ASSERT_EQ(List(kSiteShops, "https://item.taobao.com/item.htm?id=8").albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(front.messages,
              std::vector<std::string>{"获取信息出错(2),请将" + (home / "log.err").string() +
                                       "文件发给作者,以便修改"});
    EXPECT_TRUE(servers.Images().empty());
}

TEST_F(ShopTest, DescriptionOptionTakesTheDescriptionsPictures) {
    SetOption(kSiteShops, kFlagShopDescriptionImages);
    ASSERT_EQ(List(kSiteShops, "https://item.taobao.com/item.htm?id=4").albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"描述_1.jpg", "描述_2.jpg"}));
    EXPECT_EQ(servers.Images(),
              (std::vector<std::string>{"dsc.taobao.com/desc4.js", "img.zol.com.cn/d1.jpg",
                                        "img.zol.com.cn/d2.jpg"}))
        << "main pictures are not fetched";

    SetOption(kSiteJd, kFlagShopDescriptionImages);
    ASSERT_EQ(List(kSiteJd, kJdItem).albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"描述_1.jpg", "描述_2.jpg"}));
    EXPECT_TRUE(Has(servers.Images(), "cd.jd.com/description/100"));
}

TEST_F(ShopTest, JdColourVariantsWithReferer) {
    ASSERT_EQ(List(kSiteJd, kJdItem).albums, 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"京东手机"});
    EXPECT_EQ(session.OwnerName(), "京东");
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(FileNames(),
              (std::vector<std::string>{"红色_主图_1.jpg", "红色_主图_2.jpg", "蓝色_主图_1.jpg"}))
        << "the shared picture once; the sold-out colour is passed over";
    EXPECT_EQ(session.downloads.Row(1).url, "http://img.jd.com/n12/jfs/shared.jpg");
    EXPECT_EQ(pauses, (std::vector<long long>{2000, 2000}));
    EXPECT_TRUE(std::filesystem::exists(save / "京东" / "京东手机" / "蓝色_主图_1.jpg"))
        << "the picture host refuses requests without the item as Referer";
}

TEST_F(ShopTest, JdWithoutVariantsTakesTheItemsStrip) {
    WriteExtended("[京东]\r\n图片获取方式=0\r\n");
    ASSERT_EQ(List(kSiteJd, kJdItem).albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"主图_1.jpg", "主图_2.jpg"}));
    EXPECT_EQ(servers.Images(), (std::vector<std::string>{"img.jd.com/jfs/main2.jpg",
                                                          "img.jd.com/n12/jfs/main1.jpg"}));
    EXPECT_TRUE(pauses.empty());
}

TEST_F(ShopTest, ZolProductUnderBothSites) {
    for (const int site : {kSiteZol, kSiteJd}) {
        ASSERT_EQ(List(site, "https://detail.zol.com.cn/cam/1.html#top").albums, 1) << site;
        EXPECT_EQ(session.OwnerName(), "Zol");
        RunDownloadJob(session, {0}, save.Path().string());
        EXPECT_EQ(session.downloads.Size(), 2u) << "short addresses and related products left out";
        EXPECT_EQ(session.downloads.Row(0).url, "https://img.zol.com.cn/p/a.jpg");
    }
    EXPECT_EQ(save.Files().size(), 3u) << "two pictures and the download record, once";
}

TEST_F(ShopTest, HostileProductNameStaysInside) {
    ASSERT_EQ(List(kSiteJd, "https://detail.zol.com.cn/hostile.html").albums, 1);
    RunDownloadJob(session, {0}, save.Path().string());
    const auto files = save.Files();
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        EXPECT_EQ(file.find(".."), std::string::npos) << file;
        EXPECT_TRUE(file.starts_with("Zol/")) << file;
    }
}

// --- Through the real command line ------------------------------------------------------

class ShopCliTest : public test::SiteCliTest<ShopServers> {
  protected:
};

TEST_F(ShopCliTest, ShopListAndTwoItems) {
    const auto result =
        test::RunProcess(Command({"-a", "1,3", "https://shop1.1688.com/page/offerlist.htm"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0001\t货品1\t未知\t\n0002\t货品2\t未知\t\n0003\t货品3\t未知\t\n");
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品1" / "主图_2.jpg"));
    EXPECT_TRUE(std::filesystem::exists(save / "好物工厂" / "货品3" / "主图_2.jpg"));
    EXPECT_FALSE(std::filesystem::exists(save / "好物工厂" / "货品2"));
}

TEST_F(ShopCliTest, TaobaoShopAndJdItem) {
    auto result = test::RunProcess(Command({"-a", "2", "https://shop.taobao.com/"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(save / "小店" / "短裙" / "主图_1.jpg"));

    result = test::RunProcess(Command({"-s", "16", kJdItem}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(save / "京东" / "京东手机" / "红色_主图_2.jpg"));
}

TEST_F(ShopCliTest, ZolProductUnderBothSitesAndUnreadablePage) {
    for (const char* site : {"9", "16"}) {
        const auto result =
            test::RunProcess(Command({"-s", site, "https://detail.zol.com.cn/cam/1.html"}));
        EXPECT_EQ(result.exitCode, 0) << site << result.err;
    }
    EXPECT_EQ(save.Files().size(), 3u) << "two pictures and the download record, once";
    const auto result = test::RunProcess(Command({"https://detail.1688.com/offer/9.html"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("获取信息出错(2),请将" + (home / "data" / "log.err").string()),
              std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace brenvik
