// ZOL photo albums: a user's album pages and each album's photo pages, both paged by
// the "next page" link.
#include "sites/Zol.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kZolDecode = kDecodeInflate | kDecodeAuto;
const std::vector<std::string> kNextPage = {"class=\"nor\">下一页"};

bool ListAlbumPage(Session& session, const std::string& text, SeenKeys& keys) {
    const std::string owner = TextBetween(text, "<title>", "的全部相册");
    if (!owner.empty()) {
        session.SetOwnerName(owner);
    }
    Pieces pieces;
    SplitAll(text, "id=\"pic_", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "1.html");
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        record.name = TextBetween(piece, "title=\"", "\"");
        record.photoCount =
            static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "K_11\">", "张")));
        if (!OfferAlbum(session, keys, record)) {
            return false;
        }
    }
    return true;
}

void ZolAlbumList(Session& session, const std::string& user) {
    URLRequest request = CompressedAdapterRequest();
    WalkMarkedPages(
        RequestSource(request, kZolDecode),
        [&](int page) {
            return SiteBase("zol.photo") + "/" + user + "/album_" + std::to_string(page) + ".html";
        },
        kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            return ListAlbumPage(session, text, keys);
        });
}

void ZolAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    const std::string base = OnSiteHost("zol.photo", album->key);
    WalkMarkedPages(
        RequestSource(request, kZolDecode),
        [&](int page) { return base + std::to_string(page) + ".html"; }, kNextPage,
        [&](const std::string& text, int, SeenKeys& keys) {
            Pieces pieces;
            SplitAll(text, "id=\"pic_", pieces);
            for (std::size_t i = 1; i < pieces.size(); ++i) {
                const std::string address =
                    ZolFullSizeAddress(TextBetween(pieces[i], "src=\"", "\""));
                const std::string description = TextBetween(pieces[i], "title=\"", "\"");
                if (!OfferPhoto(session, keys, address, description, albumIndex)) {
                    return false;
                }
            }
            return true;
        });
}

}  // namespace

std::string ZolFullSizeAddress(std::string address) {
    if (FoundAfterStart(address, "cn/t_s")) {
        const std::string folder = "/t_s" + TextBetween(address, "cn/t_s", "/");
        address.erase(address.find(folder), folder.size());
    }
    // Only a file name with a size suffix has a "_" to drop it at; without one the
    // address is the picture itself.
    const std::size_t underscore = address.find('_');
    if (underscore == std::string::npos) {
        return address;
    }
    const std::size_t dot = address.find('.', underscore);
    const std::string extension = dot == std::string::npos ? "" : address.substr(dot);
    return address.substr(0, underscore) + extension;
}

void RegisterZol() {
    RegisterAlbumLister(AlbumLister::ZolAlbums, &ZolAlbumList);
    RegisterPhotoLister(PhotoLister::ZolAlbumPhotos, &ZolAlbumPhotos);
}

}  // namespace brenvik
