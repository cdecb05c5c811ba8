// Baidu albums and Tieba: an account's albums, a Tieba bar's albums, one Tieba thread.
#include "sites/Baidu.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kBaiduDecode = kDecodeInflate | kDecodeUtf8;
constexpr const char* kNonPublicQuestion =
    "为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框";

// Texts holding "\u" escapes are decoded.
std::string Decoded(std::string text) {
    return text.find("\\u") == std::string::npos ? text : UnescapeUnicode(text);
}

// Adds one photo; false when the collection must stop. An entry without an address
// has nothing to download and is left out.
bool AddOne(Session& session, const std::string& url, const std::string& description,
            const AlbumRecord& album, int albumIndex) {
    if (url.empty()) {
        return true;
    }
    AddPhoto(session, url, description.empty() ? album.name : description, "", albumIndex);
    return !PhotoListShouldStop(session);
}

// --- Account albums ----------------------------------------------------------------

// The albums embedded in the account page; false when the listing must stop.
bool ListEmbeddedAlbums(Session& session, std::string page) {
    SkipPast("mobileAlbum:", true, page);
    KeepBefore("userAlbumList", page);
    ReplaceAll(page, "\":\"", ": '");
    ReplaceAll(page, "\",\"", "',");
    Pieces pieces;
    SplitAll(page, "create_time:", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.name = Decoded(TextBetween(piece, "album_name: '", "'"));
        record.key = TextBetween(piece, "album_sign: '", "'");
        if (record.key.empty()) {
            continue;
        }
        record.photoCount = ReadCount(TextBetween(piece, "album_picture_total: '", "'"));
        record.coverUrl = Unslash(TextBetween(piece, "picture_cover: '", "'"));
        if (!AddAlbumAndGoOn(session, record)) {
            return false;
        }
    }
    return true;
}

void BaiduAlbumList(Session& session, const std::string& account) {
    URLRequest request = CompressedAdapterRequest();
    request.endMarker = "id=\"feedback\"";
    std::string page;
    if (!FetchPage(request, SiteBase("baidu.album") + "/u/" + account, kBaiduDecode, page) ||
        page.empty()) {
        return;
    }
    session.SetOwnerName(account);
    if (!ListEmbeddedAlbums(session, page)) {
        return;
    }
    request = CompressedAdapterRequest();
    std::string lastKey;
    for (;;) {
        const std::string address = SiteBase("baidu.album") + "/album/list/" + account +
                                    "?size=2000&album_type=0&album_sign=" + lastKey +
                                    "&_=" + RandomFraction();
        std::string text;
        if (!FetchPage(request, address, kBaiduDecode, text) || text.empty() ||
            text.find("\"picture_cover") == std::string::npos) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"picture_cover", pieces);
        const std::string keyBefore = lastKey;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            AlbumRecord record;
            record.coverUrl = TextBetween(piece, ":\"", "\"");
            record.name = Decoded(TextBetween(piece, "album_name\":\"", "\""));
            record.key = TextBetween(piece, "album_sign\":\"", "\"");
            if (record.key.empty()) {
                continue;
            }
            record.photoCount = ReadCount(TextBetween(piece, "picture_total\":", "\""));
            record.coverUrl = Unslash(record.coverUrl);
            lastKey = record.key;
            if (!AddAlbumAndGoOn(session, record)) {
                return;
            }
        }
        // A service that ignores the album sign would hand out the same page for ever.
        if (lastKey == keyBefore) {
            return;
        }
    }
}

// ".../album/<size>/item/<file>" becomes ".../album/pic/item/<file>". An address
// without "album" is not a list picture of that form and stays as it is.
std::string FullSizeAddress(const std::string& address) {
    const std::size_t lastSlash = address.rfind('/');
    if (lastSlash == std::string::npos || address.find("album") == std::string::npos) {
        return address;
    }
    const std::string tail = address.substr(lastSlash);
    std::string head = address;
    KeepBefore("album", head);
    return head + "album/pic/item" + tail;
}

void BaiduAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    long long offset = 0;
    bool firstTry = true;
    std::string firstPieceBefore;
    for (;;) {
        const std::string address = SiteBase("baidu.album") + "/picture/album/list/" + album->key +
                                    "?format=json&size=100&pn=" + std::to_string(offset) +
                                    "&width=80&t=" + RandomFraction() + "&resolution=1280";
        std::string text;
        if (!FetchPage(request, address, kBaiduDecode, text) || text.empty()) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "picture_name", pieces);
        if (pieces.size() < 2) {
            if (album->photoCount > 0 && offset == 0 && firstTry &&
                session.Front().AskYesNo(kNonPublicQuestion)) {
                session.Front().OpenLogin(SiteBase("baidu.album") + "/picture/album/list/" +
                                          album->key);
                firstTry = false;
                continue;
            }
            return;
        }
        // A service that ignores the offset would hand out the same page for ever.
        if (pieces[1] == firstPieceBefore) {
            return;
        }
        firstPieceBefore = pieces[1];
        offset += static_cast<long long>(pieces.size() - 1);
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            const std::string description = Decoded(TextBetween(piece, "\":\"", "\""));
            const std::string image =
                FullSizeAddress(Unslash(TextBetween(piece, "img_src\":\"", "\"")));
            if (!AddOne(session, image, description, *album, albumIndex)) {
                return;
            }
        }
    }
}

// --- Tieba bar albums -------------------------------------------------------------

void TiebaBarAlbums(Session& session, const std::string& bar) {
    URLRequest request = CompressedAdapterRequest();
    std::string firstKeyBefore;
    for (int page = 1;; ++page) {
        const std::string address = SiteBase("tieba.web") + "/photo/g?kw=" + bar +
                                    "&alt=jview&pn=" + std::to_string(page) +
                                    "&rn=30&cat_id=all&_=" + RandomFraction();
        std::string text;
        if (!FetchPage(request, address, kBaiduDecode, text) || text.empty() ||
            text.find("class=\\\"grbm_ele_wrapper") == std::string::npos) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "class=\\\"grbm_ele_wrapper", pieces);
        std::string firstKey;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            std::string piece = pieces[i];
            AlbumRecord record;
            record.key = Unslash(TextBetween(piece, "href=\\\"", "\\\""));
            SkipPast("p/", true, record.key);
            if (record.key.empty()) {
                continue;
            }
            if (firstKey.empty()) {
                firstKey = record.key;
            }
            record.coverUrl = Unslash(TextBetween(piece, "src=\\\"", "\\\""));
            SkipPast("grbm_ele_pic_amount", true, piece);
            record.photoCount = ReadCount(TextBetween(piece, ">", "<"));
            record.name = Decoded(TextBetween(piece, "title=\\\"", "\\\""));
            if (!AddAlbumAndGoOn(session, record)) {
                return;
            }
        }
        if (firstKey.empty() || firstKey == firstKeyBefore) {
            return;
        }
        firstKeyBefore = firstKey;
    }
}

// A picture without an id has no address.
std::string TiebaPicture(const std::string& id) {
    if (id.empty()) {
        return {};
    }
    return SiteBase("tieba.picture") + "/forum/pic/item/" + id + ".jpg";
}

void TiebaAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string bar = session.SiteText();
    URLRequest request = CompressedAdapterRequest();
    std::string firstIdBefore;
    for (int page = 1;; ++page) {
        const std::string address = SiteBase("tieba.web") + "/photo/g/bw/picture/list?kw=" + bar +
                                    "&alt=jview&rn=200&tid=" + album->key +
                                    "&pn=" + std::to_string(page) +
                                    "&ps=0&pe=200&wall_type=v&_=" + RandomFraction();
        std::string text;
        if (!FetchPage(request, address, kBaiduDecode, text) || text.empty() ||
            text.find("pic_id\"") == std::string::npos) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "pic_id\"", pieces);
        const std::string firstId = TextBetween(pieces[1], "\"", "\"");
        if (firstId == firstIdBefore) {
            return;
        }
        firstIdBefore = firstId;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string id = TextBetween(pieces[i], "\"", "\"");
            const std::string description = Decoded(TextBetween(pieces[i], "descr\":\"", "\""));
            if (!AddOne(session, TiebaPicture(id), description, *album, albumIndex)) {
                return;
            }
        }
    }
}

// --- Tieba thread -----------------------------------------------------------------

void TiebaThreadAlbum(Session& session, const std::string& threadAddress) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchPage(request, threadAddress, kBaiduDecode, page)) {
        return;
    }
    AlbumRecord record;
    record.key = threadAddress;
    record.name = Decoded(TextBetween(page, "title' : '", "'"));
    record.photoCount = -1;
    AddAlbumAndGoOn(session, record);
}

void TiebaThreadPictures(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string lastId;
    for (;;) {
        std::string address = album->key +
                              "&see_lz=1&from_page=0&alt=jview&next=50&prev=1&pic_id=" + lastId +
                              "&_=" + RandomFraction();
        ReplaceAll(address, "/photo/p", "/photo/bw/picture/guide");
        std::string text;
        if (!FetchPage(request, address, kBaiduDecode, text) || text.empty()) {
            return;
        }
        if (!lastId.empty()) {
            SkipPast(lastId, true, text);
        }
        if (text.find("\"img\":") == std::string::npos) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"img\":", pieces);
        const std::string idBefore = lastId;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            lastId = TextBetween(piece, "id\":\"", "\"");
            std::string image = Unslash(TextBetween(piece, "waterurl\":\"", "\""));
            if (image.empty()) {
                image = TiebaPicture(lastId);
            }
            const std::string description = Decoded(TextBetween(piece, "descr\":\"", "\""));
            if (!AddOne(session, image, description, *album, albumIndex)) {
                return;
            }
        }
        // The cursor must move, or the same pictures would come back for ever.
        if (lastId == idBefore) {
            return;
        }
    }
}

}  // namespace

std::string BaiduFullSizeAddress(const std::string& listAddress) {
    return FullSizeAddress(listAddress);
}

void RegisterBaidu() {
    RegisterAlbumLister(AlbumLister::BaiduAlbums, &BaiduAlbumList);
    RegisterAlbumLister(AlbumLister::TiebaForumAlbums, &TiebaBarAlbums);
    RegisterAlbumLister(AlbumLister::TiebaPostAlbum, &TiebaThreadAlbum);
    RegisterPhotoLister(PhotoLister::BaiduAlbumPhotos, &BaiduAlbumPhotos);
    RegisterPhotoLister(PhotoLister::TiebaAlbumPhotos, &TiebaAlbumPhotos);
    RegisterPhotoLister(PhotoLister::TiebaPostPictures, &TiebaThreadPictures);
}

}  // namespace brenvik
