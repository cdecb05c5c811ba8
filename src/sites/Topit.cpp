// topit: the albums of one user and the pictures of each album. Pictures are listed as
// thumbnails; the full size is asked for first and the large size when that fails.
#include "sites/Topit.h"

#include <array>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kTopitDecode = kDecodeInflate | kDecodeUtf8;
constexpr const char* kNextPageMarker = "id=\"page-next";

// "https://www.topit.me/user/42/albums" or a plain "42" gives "42".
std::string UserOf(std::string input) {
    if (const std::size_t user = input.find("/user/"); user != std::string::npos) {
        input.erase(0, user + 6);
    } else if (const std::size_t slash = input.find_last_of('/', input.size() - 2);
               input.find("://") != std::string::npos && slash != std::string::npos) {
        input.erase(0, slash + 1);
    }
    CutAt(input, {"/", "?", "#"});
    return input;
}

std::string AlbumName(const std::string& item) {
    std::string name = TextBetween(item, "name=", " 专辑\"");
    if (name.empty()) {
        name = TextBetween(item, "content=\"", "\"");
    }
    if (name.starts_with("\"")) {
        name.erase(0, 1);
    }
    return name;
}

AlbumRecord AlbumFromItem(const std::string& item) {
    AlbumRecord record;
    record.name = AlbumName(item);
    record.key = TextBetween(item, "href=\"", "\"");
    record.coverUrl = TextBetween(item, "src=\"", "\"");
    const std::size_t count = item.find("<span> ( ");
    record.photoCount = count == std::string::npos
                            ? -1
                            : static_cast<std::int32_t>(ReadNumber(item.substr(count + 9)));
    return record;
}

// A typed album address lists that one album, named by its page's title.
void AddTypedAlbum(Session& session, const std::string& address) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchPage(request, address, kTopitDecode, page) || page.empty()) {
        return;
    }
    AlbumRecord record;
    record.key = address;
    record.name = Trimmed(TextBetween(page, "<title>", "</title>"));
    AddAlbum(session, record);
}

void TopitAlbumList(Session& session, const std::string& input) {
    if (FoundAfterStart(input, "/album/")) {
        AddTypedAlbum(session, input);
        return;
    }
    const std::string user = UserOf(input);
    if (user.empty()) {
        return;
    }
    const std::string userBase = SiteBase("topit.web") + "/user/" + user;
    URLRequest request = CompressedAdapterRequest();
    SeenKeys seen;
    for (int p = 1;; ++p) {
        std::string page;
        if (!FetchPage(request, userBase + "/albums?p=" + std::to_string(p), kTopitDecode, page) ||
            page.empty()) {
            return;
        }
        if (p == 1) {
            std::string header = page;
            SkipPast("class=\"pageheader", true, header);
            session.SetOwnerName(Trimmed(TextBetween(header, "h2>", "<")));
        }
        std::string list = page;
        SkipPast("class=\"albumlist\"", true, list);
        Pieces pieces;
        SplitAll(list, "albumlist_blk\"", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const AlbumRecord record = AlbumFromItem(pieces[i]);
            if (record.key.empty() || !seen.Add(record.key)) {
                continue;
            }
            anythingNew = true;
            AddAlbum(session, record);
            if (session.listingState == kListingStopAsked) {
                return;
            }
        }
        if (page.find(kNextPageMarker) == std::string::npos || !anythingNew) {
            return;
        }
    }
}

// Replaces the first of the markers found (in the order given) by the replacement.
void ReplaceFirstOf(std::string& text, const std::array<const char*, 3>& markers,
                    const std::string& replacement) {
    for (const char* marker : markers) {
        if (const std::size_t at = text.find(marker); at != std::string::npos) {
            text.replace(at, std::string_view(marker).size(), replacement);
            return;
        }
    }
}

void TopitAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    std::string listBase = album->key;
    ReplaceAll(listBase, "/album/", "/broad?type=album&id=");
    URLRequest request = CompressedAdapterRequest();
    SeenKeys seen;
    for (int p = 1;; ++p) {
        std::string page;
        if (!FetchPage(request, listBase + "&p=" + std::to_string(p), kTopitDecode, page) ||
            page.empty()) {
            return;
        }
        const bool lastPage = page.find(kNextPageMarker) == std::string::npos;
        KeepBefore("/comments\">", page);
        KeepBefore("id=\"footer", page);
        Pieces pieces;
        SplitAll(page, "<img class=\"img", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& item = pieces[i];
            std::string address = TextBetween(item, "original=\"", "\"");
            if (address.empty()) {
                address = TextBetween(item, "src=\"", "\"");
            }
            if (address.empty() || !seen.Add(address)) {
                continue;
            }
            anythingNew = true;
            std::string name = TextBetween(item, "title=\"", "\"");
            if (name.empty()) {
                name = TextBetween(item, "alt=\"", "\"");
            }
            AddPhoto(session, TopitSizePair(address), name, "", albumIndex);
            if (PhotoListShouldStop(session)) {
                return;
            }
        }
        if (lastPage || !anythingNew) {
            return;
        }
    }
}

}  // namespace

std::string TopitSizePair(const std::string& address) {
    std::string full = address;
    std::string large = address;
    ReplaceFirstOf(full, {"com/t", "com/m", "com/s"}, "com/o");
    ReplaceFirstOf(large, {"com/t", "com/m", "com/s"}, "com/l");
    ReplaceFirstOf(full, {"t.jpg", "s.jpg", "m.jpg"}, "o.jpg");
    ReplaceFirstOf(large, {"t.jpg", "s.jpg", "m.jpg"}, "l.jpg");
    return full + "\r\n" + large;
}

void RegisterTopit() {
    RegisterAlbumLister(AlbumLister::TopitAlbums, &TopitAlbumList);
    RegisterPhotoLister(PhotoLister::TopitAlbumPhotos, &TopitAlbumPhotos);
}

}  // namespace brenvik
