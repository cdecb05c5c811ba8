// Hupu photo albums: one album from its address or a user's album pages, and each
// album's photo pages. The site shows albums to logged-in visitors only; while it is
// under maintenance every page says so and nothing is listed.
#include "sites/Hupu.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/Hosts.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kHupuDecode = kDecodeInflate | kDecodeAuto;
constexpr const char* kMaintenance = "当前页面正在维护中";

bool UnderMaintenance(const std::string& text) {
    return text.find(kMaintenance) != std::string::npos;
}

void OneAlbum(Session& session, const std::string& address) {
    URLRequest request = CompressedAdapterRequest();
    std::string text;
    if (!FetchPage(request, address, kHupuDecode, text) || text.empty() || UnderMaintenance(text)) {
        return;
    }
    SkipPast("class=\"albumlist", true, text);
    AlbumRecord record;
    record.coverUrl = TextBetween(text, "src=\"", "\"");
    record.name = TextBetween(text, "alt=\"", "\"");
    record.key = HupuAlbumKey(address);
    record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(text, ">共", "张")));
    SeenKeys keys;
    OfferAlbum(session, keys, record);
}

bool ListAlbumPage(Session& session, std::string text, SeenKeys& keys) {
    SkipPast("class=\"album_list", true, text);
    KeepBefore("</ul>", text);
    Pieces pieces;
    SplitAll(text, "<li", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = HupuAlbumKey(TextBetween(piece, "href=\"", "\""));
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        record.name = TextBetween(piece, "title=\"", "\"");
        record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "(共", "张")));
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void UserAlbums(Session& session, const std::string& user) {
    URLRequest request = CompressedAdapterRequest();
    WalkMarkedPages(
        RequestSource(request, kHupuDecode),
        [&](int page) {
            return SiteBase("hupu.user") + "/" + user + "/photo-" + std::to_string(page);
        },
        {"id=\"j_next"},
        [&](const std::string& text, int, SeenKeys& keys) {
            return !UnderMaintenance(text) && ListAlbumPage(session, text, keys);
        });
}

void HupuAlbumList(Session& session, const std::string& address) {
    if (address.find("/photo/a") != std::string::npos) {
        OneAlbum(session, address);
        return;
    }
    const std::string user = HupuUser(address);
    if (!user.empty()) {
        UserAlbums(session, user);
    }
}

bool CollectPhotoPage(Session& session, std::string text, int albumIndex, SeenKeys& keys) {
    SkipPast("class=\"albumlist_list", true, text);
    KeepBefore("</ul>", text);
    Pieces pieces;
    SplitAll(text, "<li", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string address = TextBetween(pieces[i], "src=\"", "\"");
        ReplaceAll(address, "small.", "big.");
        const std::string description = TextBetween(pieces[i], "title=\"", "\"");
        if (!OfferPhoto(session, keys, address, description, albumIndex)) {
            return false;
        }
    }
    return true;
}

void HupuAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    WalkMarkedPages(
        RequestSource(request, kHupuDecode),
        [&](int page) {
            return SiteBase("hupu.user") + "/" + album->key + "-" + std::to_string(page) + ".html";
        },
        {"class=\"next"},
        [&](const std::string& text, int, SeenKeys& keys) {
            return CollectPhotoPage(session, text, albumIndex, keys);
        });
}

}  // namespace

std::string HupuAlbumKey(const std::string& address) {
    std::string key = address;
    SkipPast(".com/", true, key);
    // A path written from the site's root ("/user/photo/a1.html") names the same album.
    while (key.starts_with("/")) {
        key.erase(0, 1);
    }
    CutAt(key, {"-", ".htm"});
    return key;
}

std::string HupuUser(const std::string& address) {
    std::string user = address;
    if (SkipPast(Host("hupu.fragment") + "/", true, user) < 0) {
        return "";
    }
    CutAt(user, {"/", "&", "*", "?", "#"});
    return user;
}

void RegisterHupu() {
    RegisterAlbumLister(AlbumLister::HupuAlbums, &HupuAlbumList);
    RegisterPhotoLister(PhotoLister::HupuAlbumPhotos, &HupuAlbumPhotos);
}

}  // namespace brenvik
