// babytree: a user's albums come either from the JSON list of the home host (tried
// first) or from the page list of the main host; each form has its photo list.
#include "sites/Babytree.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kBabytreeDecode = kDecodeInflate | kDecodeAuto;
// The pager's arrow is written "&gt;"; pages are matched after entity decoding.
const std::vector<std::string> kNextArrow = {">></a></li>"};
const std::vector<std::string> kNextWord = {"\">下一页</a>"};

URLRequest BabytreeRequest(const char* endMarker) {
    URLRequest request = CompressedAdapterRequest();
    request.endMarker = endMarker;
    return request;
}

void TakeOwner(Session& session, const std::string& text) {
    const std::string owner = TextBetween(text, "<title>", "的相册");
    if (!owner.empty()) {
        session.SetOwnerName(owner);
    }
}

// --- JSON form -----------------------------------------------------------------------

bool ListJsonPage(Session& session, std::string text, SeenKeys& keys) {
    TakeOwner(session, text);
    SkipPast("album_list", true, text);
    KeepBefore("</script>", text);
    Pieces pieces;
    SplitAll(text, "\"id\":", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.name = UnicodeDecoded(TextBetween(piece, "title\":\"", "\""));
        record.key = Unslash(TextBetween(piece, "album_url\":\"", "\""));
        record.photoCount =
            static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "sum\":", "\"")));
        record.coverUrl = Unslash(TextBetween(piece, "cover_url\":\"", "\""));
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void JsonAlbumList(Session& session, const std::string& user) {
    URLRequest request = BabytreeRequest("vertical-align:middle");
    WalkMarkedPages(
        RequestSource(request, kBabytreeDecode),
        [&](int page) {
            return SiteBase("babytree.home") + "/" + user +
                   "/photo/list?pg=" + std::to_string(page);
        },
        kNextWord,
        [&](const std::string& text, int, SeenKeys& keys) {
            return ListJsonPage(session, text, keys);
        });
}

// The JSON photo list has no pager: pages follow while they bring new pictures.
void JsonAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    std::string base = OnSiteHost("babytree.home", album->key);
    ReplaceAll(base, "/album/", "/albumAjax/");
    URLRequest request = BabytreeRequest("mytree-tooltips");
    WalkMarkedPages(
        RequestSource(request, kBabytreeDecode),
        [&](int page) { return base + "?format=json&pg=" + std::to_string(page); }, {},
        [&](const std::string& text, int, SeenKeys& keys) {
            Pieces pieces;
            SplitAll(text, "\"href\"", pieces);
            for (std::size_t i = 1; i < pieces.size(); ++i) {
                const std::string address =
                    BabytreeFullSizeAddress(Unslash(TextBetween(pieces[i], "img\":\"", "\"")));
                const std::string description =
                    UnicodeDecoded(TextBetween(pieces[i], "title\":\"", "\""));
                if (!OfferPhoto(session, keys, address, description, albumIndex)) {
                    return false;
                }
            }
            return true;
        });
}

// --- Page-list form ------------------------------------------------------------------

bool ListPagedAlbums(Session& session, const std::string& text, SeenKeys& keys) {
    TakeOwner(session, text);
    Pieces pieces;
    SplitAll(text, "class=\"thumb\">", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "\"");
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        record.name = TextBetween(piece, "<strong>", "</strong>");
        record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "(", ")")));
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void PagedAlbumList(Session& session, const std::string& user) {
    // The query names the user "u" and the id; the typed address already carries the "u".
    const std::string id = user.starts_with("u") ? user.substr(1) : user;
    URLRequest request = BabytreeRequest("vertical-align:middle");
    WalkMarkedPages(
        RequestSource(request, kBabytreeDecode),
        [&](int page) {
            return SiteBase("babytree.web") + "/user/showuser.php?uid=u" + id +
                   "&tab=photo&view=album_list&order=&pg=" + std::to_string(page);
        },
        kNextArrow,
        [&](const std::string& text, int, SeenKeys& keys) {
            return ListPagedAlbums(session, text, keys);
        });
}

// The list shows thumbnails only; each photo's own page holds the full picture.
std::string PictureOnPhotoPage(const std::string& photoPage) {
    URLRequest request = BabytreeRequest("");
    std::string text;
    if (!FetchPage(request, photoPage, kBabytreeDecode, text)) {
        return "";
    }
    return TextBetween(text, "src=\"", "\"");
}

bool CollectPagedPhotos(Session& session, const std::string& text, int albumIndex, SeenKeys& keys) {
    Pieces pieces;
    SplitAll(text, "class=\"thumb\">", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string photoPage = TextBetween(pieces[i], "href=\"", "\"");
        if (photoPage.empty() || !keys.Add("page " + photoPage)) {
            continue;
        }
        ReplaceAll(photoPage, "#detail", "&show=big");
        const std::string description = TextBetween(pieces[i], "alt=\"", "\"");
        const std::string address = PictureOnPhotoPage(OnSiteHost("babytree.web", photoPage));
        if (!OfferPhoto(session, keys, address, description, albumIndex)) {
            return false;
        }
    }
    return true;
}

void PagedAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string base = OnSiteHost("babytree.web", album->key);
    URLRequest request = BabytreeRequest("vertical-align:middle;");
    WalkMarkedPages(
        RequestSource(request, kBabytreeDecode),
        [&](int page) { return base + "&pg=" + std::to_string(page); }, kNextArrow,
        [&](const std::string& text, int, SeenKeys& keys) {
            return CollectPagedPhotos(session, text, albumIndex, keys);
        });
}

}  // namespace

std::string BabytreeFullSizeAddress(std::string address) {
    if (FoundAfterStart(address, "foto3/thumbs/")) {
        ReplaceAll(address, "_sm.", "_nb.");
    } else {
        ReplaceAll(address, "_sm.", "_b.");
        ReplaceAll(address, "/thumbs/", "/photos/");
    }
    return address;
}

void RegisterBabytree() {
    RegisterAlbumLister(AlbumLister::BabytreeFirstForm, &JsonAlbumList);
    RegisterAlbumLister(AlbumLister::BabytreeSecondForm, &PagedAlbumList);
    RegisterPhotoLister(PhotoLister::BabytreeFirstFormPhotos, &JsonAlbumPhotos);
    RegisterPhotoLister(PhotoLister::BabytreeSecondFormPhotos, &PagedAlbumPhotos);
}

}  // namespace brenvik
