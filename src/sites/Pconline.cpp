// PConline photo albums: the user's album list pages, and each album's one page of
// pictures.
#include "sites/Pconline.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kPconlineDecode = kDecodeInflate | kDecodeAuto;
const std::vector<std::string> kNextPage = {">下一页</a>"};

bool ListAlbumPage(Session& session, const std::string& text, SeenKeys& keys) {
    const std::string owner = TextBetween(text, "】", "_太平洋");
    if (!owner.empty()) {
        session.SetOwnerName(owner);
    }
    Pieces pieces;
    SplitAll(text, "class=\"picbox", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "\"");
        ReplaceAll(record.key, "photo/", "photo/list_");
        record.name = TextBetween(piece, "title=\"", "\"");
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void PconlineAlbumList(Session& session, const std::string& firstPage) {
    URLRequest request = CompressedAdapterRequest();
    WalkMarkedPages(
        RequestSource(request, kPconlineDecode),
        [&](int page) { return PconlineListPage(firstPage, page); }, kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            return ListAlbumPage(session, text, keys);
        });
}

std::string NumberedName(const std::string& name, std::size_t number) {
    return name + " (" + std::to_string(number) + ")";
}

void PconlineAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    request.endMarker = "class=\"artOutWrap";
    std::string text;
    if (!FetchPage(request, OnSiteHost("pconline.web", album->key), kPconlineDecode, text)) {
        return;
    }
    Pieces pieces;
    SplitAll(text, "class=\"picture", pieces);
    SeenKeys keys;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string address = TextBetween(pieces[i], "src=\"", "\"");
        ReplaceAll(address, "_mthumb", "");
        if (!OfferPhoto(session, keys, address, NumberedName(album->name, i), albumIndex)) {
            return;
        }
    }
}

}  // namespace

std::string PconlineListPage(std::string firstPage, int page) {
    ReplaceAll(firstPage, "_dk1stp_", "_p" + std::to_string(page) + "_");
    return firstPage;
}

void RegisterPconline() {
    RegisterAlbumLister(AlbumLister::PconlineAlbums, &PconlineAlbumList);
    RegisterPhotoLister(PhotoLister::PconlineAlbumPhotos, &PconlineAlbumPhotos);
}

}  // namespace brenvik
