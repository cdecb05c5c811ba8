// The gallery adapters' paging, end rules and address rewrites, with pages handed to
// them by a fake page fetcher (no server): what each adapter asks for, in which order,
// with which headers, and what it makes of the answers.
#include <ctime>
#include <fstream>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "app/ListJob.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"
#include "support/FakeFrontEnd.h"
#include "support/SessionViews.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

struct Asked {
    std::string address;
    std::string headers;
    std::string endMarker;
};

// The address without its time cache-buster ("_=...").
std::string WithoutBuster(std::string address) {
    const std::size_t at = address.find("_=");
    if (at != std::string::npos) {
        address.erase(at, address.find('&', at) == std::string::npos
                              ? std::string::npos
                              : address.find('&', at) + 1 - at);
    }
    return address;
}

class CommunityPaging : public ::testing::Test {
  protected:
    CommunityPaging() : session(home.Path(), front) {
        RegisterAllSites();
        session.ready = true;
        answer = [this](const std::string& address) -> std::optional<std::string> {
            const auto found = pages.find(WithoutBuster(address));
            if (found == pages.end()) {
                return std::nullopt;
            }
            return found->second;
        };
        SetAdapterFetchHook([this](const URLRequest& request) {
            asked.push_back({request.address, request.headers, request.endMarker});
            return answer(request.address);
        });
        SetAdapterPauseHook([this](std::chrono::milliseconds time) {
            pauses.push_back(time.count());
            pausedAfter.push_back(asked.size());
        });
    }
    ~CommunityPaging() override {
        SetAdapterFetchHook(nullptr);
        SetAdapterPauseHook(nullptr);
        CookieStore::Shared().Clear();
    }

    ListJobOutcome List(int site, const std::string& text) {
        PrepareListing(session, site);
        return GetListFunc(session, text, 0, [this](const std::string& address) {
            asked.push_back({address, "", ""});
            return answer(address);
        });
    }
    // Runs the photo-list adapters of the album as the download job would, without
    // downloading anything.
    std::vector<DownloadRow> Photos(int albumIndex) {
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(save.Path());
        session.downloadState = kDownloadRunning;
        asked.clear();
        for (const PhotoLister id : ChoosePhotoListers(session.siteIndex, session.subKind).chain) {
            FindPhotoLister(id)(session, albumIndex);
        }
        return session.downloads.Rows();
    }
    std::vector<std::string> Addresses() const {
        std::vector<std::string> out;
        for (const auto& a : asked) {
            out.push_back(a.address);
        }
        return out;
    }
    std::vector<std::string> Names() const { return test::AlbumNames(session); }
    static std::vector<std::string> Urls(const std::vector<DownloadRow>& rows) {
        return test::RowUrls(rows);
    }

    test::TempDir home;
    test::TempDir save;
    test::FakeFrontEnd front;
    Session session;
    std::map<std::string, std::string> pages;
    std::function<std::optional<std::string>(const std::string&)> answer;
    std::vector<Asked> asked;
    std::vector<long long> pauses;
    std::vector<std::size_t> pausedAfter;
};

// --- Shared paging -------------------------------------------------------------------

TEST(RepeatGuard, ComparesWhatIdentifiesTheItems) {
    RepeatGuard guard;
    const auto key = [](const std::string& piece) { return piece.substr(0, piece.find(' ')); };
    EXPECT_FALSE(guard.Repeats(RepeatGuard::Of({"page 1", "a x", "b y"}, key)));
    EXPECT_TRUE(guard.Repeats(RepeatGuard::Of({"page 2", "a z", "b shown on page 2"}, key)))
        << "the same items, whatever text surrounds them";
    EXPECT_FALSE(guard.Repeats(RepeatGuard::Of({"page 3", "a", "c"}, key)));
    EXPECT_FALSE(guard.Repeats({}));
    EXPECT_TRUE(guard.Repeats({})) << "two pages without items in a row";
}

// --- 56 ------------------------------------------------------------------------------

std::string Albums56Page(const std::vector<std::string>& ids, bool next) {
    std::string page = "<div><ul class=\"album_list\">";
    for (const auto& id : ids) {
        page += "<li><a onclick=\"chackAlbum('" + id + "')\"><img src=\"https://img.56.com/c/" +
                id + ".jpg\" title=\"相册" + id + "\"></a><span width=\"140\">" +
                std::to_string(id.size() * 3) + "</span></li>";
    }
    page += "<li>no key here</li></ul><li>after the list</li>";
    if (next) {
        page += "<a href=\"?page=2\">下一页</a>";
    }
    return page;
}

constexpr const char* k56List = "https://photo.56.com/photo/album/index.php?user=bob&perPage=20";

TEST_F(CommunityPaging, Site56AlbumsPageUntilTheLinkIsGone) {
    pages[std::string(k56List) + "&page=1"] = Albums56Page({"a1", "a22"}, true);
    pages[std::string(k56List) + "&page=2"] = Albums56Page({"a333"}, false);
    ASSERT_EQ(List(5, "https://i.56.com/u/photo/album/index.php?user=bob&x=1").albums, 3);
    EXPECT_EQ(Addresses(), (std::vector<std::string>{std::string(k56List) + "&page=1",
                                                     std::string(k56List) + "&page=2"}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"相册a1", "相册a22", "相册a333"}));
    const auto first = *session.albums.At(0);
    EXPECT_EQ(first.key, "a1");
    EXPECT_EQ(first.photoCount, 6);
    EXPECT_EQ(first.coverUrl, "https://img.56.com/c/a1.jpg");
    EXPECT_EQ(asked[0].headers, "Accept-Encoding: gzip, deflate");
}

TEST_F(CommunityPaging, Site56RepeatedPageEndsTheList) {
    // A server that answers every page with the first one, next-page link included.
    answer = [](const std::string&) { return Albums56Page({"a1"}, true); };
    EXPECT_EQ(List(5, "https://i.56.com/photo/album/index.php?user=bob").albums, 1);
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(CommunityPaging, AStopEndsTheListAfterTheAlbumBeingAdded) {
    answer = [this](const std::string&) -> std::optional<std::string> {
        session.listingState = kListingStopAsked;  // the user presses stop meanwhile
        return Albums56Page({"a1", "a2"}, true);
    };
    EXPECT_EQ(List(5, "https://i.56.com/photo/album/index.php?user=bob").albums, 1);
    EXPECT_EQ(asked.size(), 1u) << "no further page";
}

TEST_F(CommunityPaging, Site56PhotosCarryTheirPageAsReferer) {
    pages[std::string(k56List) + "&page=1"] = Albums56Page({"K1"}, false);
    ASSERT_EQ(List(5, "https://i.56.com/photo/album/index.php?user=bob").albums, 1);
    const std::string base = "https://photo.56.com/photo/album/?do=Plist&did=K1&page=";
    pages[base + "1"] =
        "<div class=\"img\"><img src='https://img.56.com/p/1.jpg'><label> <b>晴</b> 天 "
        "</label></div><div class=\"img\"><img src='https://img.56.com/p/2.jpg'><label> "
        "</label></div><a href=\"x\">下一页</a>";
    pages[base + "2"] =
        "<div class=\"img\"><img src='https://img.56.com/p/3.jpg'><label>三</label></div>"
        "<a>下一页</a>";
    const auto rows = Photos(0);
    EXPECT_EQ(Addresses(), (std::vector<std::string>{base + "1", base + "2"}))
        << "page 2's link lacks the quote before it, so it is the last";
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].fileName, "晴 天.jpg");
    EXPECT_EQ(rows[1].fileName, "相册K1.jpg") << "no description: the album's name";
    EXPECT_EQ(rows[0].headers, "Referer: " + base + "1");
    EXPECT_EQ(rows[2].headers, "Referer: " + base + "2");
}

// --- poco ----------------------------------------------------------------------------

TEST_F(CommunityPaging, PocoAlbumsMarkPasswordAlbumsAndPhotosLoseTheThumbnailSize) {
    const std::string list = "https://www.poco.cn/album/album_show_all.htx&user_id=42&p=";
    pages[list + "1"] =
        "<script>var u = {userName:'摄影师'};</script>"
        "<div class=\"img_box\"><a onclick=\"go('open', 'h1')\"><img src=\"https://img.poco.cn/"
        "c1_165.jpg\" title=\"海边\"></a></div>"
        "<div class=\"img_box\"><a onclick=\"go('pwd', 'h2')\"><img src=\"x\" title=\"私人\">"
        "</a></div><a title=\"下一页\">next</a>";
    pages[list + "2"] =
        "<div class=\"img_box\"><a onclick=\"go('open', 'h3')\"><img src=\"y\" title=\"山\">"
        "</a></div><script>var u = {userName:'someone else'};</script>";
    ASSERT_EQ(List(6, "https://my.poco.cn/album/album_list.htx&user_id=42&p=9").albums, 3);
    EXPECT_EQ(Addresses(), (std::vector<std::string>{list + "1", list + "2"}));
    EXPECT_EQ(session.OwnerName(), "摄影师") << "from the first page only";
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].access, 0);
    EXPECT_EQ(albums[1].access, kAccessEncrypted);
    EXPECT_EQ(albums[0].key,
              "https://www.poco.cn/album/album_show_photo_list.php?user_id=42&set_hash=h1");

    pages[albums[0].key + "&do=Plist&p=1"] =
        "<li class=\"img_box\"><img src=\"https://img.poco.cn/p1_165.jpg\" title=\" 浪 \">"
        "<li class=\"img_box\"><img src=\"https://img.poco.cn/p2_165.png\" title=\"\">";
    const auto rows = Photos(0);
    EXPECT_EQ(Urls(rows), (std::vector<std::string>{"https://img.poco.cn/p1.jpg",
                                                    "https://img.poco.cn/p2.png"}));
    EXPECT_EQ(rows[0].fileName, "浪.jpg");
    EXPECT_EQ(rows[1].fileName, "海边.jpg");
}

TEST_F(CommunityPaging, PocoActivityListAndPostPictures) {
    const std::string list = "https://www.poco.cn/act/act_list.htx&user_id=42&act_type_id=0&p=";
    pages[list + "1"] =
        "{userName:'阿波'}<h3 class=\"title\"><a href=\"/act/post-1.html\">第一帖</a></h3>"
        "<h3 class=\"title\"><a href=\"https://www.poco.cn/act/post-2.html\">第二帖</a></h3>";
    ASSERT_EQ(List(6, "https://my.poco.cn/id-42.shtml").albums, 2);
    EXPECT_EQ(session.subKind, 1);
    EXPECT_EQ(session.albums.At(0)->key, "https://www.poco.cn/act/post-1.html")
        << "a relative link is completed on the poco host";
    EXPECT_EQ(session.albums.At(0)->name, "第一帖");
    pages["https://www.poco.cn/act/post-1.html"] =
        "<img src='https://img.poco.cn/small1.jpg'>{originPhoto:'https://img.poco.cn/o1.jpg'},"
        "{originPhoto:'https://img.poco.cn/o2.jpg'}";
    pages["https://www.poco.cn/act/post-2.html"] =
        "<img src='https://img.poco.cn/s1.jpg'><img src='https://img.poco.cn/s2.jpg'>";
    EXPECT_EQ(Urls(Photos(0)), (std::vector<std::string>{"https://img.poco.cn/o1.jpg",
                                                         "https://img.poco.cn/o2.jpg"}))
        << "original pictures win over the page's images";
    EXPECT_EQ(Urls(Photos(1)), (std::vector<std::string>{"https://img.poco.cn/s1.jpg",
                                                         "https://img.poco.cn/s2.jpg"}));
    EXPECT_EQ(asked.size(), 1u) << "a post is one page";
}

// --- yupoo ---------------------------------------------------------------------------

TEST_F(CommunityPaging, YupooListsBothLayoutsUntilAPageHasNoAlbum) {
    const std::string list = "https://www.yupoo.com/photos/bob/albums/";
    pages[list + "page1/"] =
        "<title>又拍网 - bob的相册</title><div class=\"set-case\">decoy</div>"
        "<div id=\"albumsList\"><div class=\"set-case\"><a href=\"/photos/bob/albums/11/\">"
        "<img src_data=\"https://pic.yupoo.com/c11\" src=\"blank.gif\" alt=\" 春天 \"/>"
        "</a><b>12</b></div><div class=\"set-case\"><a href=\"https://www.yupoo.com/photos/"
        "bob/albums/12/\"><img src=\"https://pic.yupoo.com/c12\" alt=\"夏天\"/></a><strong>3"
        "</strong></div>";
    pages[list + "page2/"] =
        "<title>x</title><div id=\"albumsList\"><li class=\"SetCase big\"><a "
        "href=\"/photos/bob/albums/13/\"><img src=\"https://pic.yupoo.com/c13\" alt=\"秋天\"/>"
        "</a><b>1</b></li>";
    pages[list + "page3/"] = "<div id=\"albumsList\">没有相册了</div>";
    ASSERT_EQ(List(7, "https://bob.yupoo.com/collections").albums, 3);
    EXPECT_EQ(Addresses(),
              (std::vector<std::string>{list + "page1/", list + "page2/", list + "page3/"}));
    EXPECT_EQ(session.OwnerName(), "bob");
    const auto albums = session.albums.All();
    EXPECT_EQ(albums[0].name, "春天");
    EXPECT_EQ(albums[0].key, "https://www.yupoo.com/photos/bob/albums/11/");
    EXPECT_EQ(albums[0].coverUrl, "https://pic.yupoo.com/c11");
    EXPECT_EQ(albums[0].photoCount, 12);
    EXPECT_EQ(albums[1].coverUrl, "https://pic.yupoo.com/c12");
    EXPECT_EQ(albums[1].photoCount, 3);
    EXPECT_EQ(albums[2].key, "https://www.yupoo.com/photos/bob/albums/13/");
    EXPECT_EQ(
        asked[0].headers,
        "Accept-Encoding: gzip, deflate\r\nReferer: https://www.yupoo.com/photos/bob/albums/");
    EXPECT_EQ(asked[0].endMarker, "id=\"footer\">");
}

TEST_F(CommunityPaging, YupooSingleAlbumAddress) {
    const std::string album = "https://www.yupoo.com/photos/bob/albums/11/";
    pages[album] = "<title>bob的主页_又拍</title><h1><a>bob的相册</a> / 春天</h1><p>(12张)</p>";
    ASSERT_EQ(List(7, album + "page2/").albums, 1);
    EXPECT_EQ(session.albums.At(0)->name, "春天");
    EXPECT_EQ(session.albums.At(0)->photoCount, 12);
    EXPECT_EQ(session.albums.At(0)->key, album);
    EXPECT_EQ(asked[0].headers,
              "Referer: https://www.yupoo.com/\r\nAccept-Encoding: gzip, deflate");
}

std::string YupooZoom(const std::string& image, const std::string& title,
                      const std::string& description) {
    return "<a>原图</a><img src=\"" + image + "\"><script>photo = {title:'" + title +
           "', description:'" + description + "'};</script>";
}

TEST_F(CommunityPaging, YupooOriginalsThroughZoomPagesAndTheDescriptionFile) {
    const std::string album = "https://www.yupoo.com/photos/bob/albums/11/";
    AddAlbum(session, AlbumRecord{.name = "春天", .key = album});
    session.siteIndex = 7;
    session.subKind = -1;
    pages[album + "page1/?style=detail"] =
        "<p class=\"adescription\"> 第一行<br />第二行 </p><script>photos['p1'] = 1; "
        "photos['p2'] = 2;</script>";
    pages[album + "page2/?style=detail"] = "<script>photos['p3'] = 3;</script>";
    pages[album + "page3/?style=detail"] = "<p>没有了</p>";
    pages[album + "p1/zoom/original/"] =
        "<img src=\"https://pic.yupoo.com/logo.png\">" +
        YupooZoom("https://pic.yupoo.com/bob/p1/small.jpg", "标题一", "描述一");
    pages[album + "p2/zoom/original/"] = YupooZoom("/bob/p2/small.jpg", "标题二", "");
    pages[album + "p3/zoom/original/"] = YupooZoom("https://pic.yupoo.com/bob/p3/big.jpg", "", "");
    const auto rows = Photos(0);
    EXPECT_EQ(Urls(rows), (std::vector<std::string>{"https://pic.yupoo.com/bob/p1/big.jpg",
                                                    "https://www.yupoo.com/bob/p2/big.jpg",
                                                    "https://pic.yupoo.com/bob/p3/big.jpg"}));
    EXPECT_EQ(rows[0].fileName, "描述一.jpg");
    EXPECT_EQ(rows[1].fileName, "标题二.jpg");
    EXPECT_EQ(rows[2].fileName, "春天.jpg");
    for (const auto& a : asked) {
        EXPECT_EQ(a.headers, "Accept-Encoding: gzip, deflate\r\nReferer: " + album);
    }
    std::ifstream in(save / "春天" / "相册描述.txt", std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(
        bytes, "\xFF\xFE" + [] {
            const std::u16string text = u"第一行\r\n第二行";
            return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        }());
}

TEST_F(CommunityPaging, YupooPasswordQuestionIsAskedAFewTimesOnly) {
    const std::string album = "https://www.yupoo.com/photos/bob/albums/11/";
    AddAlbum(session, AlbumRecord{.name = "锁", .key = album});
    session.siteIndex = 7;
    pages[album + "page1/?style=detail"] = "<label class=\"album_password\">访问密码</label>";
    front.answer = false;
    EXPECT_TRUE(Photos(0).empty());
    EXPECT_EQ(front.questions, std::vector<std::string>{"加密相册,是否输入密码"});
    EXPECT_TRUE(front.logins.empty());

    // A login that never helps: yes, yes, yes, then the album is left.
    front.questions.clear();
    front.answer = true;
    EXPECT_TRUE(Photos(0).empty());
    EXPECT_EQ(front.questions.size(), 3u);
    EXPECT_EQ(front.logins, std::vector<std::string>(3, album));
    EXPECT_EQ(asked.size(), 4u);
}

TEST_F(CommunityPaging, YupooWithoutOriginalsAsksForALogin) {
    const std::string album = "https://www.yupoo.com/photos/bob/albums/11/";
    AddAlbum(session, AlbumRecord{.name = "春天", .key = album});
    session.siteIndex = 7;
    pages[album + "page1/?style=detail"] = "photos['p1'] photos['p2']";
    pages[album + "p1/zoom/original/"] = "<p>对不起，无法查看该照片的原图</p>";
    pages[album + "p2/zoom/original/"] = YupooZoom("https://pic.yupoo.com/p2/big.jpg", "", "");
    EXPECT_TRUE(Photos(0).empty());
    EXPECT_EQ(front.messages,
              std::vector<std::string>{"请先在登录菜单里登录你的又拍帐号,登录时勾上下次自动登录"});
    EXPECT_EQ(asked.size(), 2u) << "the album ends at the first refusal";
}

// --- 51 ------------------------------------------------------------------------------

TEST_F(CommunityPaging, Site51AlbumsAndDataViewPhotos) {
    SaveOptions byDescription = session.SaveRules(8);
    byDescription.namingMode = kNameByDescription;  // 51 names by number unless told
    session.SetSaveRules(8, byDescription);
    pages["https://home.51.com/carol/photo"] =
        "<div class=\"pic\">before the list</div><div class=\"p_main\">"
        "<div class=\"pic\">旅行</div><a href=\"/carol/photo/album/7\"><img src=\"https://"
        "img.51.com/c7.jpg\"></a><em>(共2张)</em>"
        "<div class=\"pic\">无名</div><em>(共0张)</em>";
    ASSERT_EQ(List(8, "https://home.51.com/carol/photo?x").albums, 2)
        << "51 rows are added without a key test";
    EXPECT_EQ(session.OwnerName(), "carol");
    const auto first = *session.albums.At(0);
    EXPECT_EQ(first.name, "旅行");
    EXPECT_EQ(first.key, "/carol/photo/album/7");
    EXPECT_EQ(first.photoCount, 2);
    EXPECT_EQ(first.coverUrl, "https://img.51.com/c7.jpg");

    pages["https://home.51.com/carol/photo/album/7"] =
        "<a href=\"/item/0.htm\"></a><ul class=\"photo_item_list\"><a "
        "href=\"/carol/item/7001.htm\">";
    pages["https://home.51.com/carol/photo/getdataview/?id=7001"] =
        "{\"total\":2,\"rows\":[{\"photo_id\":1,\"photo_name\":\"\\u6d77\",\"big_photo\":"
        "\"https:\\/\\/img.51.com\\/b1.jpg\"},{\"photo_id\":2,\"photo_name\":\"\",\"big_photo\":"
        "\"https:\\/\\/img.51.com\\/b2.jpg\"}]}";
    const auto rows = Photos(0);
    EXPECT_EQ(Addresses(),
              (std::vector<std::string>{"https://home.51.com/carol/photo/album/7",
                                        "https://home.51.com/carol/photo/getdataview/?id=7001"}))
        << "the doubled slash after the host is repaired";
    EXPECT_EQ(Urls(rows),
              (std::vector<std::string>{"https://img.51.com/b1.jpg", "https://img.51.com/b2.jpg"}));
    EXPECT_EQ(rows[0].fileName, "海.jpg");
    EXPECT_EQ(rows[1].fileName, "旅行.jpg");
    EXPECT_EQ(rows[0].headers, "Referer: https://home.51.com/carol/photo/album/7");
}

TEST_F(CommunityPaging, Site51BusyAnswers) {
    pages["https://home.51.com/carol/photo"] = "<p>服务器忙，请稍候再试</p>";
    EXPECT_EQ(List(8, "https://home.51.com/carol").albums, 0);
    EXPECT_TRUE(front.messages.empty()) << "a busy album list ends quietly";

    AddAlbum(session, AlbumRecord{.name = "旅行", .key = "/carol/photo/album/7"});
    session.siteIndex = 8;
    pages["https://home.51.com/carol/photo/album/7"] =
        "<ul class=\"photo_item_list\"><a href=\"/item/7001.htm\">";
    pages["https://home.51.com/carol/photo/getdataview/?id=7001"] =
        "x请稍候再试{\"rows\":[{\"photo_id\":1,\"big_photo\":\"https:\\/\\/img.51.com\\/"
        "b1.jpg\"}]}";
    EXPECT_TRUE(Photos(0).empty());
    EXPECT_EQ(front.messages, std::vector<std::string>{"请稍候再试"});
}

// --- duitang -------------------------------------------------------------------------

std::string DuitangAlbums(const std::vector<int>& ids) {
    std::string json = "{\"data\":{\"object_list\":[";
    for (const int id : ids) {
        json += "{\"like_count\":9,\"count\":" + std::to_string(id % 10) +
                ",\"pics\":[\"https://img.duitang.com/c" + std::to_string(id) +
                ".thumb.224_0.jpg\"],\"id\":" + std::to_string(id) + ",\"name\":\"专辑" +
                std::to_string(id) + "\"},";
    }
    return json + "]}}";
}

TEST_F(CommunityPaging, DuitangAlbumListPausesBeforeEveryPage) {
    pages["https://www.duitang.com/people/?user_id=77"] =
        "<div class=\"dt-header-btm\"><a href=\"/people/?user_id=77#x\">me</a></div>";
    const std::string list = "https://www.duitang.com/album/list/";
    pages[list + "1/24/?user_id=77&"] = DuitangAlbums({11, 12});
    pages[list + "2/24/?user_id=77&"] = DuitangAlbums({13});
    pages[list + "3/24/?user_id=77&"] = "{\"data\":{\"object_list\":[]}}";
    const long long before = std::time(nullptr);
    const auto outcome = List(18, "https://www.duitang.com/people/?user_id=77");
    const long long after = std::time(nullptr);
    ASSERT_EQ(outcome.albums, 3);
    EXPECT_FALSE(outcome.autoDownload);
    EXPECT_EQ(session.OwnerName(), "堆糖_77");
    EXPECT_EQ(Names(), (std::vector<std::string>{"专辑11", "专辑12", "专辑13"}));
    EXPECT_EQ(session.albums.At(0)->key, "11");
    EXPECT_EQ(session.albums.At(0)->photoCount, 1);
    EXPECT_EQ(session.albums.At(0)->coverUrl, "https://img.duitang.com/c11.thumb.224_0.jpg");
    ASSERT_EQ(asked.size(), 4u);  // the typed page, then three list pages
    EXPECT_EQ(pauses, (std::vector<long long>{1500, 1500, 1500}));
    EXPECT_EQ(pausedAfter, (std::vector<std::size_t>{1, 2, 3})) << "each pause precedes a page";
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_EQ(asked[i].headers,
                  "Accept-Encoding: gzip, deflate\r\nReferer: "
                  "https://www.duitang.com/people/?user_id=77");
        const std::string stamp = asked[i].address.substr(asked[i].address.find("&_=") + 3);
        ASSERT_GT(stamp.size(), 4u);
        EXPECT_TRUE(stamp.ends_with("0000")) << stamp;
        const long long seconds = std::stoll(stamp.substr(0, stamp.size() - 4));
        EXPECT_GE(seconds, before);
        EXPECT_LE(seconds, after);
    }
}

TEST_F(CommunityPaging, DuitangAlbumAddressListsThatAlbumAndStartsTheDownload) {
    const std::string typed = "https://www.duitang.com/album/?id=55&from=x";
    pages[typed] =
        "<div class=\"dt-header-btm\"><a href=\"/people/?user_id=77\"></a></div>"
        "<h1 class=\"album-title\">猫</h1><span class=\"count\">42个</span>";
    const auto outcome = List(18, typed);
    ASSERT_EQ(outcome.albums, 1);
    EXPECT_TRUE(outcome.autoDownload);
    const auto album = *session.albums.At(0);
    EXPECT_EQ(album.key, "55") << "the album id of the typed address";
    EXPECT_EQ(album.name, "猫");
    EXPECT_EQ(album.photoCount, 42);
    for (const auto& a : asked) {
        EXPECT_EQ(a.address.find("/album/list/"), std::string::npos) << "no album list";
    }
}

std::string DuitangPhotos(const std::vector<std::string>& ids, bool more) {
    std::string json = "{\"data\":{\"object_list\":[";
    for (const auto& id : ids) {
        json += "{\"photo_id\":" + id + ",\"isrc\":\"https://img.duitang.com/" + id +
                ".thumb.224_0.jpeg\",\"msg\":\"图" + id + "\"},";
    }
    return json + "],\"more\":1,\"has_next\":" + (more ? "true" : "false") +
           ",\"photo_id\":\"tail\"}}";
}

TEST_F(CommunityPaging, DuitangPhotosEndOnTheLastPageOrARepeatedOne) {
    AddAlbum(session, AlbumRecord{.name = "猫", .key = "55"});
    session.siteIndex = 18;
    session.subKind = 0;
    const std::string base = "https://www.duitang.com/album/55/masn/p/";
    pages[base + "1/24/?"] = DuitangPhotos({"1", "2"}, true);
    pages[base + "2/24/?"] =
        "{\"object_list\":[{\"photo_id\":3,\"isrc\":\"https://img.duitang.com/a.thumb.700_0."
        "png\",\"msg\":\"\"}],\"has_next\":false}";
    const auto rows = Photos(0);
    EXPECT_EQ(Urls(rows), (std::vector<std::string>{"https://img.duitang.com/1.jpeg",
                                                    "https://img.duitang.com/2.jpeg",
                                                    "https://img.duitang.com/a.png"}))
        << "the part after has_next is not a photo";
    EXPECT_EQ(rows[2].fileName, "猫.jpg");
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].headers,
              "Accept-Encoding: gzip, deflate\r\nReferer: https://www.duitang.com/album/55/");

    answer = [](const std::string&) { return DuitangPhotos({"1", "2"}, true); };
    EXPECT_EQ(Photos(0).size(), 2u);
    EXPECT_EQ(asked.size(), 2u) << "the second page repeated the first";
}

// --- huaban --------------------------------------------------------------------------

std::string HuabanPins(const std::vector<int>& ids) {
    std::string json = "{\"pins\":[";
    for (const int id : ids) {
        json += "{\"pin_id\":" + std::to_string(id) + ",\"file\":{\"key\":\"k" +
                std::to_string(id) + "\"},\"raw_text\":\"" +
                (id % 2 ? "钉" + std::to_string(id) : "") + "\"},";
    }
    return json + "]}";
}

std::string HuabanBoardPage(int pinCount) {
    return "<script>app.page[\"board\"] = {\"board_id\":900,\"title\":\"画板\",\"pin_count\":" +
           std::to_string(pinCount) + ",\"user\":{\"username\":\"花花\"}," +
           HuabanPins({1, 2}).substr(1) + ";</script>";
}

class HuabanPaging : public CommunityPaging {
  protected:
    void ListBoard(int pinCount) {
        pages["https://huaban.com/boards/900"] = HuabanBoardPage(pinCount);
        ASSERT_EQ(List(18, "https://huaban.com/boards/900/?from=x").albums, 1);
    }
    std::string Next(int counter, int max) const {
        return "https://huaban.com/boards/900/?hxzmqq" + std::to_string(counter) +
               "s&max=" + std::to_string(max) + "&limit=20&wfl=1";
    }
};

TEST_F(HuabanPaging, BoardThenPinsAfterTheLastPin) {
    ListBoard(5);
    const auto board = *session.albums.At(0);
    EXPECT_EQ(board.key, "https://huaban.com/boards/900/");
    EXPECT_EQ(board.name, "画板");
    EXPECT_EQ(board.photoCount, 5);
    EXPECT_EQ(session.OwnerName(), "花花");
    EXPECT_EQ(session.subKind, 1);
    pages[Next(1, 2)] = HuabanPins({3, 4});
    pages[Next(2, 4)] = HuabanPins({5, 6});
    const auto rows = Photos(0);
    EXPECT_EQ(Addresses(), (std::vector<std::string>{Next(1, 2), Next(2, 4)}))
        << "the board page's own pins come first, without a request";
    ASSERT_EQ(rows.size(), 6u) << "the page that reaches the count is taken whole";
    EXPECT_EQ(rows[0].url, "https://hbimg.huabanimg.com/k1");
    EXPECT_TRUE(rows[0].fileName.starts_with("钉1")) << rows[0].fileName;
    EXPECT_TRUE(rows[1].fileName.starts_with("画板")) << rows[1].fileName;
    EXPECT_EQ(asked[0].headers,
              "Accept-Encoding: gzip, deflate\r\nReferer: https://huaban.com/boards/900/");
    EXPECT_TRUE(pauses.empty());
}

TEST_F(HuabanPaging, GatewayTimeOutsClearCookiesPauseAndGiveUpAfterThree) {
    ListBoard(100);
    CookieStore::Shared().Put("huaban.com\tFALSE\t/\tFALSE\t0\tsid\tstale");
    CookieStore::Shared().Put("example.org\tFALSE\t/\tFALSE\t0\tkeep\tme");
    answer = [](const std::string&) -> std::optional<std::string> {
        return "<html><h1>504 Gateway Time-out</h1></html>";
    };
    const auto rows = Photos(0);
    EXPECT_EQ(rows.size(), 2u) << "the board page's pins stay";
    EXPECT_EQ(Addresses(), std::vector<std::string>(3, Next(1, 2)));
    EXPECT_EQ(pauses, (std::vector<long long>{6000, 6000, 6000}));
    EXPECT_EQ(CookieStore::Shared().CookiesFor("https://huaban.com/boards/900/"), "");
    EXPECT_EQ(CookieStore::Shared().CookiesFor("https://example.org/"), "keep=me");
}

TEST_F(HuabanPaging, AFailedFetchIsRetriedAndARepeatedPageEnds) {
    ListBoard(100);
    int calls = 0;
    answer = [&](const std::string&) -> std::optional<std::string> {
        if (++calls == 1) {
            return std::nullopt;
        }
        return HuabanPins({1, 2});  // the board's own pins again, whatever "max" says
    };
    const auto rows = Photos(0);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(pauses, std::vector<long long>{6000});
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(CommunityPaging, HuabanAddressWithoutBoard) {
    EXPECT_EQ(List(18, "https://huaban.com/someone/").albums, 0);
    EXPECT_EQ(front.messages,
              std::vector<std::string>{"请输入花瓣画板的网址\n(网址中含有/boards/)"});
    EXPECT_TRUE(asked.empty());
}

}  // namespace
}  // namespace brenvik
