// Qzone: albums of one QQ account and the photos of each album. The album host is
// looked up per account through a route service; requests carry the g_tk token made
// from the login cookie.
#include <cstdio>
#include <filesystem>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "sites/AdapterKit.h"
#include "session/PageWatch.h"
#include "sites/Qzone.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRouteFailed = "QQ空间相册错误1";
constexpr const char* kNetworkBusy = "对不起，网络繁忙，请稍后再试！";
constexpr const char* kThrottled = "您的操作过于频繁";
constexpr const char* kIdentityQuestion =
    "加密或非公开空间，是否进行身份验证?\n(验证成功后请重新获取相册列表)";
constexpr const char* kPasswordQuestion = "加密相册，是否输入密码？";
constexpr const char* kSecondModeMarkerFile = "Q2.txt";
constexpr int kSecondPassIdc = 102;

std::string Format(const char* format, auto... values) {
    const int size = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, values...);
    text.resize(static_cast<std::size_t>(std::max(size, 0)));
    return text;
}

std::string UserBase() {
    return SiteBase("qzone.user");
}

std::string HomeAddress(const std::string& qq) {
    return UserBase() + "/" + qq;
}

// Hosts that the route service names are reached with the route service's scheme.
std::string RoutedBase(const std::string& host) {
    const std::string route = SiteBase("qzone.route");
    return route.substr(0, route.find("://") + 3) + host;
}

std::string QzoneHeaders(const std::string& qq) {
    return std::string(kAcceptCompressed) + "\r\nReferer: " + HomeAddress(qq);
}

std::string CookiesOfUserHost() {
    return GetCookies(UserBase() + "/");
}

unsigned TokenNow() {
    return QzoneToken(CookieValue(CookiesOfUserHost(), "skey"));
}

std::string UinNow(bool dropLeadingZeros) {
    std::string uin = CookieValue(CookiesOfUserHost(), "uin");
    std::erase(uin, 'o');
    if (dropLeadingZeros) {
        uin.erase(0, std::min(uin.find_first_not_of('0'), uin.size()));
    }
    return uin;
}

// --- Route lookup -----------------------------------------------------------------

struct Route {
    int idc = 0;
    std::string viewHost;
    std::string listHost;
    std::string rest;  // what is left of the answer after "p", where "s" is read
};

bool FetchRouteAnswer(Session& session, URLRequest& request, const std::string& qq,
                      unsigned decodeFlags, std::string& answer) {
    const std::string primary =
        SiteBase("qzone.route") + "/GetRoute?UIN=" + qq + "&version=2&type=json";
    const std::string fallback =
        UserBase() + "/q/route.store/GetRoute?UIN=" + qq + "&type=json&version=2";
    if (FetchPage(request, primary, decodeFlags, answer) ||
        FetchPage(request, fallback, decodeFlags, answer)) {
        return true;
    }
    if (!StopAskedOnThisThread()) {  // a stop is not an error of the route service
        session.Front().ShowMessage(WithNetworkCause(kRouteFailed));
    }
    return false;
}

std::string ListHostFrom(std::string p) {
    ReplaceAll(p, "sznewp", "alist");
    ReplaceAll(p, "xanewp", "xalist");
    return p;
}

// Reads the hosts of the default route entry (after its name) or of the first entry.
Route ReadRoute(std::string answer, bool defaultEntry) {
    Route route;
    if (defaultEntry) {
        route.idc =
            static_cast<int>(ReadNumber(TextBetween(answer, "idcno\":\"", ",", kTextConsume)));
        const std::string name = TextBetween(answer, "default\":\"", "\"", kTextConsume);
        SkipPast(name + "\":", true, answer);
    } else {
        route.idc = kSecondPassIdc;
    }
    route.viewHost = TextBetween(answer, "\"nu\":\"", "\"", kTextConsume);
    route.listHost = ListHostFrom(TextBetween(answer, "\"p\":\"", "\"", kTextConsume));
    route.rest = std::move(answer);
    return route;
}

// Keeps the hosts the photo lists use: the view host, and the "s" host with "static"
// turned into "plist".
void KeepPhotoListHosts(Session& session, Route& route) {
    session.SetViewHost(route.viewHost);
    std::string s = TextBetween(route.rest, "\"s\":\"", "\"", kTextConsume);
    ReplaceAll(s, "static", "plist");
    session.SetSiteText(s);
}

// --- Album lists ------------------------------------------------------------------

int AccessFromPriv(const std::string& priv) {
    if (priv.find('3') != std::string::npos) {
        return kAccessPrivate;
    }
    if (priv.find('4') != std::string::npos || priv.find('6') != std::string::npos) {
        return kAccessFriends;
    }
    if (priv.find('5') != std::string::npos) {
        return kAccessEncrypted;
    }
    return 0;
}

enum class ListAnswer { Handled, NoItems, Items };

// The checks and album entries shared by both album lists.
ListAnswer ReadAlbumList(Session& session, const std::string& text, const std::string& qq,
                         int idc) {
    if (text.empty()) {
        session.Front().ShowMessage(kNetworkBusy);
        return ListAnswer::Handled;
    }
    if (FoundAfterStart(text, "\"msg\" : \"")) {
        const std::string message = TextBetween(text, "\"msg\" : \"", "\"");
        if (FoundAfterStart(message, kThrottled)) {
            session.Front().ShowMessage(message);
        } else if (session.Front().AskYesNo(kIdentityQuestion)) {
            session.Front().OpenLogin(HomeAddress(qq));
        }
        return ListAnswer::Handled;
    }
    Pieces pieces;
    SplitAll(text, "\"id\" : \"", pieces);
    if (pieces.size() < 2) {
        return ListAnswer::NoItems;
    }
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string piece = pieces[i];
        const std::string albumId = piece.substr(0, piece.find('"'));
        AlbumRecord record;
        record.name = TextBetween(piece, "\"name\" : \"", "\"", kTextConsume);
        if (record.name.empty()) {
            continue;
        }
        record.coverUrl = Unslash(TextBetween(piece, "\"pre\" : \"", "\"", kTextConsume));
        record.access = AccessFromPriv(TextBetween(piece, "\"priv\" :", ",", kTextConsume));
        record.photoCount = ReadCount(TextBetween(piece, "\"total\" :", ",", kTextConsume));
        record.key = Format("idcNum=%d&hostUin=%s&albumid=%s", idc, qq.c_str(), albumId.c_str());
        AddAlbum(session, record);
        if (session.listingState == kListingStopAsked) {
            break;
        }
    }
    return ListAnswer::Items;
}

void QzoneAlbumListV2(Session& session, const std::string& qq) {
    URLRequest request = AdapterRequest();
    request.headers = QzoneHeaders(qq);
    std::string answer;
    if (!FetchRouteAnswer(session, request, qq, kDecodeInflate, answer)) {
        return;
    }
    Route route = ReadRoute(answer, true);
    KeepPhotoListHosts(session, route);
    const unsigned token = TokenNow();
    const std::string t = RandomFraction();
    const std::string address =
        RoutedBase(route.listHost) +
        Format(
            "/fcgi-bin/"
            "fcg_list_album_v2?hostUin=%s&format=jsonp&plat=qzone&source=qzone&t=%s&g_tk=%u",
            qq.c_str(), t.c_str(), token);
    std::string text;
    if (!FetchPage(request, address, session.Extended().qzoneV2Charset + kDecodeInflate, text)) {
        return;
    }
    ReadAlbumList(session, text, qq, route.idc);
}

void QzoneAlbumListV3(Session& session, const std::string& qq) {
    URLRequest request = AdapterRequest();
    request.headers = "Referer: " + HomeAddress(qq);
    std::string answer;
    if (!FetchRouteAnswer(session, request, qq, session.Extended().qzoneV3Charset, answer)) {
        return;
    }
    for (const bool defaultEntry : {true, false}) {
        Route route = ReadRoute(answer, defaultEntry);
        KeepPhotoListHosts(session, route);
        const unsigned token = TokenNow();
        const std::string t = RandomFraction();
        const std::string address =
            RoutedBase(route.listHost) +
            Format(
                "/fcgi-bin/fcg_list_album_v3?g_tk=%u&callback=shine1_Callback&hostUin=%s&appid=4"
                "&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp"
                "&notice=0&filter=1&handset=4&pageNumModeSort=40&pageNumModeClass=10"
                "&needUserInfo=1&idcNum=%d&callbackFun=shine1&_=%s",
                token, qq.c_str(), route.idc, t.c_str());
        std::string text;
        if (FetchPage(request, address, kDecodeUtf8, text) &&
            ReadAlbumList(session, text, qq, route.idc) != ListAnswer::NoItems) {
            return;
        }
    }
}

// --- Photo lists ------------------------------------------------------------------

std::string HostUinOf(const std::string& key) {
    return TextBetween(key, "hostUin=", "&");
}

// The album's page: the owner's home address, "/photo/" and the album id.
std::string AlbumPage(const std::string& key) {
    std::string path = key;
    DropThrough(path, "&");
    ReplaceAll(path, "hostUin=", "");
    ReplaceAll(path, "&albumid=", "/photo/");
    return UserBase() + "/" + path;
}

std::string NameText(const std::string& piece, unsigned nameSource) {
    const std::string name = TextBetween(piece, "\"name\" : \"", "\"");
    const std::string desc = TextBetween(piece, "\"desc\" : \"", "\"");
    const std::string first = Trimmed(nameSource == 1 ? name : desc);
    return first.empty() ? (nameSource == 1 ? desc : name) : first;
}

// The full-size address (raw, else origin_url), CR LF, the preview; or the preview alone.
std::string ImageEntry(std::string piece) {
    const std::string rawUpload = TextBetween(piece, "\"raw_upload\"", ",");
    std::string address = Unslash(TextBetween(piece, "\"raw\" : \"", "\""));
    if (address.empty()) {
        address = Unslash(TextBetween(piece, "\"origin_url\" : \"", "\"", kTextConsume));
        if (rawUpload.find('1') != std::string::npos) {
            ReplaceAll(address, "/o/", "/r/");
        }
    }
    ReplaceAll(address, "/psbe?/", "/psb?/");
    std::string preview = Unslash(TextBetween(piece, "\"pre\" : \"", "\"", kTextConsume));
    ReplaceAll(preview, "/a/", "/b/");
    return JoinAddresses(address, preview);
}

// Adds the photos of one page; false when the collection must stop.
bool AddPhotos(Session& session, const Pieces& pieces, int albumIndex) {
    const unsigned nameSource = session.Extended().nameSource;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string entry = ImageEntry(pieces[i]);
        if (entry.empty()) {
            continue;  // nothing to download
        }
        AddPhoto(session, entry, NameText(pieces[i], nameSource), "", albumIndex);
        if (PhotoListShouldStop(session)) {
            return false;
        }
    }
    return true;
}

// An encrypted album's answer asks for its password: once per adapter call the user may
// log in at the album's page; true when the same request should be made again.
bool PasswordGiven(Session& session, const AlbumRecord& album, const std::string& text,
                   bool& asked) {
    if (asked || !(album.access & kAccessEncrypted) ||
        !FoundAfterStart(text, "\"message\":\"对不起")) {
        return false;
    }
    asked = true;
    if (!session.Front().AskYesNo(kPasswordQuestion)) {
        return false;
    }
    session.Front().OpenLogin(AlbumPage(album.key));
    return true;
}

enum class PageOutcome { NoItems, Added, Stop };

// Adds the photos of one answer. A service that ignores the page start would repeat its
// first page for ever, so a page that starts like the previous one ends the list.
PageOutcome AddPage(Session& session, const std::string& text, int albumIndex,
                    std::string& lastFirstEntry) {
    Pieces pieces;
    SplitAll(text, "\"batchId\"", pieces);
    if (pieces.size() < 2) {
        return PageOutcome::NoItems;
    }
    // The whole first entry, not only its address: an entry may have none.
    if (pieces[1] == lastFirstEntry) {
        return PageOutcome::Stop;
    }
    lastFirstEntry = pieces[1];
    return AddPhotos(session, pieces, albumIndex) ? PageOutcome::Added : PageOutcome::Stop;
}

void QzonePhotoList(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = AdapterRequest();
    request.headers = QzoneHeaders(HostUinOf(album->key));
    const bool secondMode = std::filesystem::exists(session.BaseFolder() / kSecondModeMarkerFile);
    bool listPassWasEmpty = false;
    bool asked = false;
    int page = 0;
    std::string lastFirstEntry;
    for (;;) {
        const bool viewMode = listPassWasEmpty || (album->access != 0 && !secondMode);
        const unsigned token = TokenNow();
        const std::string uin = UinNow(false);
        const std::string t = RandomFraction();
        std::string key = album->key;
        std::string address;
        if (viewMode) {
            ReplaceAll(key, "albumid=", "albumId=");
            address = RoutedBase(session.ViewHost()) +
                      Format(
                          "/cgi-bin/common/cgi_view_album_v2?inCharset=gbk&outCharset=gbk"
                          "&format=jsonp&plat=qzone&source=qzone&%s&t=%s&g_tk=%u&uin=%s",
                          key.c_str(), t.c_str(), token, uin.c_str());
        } else {
            ReplaceAll(key, "albumid=", "topicId=");
            address = RoutedBase(session.SiteText()) +
                      Format(
                          "/fcgi-bin/cgi_list_photo?g_tk=%u&callback=shine0_Callback&mode=0&%s"
                          "&noTopic=0&uin=%s&pageStart=%d&pageNum=500&singleurl=1&notice=0"
                          "&appid=4&inCharset=gbk&outCharset=gbk&source=qzone&plat=qzone"
                          "&outstyle=json&format=jsonp&json_esc=1&callbackFun=shine0&_=%s",
                          token, key.c_str(), uin.c_str(), page * 500, t.c_str());
            ++page;
        }
        std::string text;
        if (!FetchPage(request, address, kDecodeInflate | kDecodeAuto, text) || text.empty()) {
            return;
        }
        if (PasswordGiven(session, *album, text, asked)) {
            if (!viewMode) {
                --page;  // the same page again, now that the password was given
            }
            continue;
        }
        const PageOutcome outcome = AddPage(session, text, albumIndex, lastFirstEntry);
        if (outcome == PageOutcome::NoItems && !viewMode && session.downloads.Size() == 0) {
            listPassWasEmpty = true;
            continue;
        }
        if (outcome != PageOutcome::Added || viewMode) {
            return;
        }
    }
}

void QzonePlistPhotoList(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = AdapterRequest();
    request.headers = QzoneHeaders(HostUinOf(album->key));
    bool asked = false;
    std::string lastFirstEntry;
    for (int page = 0, requestCount = 0;;) {
        const long long t = ProcessClockMs() + requestCount * 1000000LL + 1000000LL;
        std::string key = album->key;
        ReplaceAll(key, "albumid=", "topicId=");
        const std::string address =
            UserBase() +
            Format(
                "/p/plist.photo/fcgi-bin/cgi_list_photo?t=%lld&mode=0&%s&noTopic=0&uin=%s"
                "&pageStart=%d&pageNum=400&skipCmtCount=0&singleurl=1&batchId=&notice=0"
                "&appid=4&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone"
                "&outstyle=json&format=jsonp&json_esc=1&question=&answer=&callbackFun=shine0"
                "&g_tk=%u",
                t, key.c_str(), UinNow(true).c_str(), page * 400, TokenNow());
        ++page;
        ++requestCount;
        std::string text;
        if (!FetchPage(request, address, kDecodeInflate | kDecodeAuto, text) || text.empty()) {
            return;
        }
        if (PasswordGiven(session, *album, text, asked)) {
            AdapterPause(session, 3000ms);
            --page;
            continue;
        }
        if (AddPage(session, text, albumIndex, lastFirstEntry) != PageOutcome::Added) {
            return;
        }
        AdapterPause(session, std::chrono::milliseconds(4000 + 200 * page));
    }
}

}  // namespace

unsigned QzoneToken(const std::string& skey) {
    std::uint32_t h = 5381;
    for (const char16_t unit : ToUtf16(skey)) {
        h = h * 33 + unit;
    }
    return h & 2147483647u;
}

void RegisterQzone() {
    RegisterAlbumLister(AlbumLister::QzoneV2, &QzoneAlbumListV2);
    RegisterAlbumLister(AlbumLister::QzoneV3, &QzoneAlbumListV3);
    RegisterPhotoLister(PhotoLister::QzonePhotos, &QzonePhotoList);
    RegisterPhotoLister(PhotoLister::QzoneFallbackPhotos, &QzonePlistPhotoList);
}

}  // namespace brenvik
