// Instagram: the user's page is the one album; its media come from the user page and
// then from the media service, page after page by cursor.
#include "sites/Instagram.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kInstagramDecode = kDecodeInflate | kDecodeAuto;

void InstagramAlbum(Session& session, const std::string& user) {
    session.SetOwnerName("");
    AlbumRecord record;
    record.name = user;
    record.key = session.SiteText() + ".com/" + user;
    record.photoCount = -1;
    AddAlbum(session, record);
}

struct MediaPage {
    bool stop = false;   // the collection must stop
    std::string cursor;  // where the next page starts
};

// The user page: its items, and the cursor of the page after it.
MediaPage UserPage(Session& session, const std::string& text, int albumIndex, unsigned choice,
                   SeenKeys& keys) {
    MediaPage result;
    result.cursor = TextBetween(text, "end_cursor\":\"", "\"");
    Pieces pieces;
    SplitAll(text, "comments\":", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string description =
            UnicodeDecoded(TextBetween(pieces[i], "caption\":\"", "\""));
        const std::string picture = InstagramPhotoHostAddress(
            Unslash(TextBetween(pieces[i], "display_src\":\"", "\"")), choice);
        if (!picture.empty() && !OfferPhoto(session, keys, picture, description, albumIndex)) {
            result.stop = true;
            return result;
        }
    }
    if (pieces.size() < 2) {
        result.cursor.clear();
    }
    return result;
}

// A media answer: its items; the last item's id is the cursor of the next answer.
MediaPage MediaAnswer(Session& session, const std::string& text, int albumIndex, unsigned choice,
                      SeenKeys& keys) {
    MediaPage result;
    Pieces pieces;
    SplitAll(text, "\"images\":", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string item = pieces[i];
        const std::string picture = InstagramPhotoHostAddress(InstagramItemPicture(item), choice);
        SkipPast("alt_media_url", true, item);
        const std::string description = UnicodeDecoded(TextBetween(item, "text\":\"", "\""));
        SkipPast("type\":\"", true, item);
        result.cursor = TextBetween(item, "id\":\"", "\"");
        if (!picture.empty() && !OfferPhoto(session, keys, picture, description, albumIndex)) {
            result.stop = true;
            return result;
        }
    }
    return result;
}

void InstagramMedia(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const unsigned choice = session.Extended().instagramChoice;
    URLRequest request = AdapterRequest();
    request.headers = kInstagramHeaders;
    SeenKeys keys;
    bool first = true;
    WalkCursorPages(
        RequestSource(request, kInstagramDecode), album->key,
        [&](const std::string& cursor) { return album->key + "/media?max_id=" + cursor; },
        [&](const std::string& text) -> std::optional<std::string> {
            const MediaPage page = first ? UserPage(session, text, albumIndex, choice, keys)
                                         : MediaAnswer(session, text, albumIndex, choice, keys);
            first = false;
            if (page.stop) {
                return std::nullopt;
            }
            return page.cursor;
        });
}

}  // namespace

std::string InstagramItemPicture(const std::string& item) {
    // The largest picture first; the thumbnail only when there is nothing larger.
    for (const char* size : {"standard_resolution\"", "low_resolution\"", "thumbnail\""}) {
        std::string address = TextBetween(item, size, "\",");
        if (SkipPast("\":\"", true, address) >= 0 && !address.empty()) {
            return Unslash(address);
        }
    }
    return "";
}

std::string InstagramPhotoHostAddress(const std::string& address, unsigned choice) {
    constexpr std::string_view kFolder = "com/hphotos-";
    const std::size_t at = address.find(kFolder);
    if (choice != 0 || at == std::string::npos) {
        return address;
    }
    return SiteBase("instagram.photo") + "/hphotos-ak-" + address.substr(at + kFolder.size());
}

void RegisterInstagram() {
    RegisterAlbumLister(AlbumLister::InstagramAlbums, &InstagramAlbum);
    RegisterPhotoLister(PhotoLister::InstagramMedia, &InstagramMedia);
}

}  // namespace brenvik
