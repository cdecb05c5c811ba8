// PChome photo albums: a user's album pages and each album's photo pages, both paged by
// the "next page" link. The site writes Big5.
#include "sites/Pchome.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kPchomeDecode = kDecodeInflate | kDecodeBig5;
const std::vector<std::string> kNextPage = {"\">下一頁>"};

bool ListAlbumPage(Session& session, std::string text, SeenKeys& keys) {
    KeepBefore("MainListSection", text);
    Pieces pieces;
    SplitAll(text, "class=\"MarkSet\"", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "\"");
        const std::string cover = TextBetween(piece, "Img[", "]");
        record.coverUrl = cover.empty() ? "" : SiteBase("pchome.web") + cover;
        record.name = TextBetween(piece, "<span>", "</span>");
        record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "共", "張")));
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void PchomeAlbumList(Session& session, const std::string& user) {
    URLRequest request = CompressedAdapterRequest();
    WalkMarkedPages(
        RequestSource(request, kPchomeDecode),
        [&](int page) { return SiteBase("pchome.web") + "/" + user + "*" + std::to_string(page); },
        kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            return ListAlbumPage(session, text, keys);
        });
}

bool CollectPhotoPage(Session& session, std::string text, int albumIndex, SeenKeys& keys) {
    SkipPast("PhotoList", true, text);
    KeepBefore("PageInfo", text);
    Pieces pieces;
    SplitAll(text, "Icon:'", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        const std::string path = TextBetween(piece, "/", "',");
        const std::string address = path.empty() ? "" : PchomeFullSizeAddress(path);
        const std::string description = TextBetween(piece, "DataSet[", "]'");
        if (!OfferPhoto(session, keys, address, description, albumIndex)) {
            return false;
        }
    }
    return true;
}

void PchomeAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    const std::string base = OnSiteHost("pchome.web", album->key);
    WalkMarkedPages(
        RequestSource(request, kPchomeDecode),
        [&](int page) { return base + "*" + std::to_string(page); }, kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            return CollectPhotoPage(session, text, albumIndex, keys);
        });
}

}  // namespace

std::string PchomeFullSizeAddress(std::string path) {
    // Only the path changes: the host is never rewritten.
    ReplaceAll(path, "s.", ".");
    return SiteBase("pchome.web") + "/" + path;
}

void RegisterPchome() {
    RegisterAlbumLister(AlbumLister::PchomeAlbums, &PchomeAlbumList);
    RegisterPhotoLister(PhotoLister::PchomeAlbumPhotos, &PchomeAlbumPhotos);
}

}  // namespace brenvik
