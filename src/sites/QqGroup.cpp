// QQ group shared albums: the albums a group shares and their photos. The group services
// take the logged-in user's number and the Qzone token made from the login cookie.
#include "sites/QqGroup.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "session/PageWatch.h"
#include "sites/Qzone.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kGroupDecode = kDecodeInflate | kDecodeUtf8;
constexpr int kAlbumsPerPage = 60;
constexpr int kPhotosPerPage = 500;
constexpr const char* kNotLoggedIn = "message\":\"对不起，您尚未登录";

std::string PhotoServiceBase() {
    return SiteBase("qqgroup.photo");
}

// Creation times become folder names; a colon may not stand in one.
std::string FolderSafeTime(std::string time) {
    ReplaceAll(time, ":", "：");
    return time;
}

std::string AlbumListAddress(const std::string& group, const std::string& uin, int start,
                             unsigned token) {
    return PhotoServiceBase() + "/cgi-bin/upp/qun_list_album_v2?qunId=" + group + "&uin=" + uin +
           "&hostUin=" + uin + "&start=" + std::to_string(start) +
           "&num=60&userInfo=1&format=jsonp&platform=qzone&inCharset=utf-8&outCharset=utf-8"
           "&source=jsapi&g_tk=" +
           std::to_string(token);
}

AlbumRecord AlbumFromPiece(std::string piece, const std::string& group, const std::string& uin,
                                unsigned token) {
    AlbumRecord record;
    record.text4 = FolderSafeTime(TextBetween(piece, "createtime\" : \"", "\""));
    record.coverUrl = Unslash(piece.substr(0, piece.find('"')));
    const std::string albumId = TextBetween(piece, "\"id\" : \"", "\"");
    record.name = TextBetween(piece, "\"title\" : \"", "\"");
    record.photoCount = static_cast<std::int32_t>(
        ReadNumber(TextBetween(piece, "\"photocnt\" :", ",", kTextConsume)));
    record.key =
        "qunId=" + group + "&albumId=" + albumId + "&uin=" + uin + "&g_tk=" + std::to_string(token);
    return record;
}

void QqGroupAlbumList(Session& session, const std::string& group) {
    // Anything but a group number would only make the service answer for another group.
    if (group.empty() || !IsDigitsOnly(group)) {
        return;
    }
    const std::string cookies = GetCookies(SiteBase("qqgroup.home") + "/") + ";";
    const unsigned token = QzoneToken(CookieValue(cookies, "skey"));
    const std::string uin = QqGroupUserNumber(cookies);
    session.SetSiteText(uin);
    URLRequest request = CompressedAdapterRequest();
    SeenKeys seen;
    for (int start = 0;; start += kAlbumsPerPage) {
        std::string text;
        if (!FetchPage(request, AlbumListAddress(group, uin, start, token), kGroupDecode, text) ||
            text.empty()) {
            return;
        }
        if (FoundAfterStart(text, kNotLoggedIn)) {
            // The service's own answer: the listing's hint says what to do.
            NotePageUnderstood();
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"coverurl\" : \"", pieces);
        const std::size_t before = session.albums.Size();
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const AlbumRecord record = AlbumFromPiece(pieces[i], group, uin, token);
            if (!record.name.empty() && !OfferAlbum(session, seen, record)) {
                return;
            }
        }
        if (session.albums.Size() == before) {
            return;  // a page with nothing new: past the last one
        }
    }
}

// The name text by the name-source choice: the photo name or its description first.
std::string NameText(const std::string& piece, unsigned nameSource) {
    const std::string name = TextBetween(piece, "\"name\" : \"", "\"");
    const std::string desc = TextBetween(piece, "\"desc\" : \"", "\"");
    const std::string first = Trimmed(nameSource == 1 ? name : desc);
    return first.empty() ? (nameSource == 1 ? desc : name) : first;
}

void QqGroupPhotoList(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const unsigned nameSource = session.Extended().nameSource;
    URLRequest request = CompressedAdapterRequest();
    SeenKeys seen;
    for (int page = 0;; ++page) {
        const std::string address =
            PhotoServiceBase() +
            "/cgi-bin/upp/qun_list_photo_v2?getCommentCnt=5&format=jsonp&platform=qzone"
            "&inCharset=utf-8&outCharset=utf-8&source=jsapi&" +
            album->key + "&t=" + RandomFraction() +
            "&start=" + std::to_string(page * kPhotosPerPage) + "&num=500";
        std::string text;
        if (!FetchPage(request, address, kGroupDecode, text) || text.empty()) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"bheight\"", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string url = QqGroupPhotoAddress(pieces[i]);
            if (url.empty() || !seen.Add(url)) {
                continue;
            }
            anythingNew = true;
            AddPhoto(session, url, NameText(pieces[i], nameSource), "", albumIndex);
            if (PhotoListShouldStop(session)) {
                return;
            }
        }
        if (!anythingNew) {
            return;
        }
    }
}

}  // namespace

std::string QqGroupUserNumber(const std::string& cookies) {
    std::string uin = TextBetween(cookies, "guin=o", ";");
    if (uin.empty()) {
        // Logins that set only the Qzone cookie "uin" still name the user.
        uin = CookieValue(cookies, "uin");
        if (!uin.empty() && uin[0] == 'o') {
            uin.erase(0, 1);
        }
    }
    if (!uin.empty() && uin[0] == '0') {
        uin.erase(0, 1);
    }
    return uin;
}

std::string QqGroupPhotoAddress(const std::string& piece) {
    std::string address = TextBetween(piece, "\"rawurl\" : \"", "\"");
    if (address.empty()) {
        address = TextBetween(piece, "\"hdurl\" : \"", "\"");
    }
    if (address.empty()) {
        address = TextBetween(piece, "\"burl\" : \"", "\"");
        if (!address.empty()) {
            address += "/800";
        }
    }
    address = Unslash(address);
    ReplaceAll(address, "/200/", "/");
    ReplaceAll(address, "/200?", "/800?");
    return address;
}

void RegisterQqGroup() {
    RegisterAlbumLister(AlbumLister::QqGroupAlbums, &QqGroupAlbumList);
    RegisterPhotoLister(PhotoLister::QqGroupPhotos, &QqGroupPhotoList);
}

}  // namespace brenvik
