// poco: a user's albums (password albums marked) with their photos, and a user's
// activity list with the pictures of each post. Both lists page by a next-page link.
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr const char* kNextPage = "title=\"下一页\">";

// Lists show "_165." thumbnails; the full-size picture drops the size.
std::string FullSize(std::string address) {
    ReplaceAll(address, "_165.", ".");
    return address;
}

// Post links may be relative to the poco host.
std::string OnPocoHost(const std::string& address) {
    if (address.empty() || address.find("://") != std::string::npos) {
        return address;
    }
    return SiteBase("poco.web") + (address.starts_with("/") ? "" : "/") + address;
}

std::string AlbumHash(const std::string& piece) {
    return TextBetween(piece, ", '", "'");
}

std::string ImageSource(const std::string& piece) {
    return TextBetween(piece, "src=\"", "\"");
}

std::string Link(const std::string& piece) {
    return TextBetween(piece, "href=\"", "\"");
}

Pieces SplitOn(const std::string& text, std::string_view marker) {
    Pieces pieces;
    SplitAll(text, marker, pieces);
    return pieces;
}

void KeepOwner(Session& session, int page, const std::string& text) {
    if (page == 1) {
        session.SetOwnerName(TextBetween(text, "userName:'", "'"));
    }
}

void PocoAlbumList(Session& session, const std::string& userId) {
    URLRequest request = CompressedAdapterRequest();
    PageThrough(request, kGbkPages,
                {.address =
                     [&](int page) {
                         return SiteBase("poco.web") +
                                "/album/album_show_all.htx&user_id=" + userId +
                                "&p=" + std::to_string(page);
                     },
                 .nextMarker = kNextPage,
                 .items =
                     [&](int page, std::string& text) {
                         KeepOwner(session, page, text);
                         return SplitOn(text, "class=\"img_box\">");
                     },
                 .identity = AlbumHash,
                 .take =
                     [&](const std::string& piece) {
                         AlbumRecord record;
                         if (TextBetween(piece, "'", "'").find("pwd") != std::string::npos) {
                             record.access = kAccessEncrypted;
                         }
                         const std::string hash = AlbumHash(piece);
                         record.key = SiteBase("poco.web") +
                                      "/album/album_show_photo_list.php?user_id=" + userId +
                                      "&set_hash=" + hash;
                         record.coverUrl = ImageSource(piece);
                         record.name = TextBetween(piece, "title=\"", "\"");
                         return AddAlbumAndGoOn(session, record);
                     }});
}

void PocoAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    PageThrough(
        request, kGbkPages,
        {.address = [&](int page) { return album->key + "&do=Plist&p=" + std::to_string(page); },
         .nextMarker = kNextPage,
         .items = [](int, std::string& text) { return SplitOn(text, "class=\"img_box\">"); },
         .identity = ImageSource,
         .take =
             [&](const std::string& piece) {
                 const std::string image = FullSize(ImageSource(piece));
                 const std::string description = Trimmed(TextBetween(piece, "title=\"", "\""));
                 return AddPhotoAndGoOn(session, image,
                                        description.empty() ? album->name : description, "",
                                        albumIndex);
             }});
}

// The input is the activity list address, its own page parameter renamed away.
void PocoActivityList(Session& session, const std::string& listAddress) {
    URLRequest request = CompressedAdapterRequest();
    PageThrough(request, kGbkPages,
                {.address = [&](int page) { return listAddress + "&p=" + std::to_string(page); },
                 .nextMarker = kNextPage,
                 .items =
                     [&](int page, std::string& text) {
                         KeepOwner(session, page, text);
                         return SplitOn(text, "class=\"title\">");
                     },
                 .identity = Link,
                 .take =
                     [&](const std::string& piece) {
                         AlbumRecord record;
                         record.key = OnPocoHost(Link(piece));
                         record.name = TextBetween(piece, ">", "</");
                         return record.key.empty() || AddAlbumAndGoOn(session, record);
                     }});
}

void PocoPostPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string text;
    if (!FetchPage(request, album->key, kGbkPages, text) || text.empty()) {
        return;
    }
    const bool originals = text.find("originPhoto:'") != std::string::npos;
    const Pieces pieces = SplitOn(text, originals ? "originPhoto:'" : "src='");
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string image = pieces[i].substr(0, pieces[i].find('\''));
        if (!AddPhotoAndGoOn(session, image, album->name, "", albumIndex)) {
            return;
        }
    }
}

}  // namespace

void RegisterPoco() {
    RegisterAlbumLister(AlbumLister::PocoAlbums, &PocoAlbumList);
    RegisterAlbumLister(AlbumLister::PocoActivityList, &PocoActivityList);
    RegisterPhotoLister(PhotoLister::PocoAlbumPhotos, &PocoAlbumPhotos);
    RegisterPhotoLister(PhotoLister::PocoActivityPhotos, &PocoPostPhotos);
}

}  // namespace brenvik
