// Sina blogs and Weibo: a blog's photo albums, a blog's articles taken as albums of
// their pictures, and a Weibo account's albums (which need the login cookie).
#include "sites/Sina.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kSinaDecode = kDecodeInflate | kDecodeUtf8;
constexpr const char* kNextPageLink = "\">下一页";
constexpr int kWeiboPageSize = 32;
// A Weibo page that stays empty after its second try is passed over once; a second
// such page in a row ends the album, whatever its photo count says.
constexpr int kEmptyWeiboPagesInARow = 2;

SinaPages RequestPages(URLRequest& request) {
    return [&request](const std::string& address) -> std::optional<std::string> {
        std::string text;
        if (!FetchPage(request, address, kSinaDecode, text)) {
            return std::nullopt;
        }
        return text;
    };
}

bool Usable(const std::optional<std::string>& page) {
    return page && !page->empty();
}

// "<title>Name_新浪博客</title>" gives "Name".
std::string BlogOwner(const std::string& page) {
    std::string owner = StripTags(TextBetween(page, "<title>", "</"));
    KeepBefore("_新浪", owner);
    return owner;
}

std::string Resized(std::string address, std::initializer_list<std::string_view> sizes) {
    for (const auto size : sizes) {
        ReplaceAll(address, size, "/orignal/");
    }
    return address;
}

// Article links may name their page by path only.
std::string ArticleAddress(const std::string& link) {
    if (link.starts_with("//")) {
        return "https:" + link;
    }
    if (link.starts_with("/")) {
        return SiteBase("sina.blog") + link;
    }
    return link;
}

// --- Blog albums ------------------------------------------------------------------

void BlogAlbumList(Session& session, const std::string& home) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchPage(request, home, kSinaDecode, page)) {
        return;
    }
    session.SetOwnerName(BlogOwner(page));
    const std::string userId = TextBetween(page, "articlelist_", "_");
    session.SetSiteText(userId);
    if (userId.empty()) {
        return;
    }
    std::string index;
    if (!FetchPage(
            request,
            SiteBase("sina.blog.photo") + "/services/ctg_list_ctg.php?format=gsonv&uid=" + userId,
            kSinaDecode, index)) {
        return;
    }
    Pieces items;
    SplitAll(index, "\"category\":\"", items);
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string& item = items[i];
        AlbumRecord record;
        record.name = UnescapeUnicode(TextBefore(item, "\","));
        if (record.name.empty()) {
            continue;
        }
        record.photoCount =
            static_cast<std::int32_t>(ReadNumber(TextBetween(item, "pic_cnt\":\"", "\"")));
        record.key = Unslash(TextBetween(item, "ctg_url\":\"", "\""));
        record.coverUrl = Unslash(TextBetween(item, "big_url\":\"", "\""));
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

void BlogAlbumPhotos(Session& session, int albumIndex) {
    URLRequest request = CompressedAdapterRequest();
    SinaBlogAlbumPhotoPages(session, albumIndex, RequestPages(request));
}

// --- Blog articles ----------------------------------------------------------------

void BlogArticleList(Session& session, const std::string& listBase) {
    URLRequest request = CompressedAdapterRequest();
    SinaBlogArticleListPages(session, listBase, RequestPages(request));
}

void BlogArticlePictures(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    request.endMarker = "class=\"shareUp\">";
    std::string page;
    if (!FetchPage(request, album->key, kSinaDecode, page) || page.empty()) {
        return;
    }
    std::string title = TextBetween(page, "class=\"titName", "</");
    DropThrough(title, ">");
    DropThrough(page, "class=\"articalContent");
    // Pictures are linked by "&url=" unless some of them are not; then their real_src counts.
    const char* marker = "&url=";
    if (CountOccurrences(page, "&url=") != CountOccurrences(page, "real_src =\"")) {
        marker = "real_src =\"";
    }
    Pieces pieces;
    SplitAll(page, marker, pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string address =
            Resized(TextBefore(pieces[i], "\""), {"/middle/", "/bmiddle/", "/mw690/"});
        if (address.empty()) {
            continue;
        }
        if (!AddPhotoAndGoOn(session, address, title, "", albumIndex)) {
            return;
        }
    }
}

// --- Weibo albums -----------------------------------------------------------------

struct OwnerMarkers {
    const char* idStart;
    const char* idEnd;
    const char* nickStart;
    const char* nickEnd;
};
// The user page's forms, tried in order: two script forms, then the JSON form.
constexpr OwnerMarkers kOwnerForms[] = {
    {"['oid'] = '", "'", "['onick'] = '", "'"},
    {"['oid']='", "'", "['onick']='", "'"},
    {"\"id\":", ",", "\"name\":\"", "\""},
};

void WeiboAlbumList(Session& session, const std::string& userPage) {
    URLRequest request = CompressedAdapterRequest();
    request.headers += "\r\ncookie: " + GetCookies(SiteBase("weibo.home") + "/");
    std::string page;
    if (!FetchPage(request, userPage, kSinaDecode, page)) {
        return;
    }
    const OwnerMarkers* form = &kOwnerForms[2];
    if (FoundAfterStart(page, kOwnerForms[0].idStart)) {
        form = &kOwnerForms[0];
    } else if (page.find(kOwnerForms[1].idStart) != std::string::npos) {
        form = &kOwnerForms[1];
    }
    // The id goes into addresses; only a number is a user id.
    const std::string userId = Trimmed(TextBetween(page, form->idStart, form->idEnd));
    std::string nick = TextBetween(page, form->nickStart, form->nickEnd);
    SanitizeFileName(nick, kTimeStampFallback, true);
    session.SetOwnerName(nick);
    if (userId.empty() || !IsDigitsOnly(userId)) {
        return;
    }
    session.SetSiteText(userId);
    const std::string photoBase = SiteBase("weibo.photo");
    std::string index;
    if (!FetchPage(request, photoBase + "/albums/get_all?uid=" + userId + "&count=65535",
                   kSinaDecode, index)) {
        return;
    }
    Pieces items;
    SplitAll(index, "\"album_id\":\"", items);
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string& item = items[i];
        const std::string albumId = TextBefore(item, "\",");
        const std::string type = TextBetween(item, "type\":", ",");
        AlbumRecord record;
        record.key = photoBase + "/photos/get_all?uid=" + userId + "&album_id=" + albumId +
                     "&count=32&type=" + type + "&page=";
        record.name = UnescapeUnicode(TextBetween(item, "\"caption\":\"", "\""));
        record.coverUrl = Unslash(TextBetween(item, "cover_pic\":\"", "\""));
        record.photoCount =
            static_cast<std::int32_t>(ReadNumber(TextBetween(item, "\"photos\":", ",")));
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

void WeiboAlbumPhotos(Session& session, int albumIndex) {
    URLRequest request = CompressedAdapterRequest();
    request.headers += "\r\nReferer: " + SiteBase("weibo.photo") + "/" + session.SiteText() +
                       "/talbum/index?from=profile_wb";
    WeiboAlbumPhotoPages(session, albumIndex, RequestPages(request));
}

}  // namespace

void SinaBlogAlbumPhotoPages(Session& session, int albumIndex, const SinaPages& pages) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    std::set<std::string> seen;
    for (int p = 1;; ++p) {
        const auto page = pages(album->key + "/page" + std::to_string(p));
        if (!Usable(page)) {
            return;
        }
        Pieces items;
        SplitAll(*page, "class=\"pt_border\"", items);
        bool broughtNew = false;
        for (std::size_t i = 1; i < items.size(); ++i) {
            // Entities were decoded with the page; "&amp;" is already "&" here.
            const std::string address = Resized(TextBetween(items[i], "src=\"", "\""), {"/small/"});
            if (address.empty() || !seen.insert(address).second) {
                continue;
            }
            broughtNew = true;
            if (!AddPhotoAndGoOn(session, address, TextBetween(items[i], "title=\"", "\""), "",
                                 albumIndex)) {
                return;
            }
        }
        // A page without the next-page link is the last; one that repeats what came
        // before ends the album too, or a service ignoring the page number never ends.
        if (page->find(kNextPageLink) == std::string::npos || !broughtNew) {
            return;
        }
    }
}

void SinaBlogArticleListPages(Session& session, const std::string& listBase,
                              const SinaPages& pages) {
    std::set<std::string> seen;
    for (int p = 1;; ++p) {
        const auto page = pages(listBase + "_" + std::to_string(p) + ".html");
        if (!Usable(page)) {
            return;
        }
        if (p == 1) {
            session.SetOwnerName(BlogOwner(*page));
        }
        Pieces items;
        SplitAll(*page, "class=\"atc_title\">", items);
        if (items.size() < 2) {
            SplitAll(*page, "class=\"SG_j_linedot", items);
        }
        bool broughtNew = false;
        for (std::size_t i = 1; i < items.size(); ++i) {
            const std::string& item = items[i];
            AlbumRecord record;
            record.photoCount = 0;
            record.name = TextBetween(item, "title=\"", "\"");
            record.key = ArticleAddress(TextBetween(item, "href=\"", "\""));
            if (record.name.empty()) {
                record.name = TextBetween(item, ">", "</");
            }
            if (record.name.empty() || !seen.insert(record.key).second) {
                continue;
            }
            broughtNew = true;
            if (!AddAlbumAndGoOn(session, record)) {
                return;
            }
        }
        if (page->find(kNextPageLink) == std::string::npos || !broughtNew) {
            return;
        }
    }
}

std::string WeiboPictureAddress(const std::string& entry, const std::string& userId) {
    std::string address = TextBetween(entry, "original_pic\":\"", "\"");
    if (address.empty()) {
        const std::string type = TextBetween(entry, "pic_type\":", ",");
        const std::string name = TextBetween(entry, "pic_name\":\"", "\"");
        const std::string host = TextBetween(entry, "pic_host\":\"", "\"");
        if (name.empty() || host.empty()) {
            return "";
        }
        address = type != "0" ? host + "/large/" + name : host + "/" + userId + "/180/" + name;
    }
    return Unslash(address);
}

void WeiboAlbumPhotoPages(Session& session, int albumIndex, const SinaPages& pages) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string userId = session.SiteText();
    const int pageCount = (std::max(album->photoCount, 0) + kWeiboPageSize - 1) / kWeiboPageSize;
    std::set<std::string> seen;
    int emptyInARow = 0;
    for (int p = 1;; ++p) {
        const auto fetch = [&] {
            return pages(album->key + std::to_string(p) + "&_rnd=" + RandomFraction());
        };
        auto page = fetch();
        if (!Usable(page)) {
            return;
        }
        Pieces pieces;
        SplitAll(*page, "album_id\":", pieces);
        if (pieces.size() < 2) {
            if (p >= pageCount) {
                return;
            }
            // The service now and then answers a page empty; it is asked once more.
            AdapterPause(session, 3000ms);
            page = fetch();
            if (!Usable(page)) {
                return;
            }
            SplitAll(*page, "album_id\":", pieces);
            if (pieces.size() < 2) {
                if (++emptyInARow >= kEmptyWeiboPagesInARow) {
                    return;
                }
                AdapterPause(session, 1500ms);
                continue;
            }
        }
        emptyInARow = 0;
        bool broughtNew = false;
        // Piece 1 describes the album; the photos follow.
        for (std::size_t i = 2; i < pieces.size(); ++i) {
            const std::string address = WeiboPictureAddress(pieces[i], userId);
            if (address.empty() || !seen.insert(address).second) {
                continue;
            }
            broughtNew = true;
            const std::string name =
                StripTags(UnescapeUnicode(TextBetween(pieces[i], "\"caption\":\"", "\",\"")));
            if (!AddPhotoAndGoOn(session, address, name, "", albumIndex)) {
                return;
            }
        }
        if (!broughtNew) {
            return;
        }
    }
}

void RegisterSina() {
    RegisterAlbumLister(AlbumLister::SinaBlogPhotos, &BlogAlbumList);
    RegisterAlbumLister(AlbumLister::SinaBlogArticles, &BlogArticleList);
    RegisterAlbumLister(AlbumLister::WeiboAlbums, &WeiboAlbumList);
    RegisterPhotoLister(PhotoLister::SinaBlogAlbumPhotos, &BlogAlbumPhotos);
    RegisterPhotoLister(PhotoLister::SinaBlogArticlePictures, &BlogArticlePictures);
    RegisterPhotoLister(PhotoLister::WeiboAlbumPhotos, &WeiboAlbumPhotos);
}

}  // namespace brenvik
