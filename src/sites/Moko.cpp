// moko: a user's post page names the category lists; each list is walked page by page
// for its albums. An album is one page of pictures.
#include "sites/Moko.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kMokoDecode = kDecodeInflate | kDecodeAuto;
// The link is written "&gt;" or ">"; decoding turns the first form into the second.
const std::vector<std::string> kNextPage = {"class=\"b bC\">></a>"};

void TakeOwner(Session& session, const std::string& owner) {
    if (!owner.empty()) {
        session.SetOwnerName(owner);
    }
}

// The category lists named on the user's page.
std::vector<std::string> CategoryLists(Session& session, const std::string& userPage) {
    URLRequest request = CompressedAdapterRequest();
    request.endMarker = "<div class=\"sBox";
    std::string text;
    if (!FetchPage(request, userPage, kMokoDecode, text)) {
        return {};
    }
    std::string ownerPart = text;
    SkipPast("imgUserLogo", true, ownerPart);
    TakeOwner(session, TextBetween(ownerPart, "title=\"", "'s"));
    SkipPast("class=\"mwC\"", true, text);
    KeepBefore("<div class=\"sBox", text);
    Pieces pieces;
    SplitAll(text, "href=\"", pieces);
    std::vector<std::string> lists;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string path = pieces[i].substr(0, pieces[i].find('"'));
        if (!path.empty()) {
            lists.push_back(OnSiteHost("moko.web", path));
        }
    }
    return lists;
}

// Albums come in two page forms, each with its own way of writing the count.
bool ListAlbumPage(Session& session, const std::string& text, SeenKeys& keys) {
    TakeOwner(session, TextBetween(text, "<title>", "'s"));
    Pieces pieces;
    SplitAll(text, "class=\"show", pieces);
    if (pieces.size() < 2) {
        SplitAll(text, "class=\"twShow", pieces);
    }
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        std::string count = TextBetween(piece, "mC\">", "</");
        if (count.empty()) {
            count = TextBetween(piece, "/>(", ")");
        }
        record.photoCount = static_cast<std::int32_t>(ReadNumber(count));
        record.name = TextBetween(piece, "title=\"", "\"");
        record.key = TextBetween(piece, "href=\"", "\"");
        record.coverUrl = TextBetween(piece, "src2=\"", "\"");
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

// Walks one list; false when the listing must stop.
bool WalkList(Session& session, const std::string& list) {
    const std::size_t lastSlash = list.rfind('/');
    const std::string base = lastSlash == std::string::npos ? list : list.substr(0, lastSlash);
    URLRequest request = CompressedAdapterRequest();
    bool stopped = false;
    WalkMarkedPages(
        RequestSource(request, kMokoDecode),
        [&](int page) { return base + "/" + std::to_string(page) + ".html"; }, kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            stopped = !ListAlbumPage(session, text, keys);
            return !stopped;
        });
    return !stopped;
}

void MokoAlbumList(Session& session, const std::string& address) {
    const bool oneList = address.find("/category/") != std::string::npos ||
                         address.find("/new/") != std::string::npos;
    const std::vector<std::string> lists =
        oneList ? std::vector<std::string>{address} : CategoryLists(session, address);
    for (const auto& list : lists) {
        if (!WalkList(session, list)) {
            return;
        }
    }
}

void MokoAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string text;
    if (!FetchPage(request, OnSiteHost("moko.web", album->key), kMokoDecode, text)) {
        return;
    }
    Pieces pieces;
    SplitAll(text, "class=\"picBox\">", pieces);
    SeenKeys keys;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        if (!OfferPhoto(session, keys, TextBetween(pieces[i], "src2=\"", "\""), "", albumIndex)) {
            return;
        }
    }
}

}  // namespace

void RegisterMoko() {
    RegisterAlbumLister(AlbumLister::MokoAlbums, &MokoAlbumList);
    RegisterPhotoLister(PhotoLister::MokoAlbumPhotos, &MokoAlbumPhotos);
}

}  // namespace brenvik
