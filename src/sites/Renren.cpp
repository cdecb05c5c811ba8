// Renren: a user's albums (the new-style list, else the classic one), a public page's
// albums, and the posts of a station ("zhan"). Albums are read in three ways in turn:
// the new-style paged list, the classic list, the private-album list.
#include "sites/Renren.h"

#include <mutex>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kRenrenDecode = kDecodeInflate | kDecodeUtf8;
constexpr int kAlbumsPerAjaxPage = 40;
constexpr int kPhotosPerPage = 40;
constexpr std::size_t kLongestAlbumName = 300;
constexpr const char* kPasswordQuestion = "加密相册,是否输入密码";
constexpr const char* kOwnHomePage = "我的主页";
constexpr const char* kOwnAlbums = "我的相册";

URLRequest RenrenRequest(const std::string& referer = "") {
    URLRequest request = CompressedAdapterRequest();
    if (!referer.empty()) {
        request.headers += "\r\nReferer: " + referer;
    }
    return request;
}

std::string PhotoBase() {
    return SiteBase("renren.photo");
}

std::string ZhanBase() {
    return SiteBase("renren.zhan");
}

bool ListingStopped(const Session& session) {
    return session.listingState == kListingStopAsked;
}

// "<title>人人网 - 某人的相册</title>" gives "某人".
std::string OwnerFromTitle(const std::string& page, const std::string& titleStart) {
    std::string owner = TextBetween(page, titleStart, "</title>");
    KeepBefore("的相册", owner);
    return Trimmed(owner);
}

// The album title of a classic album page.
std::string ClassicAlbumTitle(std::string page) {
    SkipPast("class=\"ablum-infor\">", true, page);
    SkipPast("<span", true, page);
    return Trimmed(StripTags(TextBetween(page, "<h1>", "</h1>")));
}

// The number just before the marker ("共 12 _" gives 12); -1 when there is none.
std::int32_t NumberBefore(const std::string& text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) {
        return -1;
    }
    std::size_t begin = at;
    while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9') {
        --begin;
    }
    return begin == at ? -1 : static_cast<std::int32_t>(ReadNumber(text.substr(begin, at - begin)));
}

// The number after the marker; -1 when the marker is missing.
std::int32_t NumberAfter(const std::string& text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) {
        return -1;
    }
    return static_cast<std::int32_t>(ReadNumber(text.substr(at + marker.size())));
}

// The count between the markers; -1 (unknown) when the item shows none, never 0.
std::int32_t CountBetween(const std::string& item, std::string_view start, std::string_view end) {
    const std::string text = Trimmed(TextBetween(item, start, end));
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return -1;
    }
    return static_cast<std::int32_t>(ReadNumber(text));
}

// --- User albums, new style -------------------------------------------------------------

void AddTypedNewStyleAlbum(Session& session, const std::string& typed) {
    URLRequest request = RenrenRequest();
    const std::string key = RenrenAlbumAddress(typed);
    std::string page;
    if (!FetchPage(request, typed, kRenrenDecode, page) || page.empty()) {
        return;
    }
    AlbumRecord record;
    record.key = key;
    record.name = TextBetween(page, "name : \"", "\"");
    if (record.name.empty()) {
        record.name = TextBetween(page, "albumName':'", "'");
    }
    // A name this long is a page of another shape read by mistake.
    if (CharCount(record.name) > kLongestAlbumName) {
        return;
    }
    record.photoCount = NumberAfter(page, "photoCount':");
    std::string owner = TextBetween(page, "fd-nav-item", "/profile\">");
    DropThrough(owner, ">");
    owner = StripTags(owner);
    KeepBefore("<", owner);
    owner = Trimmed(owner);
    if (!owner.empty() && owner != kOwnHomePage) {
        session.SetOwnerName(owner);
    }
    AddAlbum(session, record);
}

void RenrenNewStyleAlbums(Session& session, const std::string& input) {
    if (input.empty()) {
        return;
    }
    if (FoundAfterStart(input, "/album-")) {
        AddTypedNewStyleAlbum(session, input);
        return;
    }
    URLRequest request = RenrenRequest();
    std::string page;
    if (!FetchPage(request, PhotoBase() + "/photo/" + input + "/albumlist/v7?showAll=1#",
                   kRenrenDecode, page) ||
        page.empty()) {
        return;
    }
    session.SetOwnerName(OwnerFromTitle(page, "<title>人人网 - "));
    SkipPast("'albumList'", true, page);
    KeepBefore("</script>", page);
    Pieces pieces;
    SplitAll(page, "\"cover\"", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& item = pieces[i];
        AlbumRecord record;
        record.coverUrl = Unslash(TextBetween(item, "\"", "\""));
        record.name = UnescapeUnicode(TextBetween(item, "albumName\":\"", "\""));
        record.key = PhotoBase() + "/photo/" + input + "/album-" +
                     TextBetween(item, "albumId\":\"", "\"") + "/";
        if (FoundAfterStart(item, "sourceControl\":4,")) {
            record.access |= kAccessEncrypted;
        }
        record.photoCount = CountBetween(item, "photoCount\":", ",");
        AddAlbum(session, record);
        if (ListingStopped(session)) {
            return;
        }
    }
}

// --- User albums, classic -------------------------------------------------------------

void AddTypedClassicAlbum(Session& session, const std::string& typed) {
    URLRequest request = RenrenRequest();
    const std::string key = RenrenAlbumAddress(typed);
    std::string page;
    if (!FetchPage(request, typed, kRenrenDecode, page) || page.empty()) {
        return;
    }
    const std::string tabs = TextBetween(page, "class=\"nav-tabs\">", "</ul>");
    if (Trimmed(StripTags(TextBetween(tabs, "<li>", "</li>"))) != kOwnAlbums) {
        session.SetOwnerName(TextBetween(page, "guestName\" value=\"", "\""));
    }
    AlbumRecord record;
    record.key = key;
    record.name = ClassicAlbumTitle(page);
    std::string afterTitle = page;
    SkipPast("class=\"ablum-infor\">", true, afterTitle);
    record.photoCount = NumberBefore(afterTitle, " _");
    AddAlbum(session, record);
}

AlbumRecord ClassicAlbumFromItem(const std::string& item) {
    AlbumRecord record;
    // The photo lists append their paths to the album address.
    record.key = RenrenAlbumAddress(TextBetween(item, "href=\"", "\""));
    record.coverUrl = TextBetween(item, "data-src=\"", "\"");
    record.photoCount = CountBetween(item, "photo-num\">", "</span>");
    record.name = TextBetween(item, "album-name\">", "</");
    if (item.find("class=\"userhead\"") != std::string::npos) {
        record.name = "头像相册";
    } else if (item.find("class=\"phone") != std::string::npos) {
        record.name = "手机相册";
    } else if (item.find("class=\"password") != std::string::npos) {
        record.name = "加密相册";
        // The photo lists ask for the password of albums marked so.
        record.access |= kAccessEncrypted;
    }
    return record;
}

void RenrenClassicAlbums(Session& session, const std::string& input) {
    if (input.empty()) {
        return;
    }
    if (FoundAfterStart(input, "/album-")) {
        AddTypedClassicAlbum(session, input);
        return;
    }
    URLRequest request = RenrenRequest();
    const std::string userBase = PhotoBase() + "/photo/" + input;
    SeenKeys seen;
    for (int k = 0;; ++k) {
        const std::string address = k == 0
                                        ? userBase + "/album/relatives?curpage=1"
                                        : userBase + "/album/relatives/ajax?offset=" +
                                              std::to_string(k * kAlbumsPerAjaxPage) + "&limit=40";
        std::string page;
        if (!FetchPage(request, address, kRenrenDecode, page) || page.empty()) {
            return;
        }
        if (k == 0) {
            session.SetOwnerName(OwnerFromTitle(page, "<title>人人网 - "));
            if (page.find("first-page clearfix") == std::string::npos &&
                (!FetchPage(request, userBase + "/ajax?__view=async-html&offset=0&limit=500",
                            kRenrenDecode, page) ||
                 page.empty())) {
                return;
            }
        }
        SkipPast("class=\"album-list", true, page);
        SkipPast("<ul", true, page);
        KeepBefore("first-page clearfix", page);
        Pieces pieces;
        SplitAll(page, "<li>", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const AlbumRecord record = ClassicAlbumFromItem(pieces[i]);
            if (record.key.empty() || !seen.Add(record.key)) {
                continue;
            }
            anythingNew = true;
            AddAlbum(session, record);
            if (ListingStopped(session)) {
                return;
            }
        }
        if (!anythingNew) {
            return;
        }
    }
}

// --- Public-page albums ---------------------------------------------------------------

// "/600001/album/77" on the page host becomes the photo host's ".../photo/600001/album-77/".
std::string PageAlbumAddress(std::string href) {
    if (const std::size_t scheme = href.find("://"); scheme != std::string::npos) {
        const std::size_t path = href.find('/', scheme + 3);
        href = path == std::string::npos ? "" : href.substr(path);
    }
    std::string address = PhotoBase() + "/photo" + href + "/";
    ReplaceAll(address, "/album/", "/album-");
    return address;
}

void RenrenPageAlbums(Session& session, const std::string& pageId) {
    if (pageId.empty()) {
        return;
    }
    URLRequest request = RenrenRequest();
    SeenKeys seen;
    for (int p = 1;; ++p) {
        std::string page;
        if (!FetchPage(
                request,
                SiteBase("renren.page") + "/" + pageId + "/album?curpage=" + std::to_string(p),
                kRenrenDecode, page) ||
            page.empty()) {
            return;
        }
        if (p == 1) {
            session.SetOwnerName(OwnerFromTitle(page, "<title>"));
        }
        Pieces pieces;
        SplitAll(page, "class=\"picitem", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& item = pieces[i];
            const std::string href = TextBetween(item, "href=\"", "\"");
            if (href.empty()) {
                continue;
            }
            AlbumRecord record;
            record.key = PageAlbumAddress(href);
            record.coverUrl = TextBetween(item, "data-src=\"", "\"");
            record.name = TextBetween(item, "\"/>", "</");
            record.photoCount = NumberAfter(item, "piccount\">");
            if (!seen.Add(record.key)) {
                continue;
            }
            anythingNew = true;
            AddAlbum(session, record);
            if (ListingStopped(session)) {
                return;
            }
        }
        if (page.find("\">下一页</a>") == std::string::npos || !anythingNew) {
            return;
        }
    }
}

// --- Stations ("zhan") ----------------------------------------------------------------

// The months of the station's archive; one empty month when a tag chooses the posts.
std::vector<std::string> StationMonths(URLRequest& request, const std::string& siteId) {
    std::string archive;
    if (!FetchPage(request, ZhanBase() + "/archive?site_id=" + siteId, kRenrenDecode, archive) ||
        archive.empty()) {
        return {};
    }
    SkipPast("class=\"time_control", true, archive);
    KeepBefore("</section>", archive);
    Pieces pieces;
    SplitAll(archive, "mark=\"", pieces);
    std::vector<std::string> months;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        months.push_back(pieces[i].substr(0, pieces[i].find('"')));
    }
    return months;
}

// Adds the posts of one month (or of the tag); false when the listing must stop.
bool AddStationPosts(Session& session, URLRequest& request, const std::string& sitePath,
                     const std::string& siteId, const std::string& tagText,
                     const std::string& month) {
    SeenKeys seen;
    for (int n = 0;; ++n) {
        const std::string address =
            month.empty() ? ZhanBase() + "/archive/archiveByTag?site_id=" + siteId + tagText +
                                "&page=" + std::to_string(n)
                          : ZhanBase() + "/archive/archiveByTime?site_id=" + siteId + tagText +
                                "&month=" + month + "&page=" + std::to_string(n);
        std::string text;
        if (!FetchPage(request, address, kRenrenDecode, text) || text.empty()) {
            return true;
        }
        Pieces pieces;
        SplitAll(text, "<div id=\\\"", pieces);
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            std::string postId = piece.substr(0, piece.find("\\\""));
            ReplaceAll(postId, "feed", "");
            if (postId.empty() || !seen.Add(postId)) {
                continue;
            }
            anythingNew = true;
            AlbumRecord record;
            record.key = ZhanBase() + "/" + sitePath + "?gid=" + postId + "&ajax=true";
            record.name = UnescapeUnicode(TextBetween(piece, "class=\\\"title\\\">", "<\\/"));
            AddAlbum(session, record);
            if (ListingStopped(session)) {
                return false;
            }
        }
        if (!anythingNew) {
            return true;
        }
    }
}

void RenrenStationAlbums(Session& session, const std::string& typed) {
    URLRequest request = RenrenRequest();
    std::string page;
    if (!FetchPage(request, typed, kRenrenDecode, page) || page.empty()) {
        return;
    }
    std::string sitePath = typed;
    DropThrough(sitePath, "com/");
    CutAt(sitePath, {"?"});
    const std::string siteId = TextBetween(page, "site_id=", "\"");
    session.SetSiteText(siteId);
    std::string tagId;
    if (FoundAfterStart(typed, "tagId=")) {
        tagId = typed.substr(typed.find("tagId=") + 6);
        CutAt(tagId, {"&"});
    }
    session.SetOwnerName(TextBetween(page, "name:'", "'"));
    std::vector<std::string> months;
    std::string tagText;
    if (!tagId.empty()) {
        session.SetOwnerSuffix(TextBetween(TextBetween(page, "class=\"s\"", "</li>"), ">", "<"));
        tagText = "&tag_id=" + tagId;
        months.emplace_back();
    } else {
        months = StationMonths(request, siteId);
    }
    for (const auto& month : months) {
        if (!AddStationPosts(session, request, sitePath, siteId, tagText, month)) {
            return;
        }
    }
}

// --- Photo lists ----------------------------------------------------------------------

// One question per album: its three photo lists run in turn, and an answer holds for all
// of them. The first list always asks afresh.
class PasswordMemo {
  public:
    enum class Ask { Fresh, ReuseAnswer };

    // True when the photos may be listed: the album is not protected, or the user
    // answered yes (and the login browser was opened at `loginAddress` once).
    bool Allows(Session& session, const AlbumRecord& album, const std::string& loginAddress,
                Ask ask) {
        if (!(album.access & kAccessEncrypted)) {
            return true;
        }
        {
            std::lock_guard lock(mutex_);
            if (ask == Ask::ReuseAnswer && session_ == &session && key_ == album.key) {
                return answer_;
            }
        }
        const bool yes = session.Front().AskYesNo(kPasswordQuestion);
        if (yes) {
            session.Front().OpenLogin(loginAddress);
        }
        std::lock_guard lock(mutex_);
        session_ = &session;
        key_ = album.key;
        answer_ = yes;
        return yes;
    }

  private:
    std::mutex mutex_;
    const Session* session_ = nullptr;
    std::string key_;
    bool answer_ = false;
};

PasswordMemo& Passwords() {
    static PasswordMemo memo;
    return memo;
}

// The photo entries of one page of an album's paged list (piece 0 is not an entry); none
// when the page could not be fetched.
Pieces PhotoEntries(URLRequest& request, const std::string& address) {
    std::string text;
    Pieces pieces;
    if (FetchPage(request, address, kRenrenDecode, text) && !text.empty()) {
        SplitAll(text, "\"position\":", pieces);
    }
    return pieces;
}

void RenrenPagedPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album || !Passwords().Allows(session, *album, album->key, PasswordMemo::Ask::Fresh)) {
        return;
    }
    URLRequest request = RenrenRequest();
    const std::string imageHeaders = "Referer: " + album->key;
    SeenKeys seen;
    for (int p = 1;; ++p) {
        const Pieces pieces =
            PhotoEntries(request, album->key + "bypage/ajax/v7?page=" + std::to_string(p) +
                                      "&pageSize=" + std::to_string(kPhotosPerPage));
        if (pieces.size() < 2) {
            return;
        }
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string url = Unslash(TextBetween(pieces[i], "url\":\"", "\""));
            if (url.empty() || !seen.Add(url)) {
                continue;
            }
            anythingNew = true;
            const std::string name = std::to_string(session.downloads.Size() + 1);
            AddPhoto(session, url, name, imageHeaders, albumIndex);
            if (PhotoListShouldStop(session)) {
                return;
            }
        }
        // A short page is the last one.
        if (!anythingNew || pieces.size() - 1 < static_cast<std::size_t>(kPhotosPerPage)) {
            return;
        }
    }
}

// The large picture of a photo whose list entry has no full-size address.
std::string LargePicture(URLRequest& request, const std::string& albumKey,
                         const std::string& photoId) {
    std::string userBase = albumKey;
    KeepBefore("/album-", userBase);
    std::string page;
    if (photoId.empty() ||
        !FetchPage(request, userBase + "/photo-" + photoId + "/large?xtype=album", kRenrenDecode,
                   page)) {
        return "";
    }
    SkipPast("class=\"photoes-box\">", true, page);
    return TextBetween(page, "src=\"", "\"");
}

void RenrenClassicPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album || !Passwords().Allows(session, *album, album->key + "/private",
                                      PasswordMemo::Ask::ReuseAnswer)) {
        return;
    }
    std::string albumBase = album->key;
    KeepBefore("?", albumBase);
    while (albumBase.ends_with("/")) {
        albumBase.pop_back();
    }
    URLRequest request = RenrenRequest(album->key);
    std::string page;
    FetchPage(request, album->key, kRenrenDecode, page);
    const std::string title = ClassicAlbumTitle(page);
    URLRequest largeRequest = RenrenRequest();
    SeenKeys seen;
    for (int p = 1;; ++p) {
        const Pieces pieces = PhotoEntries(
            request, albumBase + "/bypage/ajax?curPage=" + std::to_string(p) + "&pagenum=65535");
        if (pieces.size() < 2) {
            return;
        }
        bool anythingNew = false;
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& item = pieces[i];
            const std::string photoId = TextBetween(item, "\"photoId\":\"", "\"");
            std::string url = Unslash(TextBetween(item, "\"largeUrl\":\"", "\""));
            if (!seen.Add(photoId.empty() ? url : photoId)) {
                continue;
            }
            anythingNew = true;
            if (url.find("original_") == std::string::npos &&
                url.find("xlarge_") == std::string::npos) {
                const std::string large = LargePicture(largeRequest, album->key, photoId);
                if (!large.empty()) {
                    url = large;
                }
            }
            if (url.empty()) {
                continue;
            }
            std::string name = TextBetween(item, "\"title\":\"", "\"");
            AddPhoto(session, url, name.empty() ? title : name, "", albumIndex);
            if (PhotoListShouldStop(session)) {
                return;
            }
        }
        if (!anythingNew) {
            return;
        }
    }
}

void RenrenPrivatePhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album || !Passwords().Allows(session, *album, album->key + "/private",
                                      PasswordMemo::Ask::ReuseAnswer)) {
        return;
    }
    if (session.downloads.Size() > 0) {
        return;
    }
    URLRequest request = RenrenRequest();
    std::string page;
    if (!FetchPage(request, album->key, kRenrenDecode, page) || page.empty()) {
        return;
    }
    const std::string title = ClassicAlbumTitle(page);
    std::string dataInfo = page;
    SkipPast("data-info=\"{album:'", true, dataInfo);
    std::string dataAddress = TextBetween(dataInfo, "href=\"", "\"");
    if (dataAddress.empty()) {
        return;
    }
    if (dataAddress.starts_with("/")) {
        dataAddress = PhotoBase() + dataAddress;
    }
    URLRequest dataRequest = RenrenRequest(album->key);
    std::string text;
    if (!FetchPage(dataRequest, dataAddress, kRenrenDecode, text) || text.empty()) {
        return;
    }
    SkipPast("\"list\":", true, text);
    Pieces pieces;
    SplitAll(text, "\"position\":", pieces);
    SeenKeys seen;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& item = pieces[i];
        std::string url = TextBetween(item, "\"xLargeUrl\":\"", "\"");
        if (url.empty()) {
            url = TextBetween(item, "\"largeurl\":\"", "\"");
        }
        url = Unslash(url);
        if (url.empty() || !seen.Add(url)) {
            continue;
        }
        const std::string name = TextBetween(item, "\"originTitle\":\"", "\"");
        AddPhoto(session, url, name.empty() ? title : name, "", albumIndex);
        if (PhotoListShouldStop(session)) {
            return;
        }
    }
}

void RenrenStationPictures(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = RenrenRequest();
    std::string page;
    if (!FetchPage(request, album->key, kRenrenDecode, page) || page.empty()) {
        return;
    }
    SkipPast("id=\"main-wrap\"", true, page);
    KeepBefore("class=\"ccagreement\">", page);
    Pieces pieces;
    SplitAll(page, "class=\"photo\">", pieces);
    const std::string imageHeaders = "Referer: " + album->key;
    SeenKeys seen;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string item = pieces[i];
        std::string url = TextBetween(item, "data-src=\"", "\"");
        if (url.empty()) {
            SkipPast("<img", true, item);
            url = TextBetween(item, "src=\"", "\"");
        }
        if (url.empty() || !seen.Add(url)) {
            continue;
        }
        AddPhoto(session, url, "", imageHeaders, albumIndex);
        if (PhotoListShouldStop(session)) {
            return;
        }
    }
}

}  // namespace

std::string RenrenAlbumAddress(const std::string& typed) {
    std::string address = typed;
    CutAt(address, {"?", "#"});
    const std::size_t album = address.find("/album-");
    if (album == std::string::npos) {
        return address;
    }
    const std::size_t end = address.find('/', album + 1);
    return address.substr(0, end) + "/";
}

void RegisterRenren() {
    RegisterAlbumLister(AlbumLister::RenrenV7Albums, &RenrenNewStyleAlbums);
    RegisterAlbumLister(AlbumLister::RenrenAlbumPage, &RenrenClassicAlbums);
    RegisterAlbumLister(AlbumLister::RenrenPublicPage, &RenrenPageAlbums);
    RegisterAlbumLister(AlbumLister::RenrenZhanAlbums, &RenrenStationAlbums);
    RegisterPhotoLister(PhotoLister::RenrenPagedPhotos, &RenrenPagedPhotos);
    RegisterPhotoLister(PhotoLister::RenrenClassicPhotos, &RenrenClassicPhotos);
    RegisterPhotoLister(PhotoLister::RenrenPrivatePhotos, &RenrenPrivatePhotos);
    RegisterPhotoLister(PhotoLister::RenrenZhanPictures, &RenrenStationPictures);
}

}  // namespace brenvik
