// duitang: a user's albums (or the one album a typed address names) and each album's
// photos, both from the site's JSON pages. The album list wants a pause between pages.
#include <ctime>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

std::string Base() {
    return SiteBase("duitang.web");
}

// The cache-buster the pages take: the time in whole seconds, then four zeros.
std::string TimeParameter() {
    return std::to_string(static_cast<long long>(std::time(nullptr))) + "0000";
}

std::string RefererBlock(const std::string& referer) {
    return std::string(kAcceptCompressed) + "\r\nReferer: " + referer;
}

// Lists show thumbnails ("x.thumb.224_0.jpg"); the full-size picture drops the size.
std::string FullSize(std::string address) {
    ReplaceAll(address, ".thumb.224_0.", ".");
    ReplaceAll(address, ".thumb.700_0.", ".");
    return address;
}

std::string AlbumId(const std::string& piece) {
    return TextBetween(piece, "\"id\":", ",");
}

std::string PictureAddress(const std::string& piece) {
    return TextBetween(piece, "isrc\":\"", "\"");
}

// The album a typed address named, read from the typed page itself.
void OneAlbum(Session& session, const std::string& albumId) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchPage(request, session.AddressText(), kAutoPages, page) || page.empty()) {
        return;
    }
    AlbumRecord record;
    record.name = TextBetween(page, "album-title\">", "</");
    record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(page, "count\">", "个")));
    record.key = albumId;
    AddAlbum(session, record);
}

// The input is the user id; the site text holds the album id when one album was typed.
void DuitangAlbumList(Session& session, const std::string& userId) {
    if (const std::string albumId = session.SiteText(); !albumId.empty()) {
        OneAlbum(session, albumId);
        return;
    }
    URLRequest request = AdapterRequest();
    request.headers = RefererBlock(Base() + "/people/?user_id=" + userId);
    RepeatGuard guard;
    for (int page = 1;; ++page) {
        AdapterPause(session, 1500ms);
        if (session.listingState == kListingStopAsked) {
            return;
        }
        std::string text;
        const std::string address = Base() + "/album/list/" + std::to_string(page) +
                                    "/24/?user_id=" + userId + "&_=" + TimeParameter();
        if (!FetchPage(request, address, kAutoPages, text) || text.empty()) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"like_count\"", pieces);
        if (pieces.size() < 2 || guard.Repeats(RepeatGuard::Of(pieces, AlbumId))) {
            return;
        }
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            AlbumRecord record;
            record.photoCount =
                static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "count\":", ",")));
            record.coverUrl = TextBetween(piece, "pics\":[\"", "\"");
            record.key = AlbumId(piece);
            record.name = TextBetween(piece, "name\":\"", "\"");
            if (!record.key.empty() && !AddAlbumAndGoOn(session, record)) {
                return;
            }
        }
    }
}

void DuitangAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = AdapterRequest();
    request.headers = RefererBlock(Base() + "/album/" + album->key + "/");
    RepeatGuard guard;
    for (int page = 1;; ++page) {
        std::string text;
        const std::string address = Base() + "/album/" + album->key + "/masn/p/" +
                                    std::to_string(page) + "/24/?_=" + TimeParameter();
        if (!FetchPage(request, address, kAutoPages, text) || text.empty()) {
            return;
        }
        const bool last = text.find("has_next\":false") != std::string::npos;
        KeepBefore("has_next\":", text);
        Pieces pieces;
        SplitAll(text, "\"photo_id", pieces);
        if (guard.Repeats(RepeatGuard::Of(pieces, PictureAddress))) {
            return;
        }
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string image = FullSize(PictureAddress(pieces[i]));
            const std::string description = TextBetween(pieces[i], "msg\":\"", "\"");
            if (!AddPhotoAndGoOn(session, image, description.empty() ? album->name : description,
                                 "", albumIndex)) {
                return;
            }
        }
        if (last) {
            return;
        }
    }
}

}  // namespace

void RegisterDuitang() {
    RegisterAlbumLister(AlbumLister::DuitangAlbums, &DuitangAlbumList);
    RegisterPhotoLister(PhotoLister::DuitangAlbumPhotos, &DuitangAlbumPhotos);
}

}  // namespace brenvik
