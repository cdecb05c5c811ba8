// 56: a user's albums and each album's photos, both paged by a next-page link. The
// image host checks that a picture is asked for from its album page.
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

std::string AlbumKey(const std::string& piece) {
    return TextBetween(piece, "chackAlbum('", "'");
}

std::string PhotoAddress(const std::string& piece) {
    return TextBetween(piece, "src='", "'");
}

// The input is the album list address ("...index.php?user=u&perPage=20").
void AlbumList56(Session& session, const std::string& listAddress) {
    URLRequest request = CompressedAdapterRequest();
    PageThrough(request, kGbkPages,
                {.address = [&](int page) { return listAddress + "&page=" + std::to_string(page); },
                 .nextMarker = "下一页</a>",
                 .items =
                     [](int, std::string& text) {
                         SkipPast("class=\"album_list", true, text);
                         KeepBefore("</ul>", text);
                         Pieces pieces;
                         SplitAll(text, "<li", pieces);
                         return pieces;
                     },
                 .identity = AlbumKey,
                 .take =
                     [&](const std::string& piece) {
                         AlbumRecord record;
                         record.key = AlbumKey(piece);
                         record.coverUrl = TextBetween(piece, "src=\"", "\"");
                         record.name = TextBetween(piece, "title=\"", "\"");
                         record.photoCount = static_cast<std::int32_t>(
                             ReadNumber(TextBetween(piece, "140\">", "<")));
                         return record.key.empty() || AddAlbumAndGoOn(session, record);
                     }});
}

void Photos56(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string pageAddress;
    PageThrough(request, kGbkPages,
                {.address =
                     [&](int page) {
                         pageAddress = SiteBase("56.photo") +
                                       "/photo/album/?do=Plist&did=" + album->key +
                                       "&page=" + std::to_string(page);
                         return pageAddress;
                     },
                 .nextMarker = "\">下一页</a>",
                 .items =
                     [](int, std::string& text) {
                         Pieces pieces;
                         SplitAll(text, "class=\"img\"", pieces);
                         return pieces;
                     },
                 .identity = PhotoAddress,
                 .take =
                     [&](const std::string& piece) {
                         const std::string image = PhotoAddress(piece);
                         const std::string description =
                             Trimmed(StripTags(TextBetween(piece, "<label>", "</label>")));
                         return AddPhotoAndGoOn(session, image,
                                                description.empty() ? album->name : description,
                                                "Referer: " + pageAddress, albumIndex);
                     }});
}

}  // namespace

void RegisterSite56() {
    RegisterAlbumLister(AlbumLister::Albums56, &AlbumList56);
    RegisterPhotoLister(PhotoLister::Photos56, &Photos56);
}

}  // namespace brenvik
