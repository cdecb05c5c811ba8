// NetEase albums: the owner's album file, read through the album service's remote calls;
// the NetEase photo community (pp pages); Lofter blogs, one row per post, whose post list
// comes from the same kind of remote call in its POST form.
#include "sites/Netease.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/Hosts.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

// The album files come in GBK, Lofter in UTF-8: let the bytes decide.
constexpr unsigned kNeteaseDecode = kDecodeInflate | kDecodeAuto;

constexpr const char* kWrongAddress = "输入网址有误，应该输入相册网址或首页网址";
constexpr const char* kAlbumWithoutKey =
    "该相册为非公开,如果该相册为私密相册,登录帐号后重新获取相册列表可下载";
constexpr const char* kVerifyQuestion = "为非公开相册,是否进行验证？\n\n验证成功后请手动关闭验证框";
constexpr const char* kLofterNotArchive =
    "没有找到该Lofter博客的归档页，请输入Lofter博客首页的网址";
constexpr const char* kLofterNoBlogId = "没有在归档页里找到博客编号，无法获取文章列表";

// Album ids are short; album-file addresses are long.
constexpr std::size_t kShortestFileKey = 20;
// An album file shorter than this holds no photo; the service then wants the string form.
constexpr std::size_t kShortestAlbumFile = 10;

// --- Remote calls of the album service -----------------------------------------------

constexpr const char* kCallByNumber =
    "/dwr/call/plaincall/AlbumBean.getAlbumData.dwr?callCount=1&scriptSessionId=%24%7B"
    "scriptSessionId%7D187&c0-scriptName=AlbumBean&c0-methodName=getAlbumData&c0-id=0"
    "&c0-param0=number%3A";
constexpr const char* kCallByString =
    "/dwr/call/plaincall/AlbumBean.getAlbumData.dwr?callCount=1&scriptSessionId=%24%7B"
    "scriptSessionId%7D187&c0-scriptName=AlbumBean&c0-methodName=getAlbumData&c0-id=0"
    "&c0-param0=string%3A";
constexpr const char* kPlainTail =
    "&c0-param1=string%3A&c0-param2=string%3A&c0-param3=number%3A24881696&c0-param4="
    "boolean%3Afalse&batchId=530377";
constexpr const char* kFromBlogTail =
    "&c0-param1=string%3A&c0-param2=string%3Afromblog&c0-param3=string%3A24881696&c0-param4="
    "boolean%3Afalse&batchId=530377";

struct RemoteCall {
    const char* before;
    const char* after;
};
// The album's key for the album list; its file after the verification; its file when the
// key's file is too short.
constexpr RemoteCall kAlbumKeyCall{kCallByNumber, kPlainTail};
constexpr RemoteCall kVerifiedFileCall{kCallByNumber, kFromBlogTail};
constexpr RemoteCall kStringIdFileCall{kCallByString, kPlainTail};

std::string CallAddress(const RemoteCall& call, const std::string& owner,
                        const std::string& albumId) {
    return SiteBase("netease.album") + "/photo/" + owner + call.before + albumId + call.after;
}

bool FetchText(URLRequest& request, const std::string& address, std::string& text) {
    return FetchPage(request, address, kNeteaseDecode, text) && !text.empty();
}

// Addresses in the service's answers often come without a scheme.
std::string WebAddress(const std::string& address) {
    if (address.starts_with("http://") || address.starts_with("https://")) {
        return address;
    }
    if (address.starts_with("//")) {
        return "https:" + address;
    }
    return "https://" + address;
}

// The scheme of a role's base, then "label.", then the role's host.
std::string LabelledBase(std::string_view role, const std::string& label) {
    const std::string base = SiteBase(role);
    const std::size_t host = base.find("://") + 3;
    return base.substr(0, host) + label + "." + base.substr(host);
}

std::string ResourceAddress(const char* path) {
    return SiteBase("netease.resource") + path;
}

// Owner names become host labels of the pp domain; anything else could name another host.
bool UsableAsHostLabel(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const unsigned char c : text) {
        if (!std::isalnum(c) && c != '-' && c != '_') {
            return false;
        }
    }
    return true;
}

// A link of a page made absolute against the page's own address.
std::string AbsoluteLink(const std::string& page, const std::string& link) {
    if (link.starts_with("//")) {
        return page.substr(0, page.find("://") + 1) + link;
    }
    if (!link.starts_with("/")) {
        return link;
    }
    const std::size_t hostStart = page.find("://");
    const std::size_t pathStart =
        hostStart == std::string::npos ? std::string::npos : page.find('/', hostStart + 3);
    return (pathStart == std::string::npos ? page : page.substr(0, pathStart)) + link;
}

// --- NetEase album list -----------------------------------------------------------

// What an access word means for an album whose key the list left empty.
struct AccessWord {
    std::string_view word;
    std::int32_t access;
    const char* coverWhenEmpty;  // nullptr: keep the cover
    bool coverAlways;
};
constexpr AccessWord kAccessWords[] = {
    {"2", kAccessPrivate, nullptr, false},
    {"4", kAccessFriends, "/image/default/fwxhy.gif", false},
    {"8", kAccessEncrypted, "/image/default/fwxqa.gif", false},
    {"0", 0, nullptr, false},
};
constexpr AccessWord kOtherAccessWord{"", kAccessEncrypted, "/photo/image/default/fwxmm.gif", true};

const AccessWord& FindAccessWord(const std::string& word) {
    for (const AccessWord& entry : kAccessWords) {
        if (entry.word == word) {
            return entry;
        }
    }
    return kOtherAccessWord;
}

std::string AlbumDescription(std::string text) {
    ReplaceAll(text, "\\r", "");
    ReplaceAll(text, "\\n", "\r\n");
    return text;
}

// Fills access, cover and key of an album the list gives no key; false when the album
// must be left out (its key call failed).
bool ResolveRestrictedAlbum(URLRequest& request, const std::string& owner, const std::string& word,
                            AlbumRecord& record) {
    const AccessWord& meaning = FindAccessWord(word);
    record.access |= meaning.access;
    if (meaning.coverWhenEmpty && (meaning.coverAlways || record.coverUrl.empty())) {
        record.coverUrl = ResourceAddress(meaning.coverWhenEmpty);
    }
    if (word != "8") {
        std::string answer;
        if (!FetchText(request, CallAddress(kAlbumKeyCall, owner, record.text4), answer)) {
            return false;
        }
        record.key = TextBetween(answer, "',\"", "\");");
    }
    if (record.key.empty()) {
        record.key = record.text4;
    }
    return true;
}

void AddAlbumsOfFile(Session& session, URLRequest& request, const std::string& owner,
                     const std::string& file) {
    Pieces pieces;
    SplitAll(file, "{id:", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.text4 = piece.substr(0, piece.find(','));
        record.name = TextBetween(piece, "name:'", "'");
        record.text5 = AlbumDescription(TextBetween(piece, "desc:'", "'"));
        const std::string word = Trimmed(TextBetween(piece, "au:", ","));
        record.photoCount =
            static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "count:", ",")));
        record.coverUrl = NeteaseImageAddress(TextBetween(piece, "curl:'", "'"));
        if (record.photoCount == 0) {
            record.coverUrl = ResourceAddress("/image/default/none160.gif");
        }
        record.key = TextBetween(piece, "purl:'", "'");
        if (record.key.empty() && !ResolveRestrictedAlbum(request, owner, word, record)) {
            continue;
        }
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

void NeteaseAlbumList(Session& session, const std::string& typed) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchText(request, typed, page)) {
        return;
    }
    std::string owner = TextBetween(page, "photo163HostName:'", "'");
    if (owner.empty()) {
        owner = TextBetween(page, "hostName : '", "'");
    }
    session.SetOwnerName(owner);
    if (owner.empty()) {
        session.Front().ShowMessage(kWrongAddress);
        return;
    }
    // The owner name is cleaned for folder names at the job's end; the remote calls need
    // it as the page gave it.
    session.SetSiteText(owner);
    std::string fileAddress = TextBetween(page, "albumUrl : '", "'");
    if (fileAddress.empty()) {
        const std::string fragment = Host("netease.photo.fragment");
        const std::size_t at = typed.find(fragment);
        const bool ppAddress = !fragment.empty() && at != std::string::npos && at >= 2;
        if (ppAddress && !UsableAsHostLabel(owner)) {
            return;
        }
        const std::string home = ppAddress ? LabelledBase("netease.pp", owner) + "/album/"
                                           : SiteBase("netease.album") + "/" + owner;
        if (!FetchText(request, home, page)) {
            return;
        }
        fileAddress = TextBetween(page, "albumUrl : '", "'");
        if (fileAddress.empty()) {
            return;
        }
    }
    std::string file;
    if (!FetchText(request, WebAddress(fileAddress), file)) {
        return;
    }
    AddAlbumsOfFile(session, request, owner, file);
}

// --- NetEase album photos ---------------------------------------------------------

// Asks a remote call for the album file's address and fetches the file.
bool FetchFileByCall(URLRequest& request, const std::string& callAddress, std::string& file) {
    std::string answer;
    if (!FetchText(request, callAddress, answer)) {
        return false;
    }
    const std::string address = TextBetween(answer, ",\"", "\"");
    if (address.find(".js") == std::string::npos) {
        return false;
    }
    return FetchPage(request, WebAddress(address), kNeteaseDecode, file);
}

// The album file of a row; false when there is none to read.
bool FetchAlbumFile(Session& session, URLRequest& request, const AlbumRecord& album,
                    std::string& file) {
    const std::string owner = session.SiteText();
    if (album.key.size() < kShortestFileKey) {
        if (!session.Front().AskYesNo(kVerifyQuestion)) {
            return false;
        }
        session.Front().OpenLogin(SiteBase("netease.album") + "/" + owner +
                                  "/list/#aid=" + album.key + "&m=1&p=1");
        return FetchFileByCall(request, CallAddress(kVerifiedFileCall, owner, album.key), file);
    }
    if (!FetchPage(request, WebAddress(album.key), kNeteaseDecode, file)) {
        return false;
    }
    if (CharCount(file) < kShortestAlbumFile) {
        return FetchFileByCall(request, CallAddress(kStringIdFileCall, owner, album.text4), file) &&
               !file.empty();
    }
    return true;
}

void NeteaseAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    if (album->key.empty()) {
        session.Front().ShowMessage(kAlbumWithoutKey);
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string file;
    if (!FetchAlbumFile(session, request, *album, file)) {
        return;
    }
    Pieces pieces;
    SplitAll(file, "{id:", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        std::string path = TextBetween(piece, "ourl:'", "'");
        for (const char* field : {"murl:'", "surl:'"}) {
            if (path.empty()) {
                path = TextBetween(piece, field, "'");
            }
        }
        if (path.empty()) {
            continue;
        }
        std::string name = TextBetween(piece, "desc:'", "'");
        if (name.empty()) {
            name = album->name;
        }
        if (!AddPhotoAndGoOn(session, NeteaseImageAddress(path), name, "", albumIndex)) {
            return;
        }
    }
}

// --- NetEase photo community ------------------------------------------------------

void CommunityAlbumList(Session& session, const std::string& typed) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchText(request, typed, page)) {
        return;
    }
    std::string owner = TextBetween(page, "nickName : '", "'");
    SanitizeFileName(owner, 0, false);
    session.SetOwnerName(owner);
    Pieces pieces;
    SplitAll(page, "<li class=\"w-cover", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "\"");
        if (record.key.empty()) {
            continue;
        }
        record.key = AbsoluteLink(typed, record.key);
        record.name = TextBetween(piece, "title=\"", "\"");
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        DropThrough(piece, "<em>");
        record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "~ [", "张")));
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

void CommunityAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    request.startMarker = "window.picList";
    request.endMarker = "photoidsList";
    std::string text;
    if (!FetchText(request, album->key, text)) {
        return;
    }
    Pieces pieces;
    SplitAll(text, ",url:'", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        const std::string address = piece.substr(0, piece.find('\''));
        if (address.empty()) {
            continue;
        }
        std::string name = TextBetween(piece, ",picDesc:'", "'");
        if (name.empty()) {
            name = album->name;
        }
        if (!AddPhotoAndGoOn(session, address, name, "", albumIndex)) {
            return;
        }
    }
}

// --- Lofter -----------------------------------------------------------------------

constexpr const char* kArchiveTitle = "归档 - ";
constexpr const char* kPostListCall = "dwr/call/plaincall/ArchiveBean.getArchivePostByTime.dwr";
constexpr int kPostsPerCall = 50;
constexpr std::size_t kLongestCallBody = 1023;

std::string PostListBody(const std::string& blogId, std::time_t now) {
    char body[kLongestCallBody + 1];
    std::snprintf(body, sizeof body,
                  "callCount=1\r\nscriptSessionId=${scriptSessionId}187\r\nhttpSessionId=\r\n"
                  "c0-scriptName=ArchiveBean\r\nc0-methodName=getArchivePostByTime\r\nc0-id=0\r\n"
                  "c0-param0=number:%s\r\nc0-param1=number:%lld000\r\nc0-param2=number:%d\r\n"
                  "c0-param3=boolean:false\r\nbatchId=1",
                  blogId.c_str(), static_cast<long long>(now), kPostsPerCall);
    return ToGbk(body);
}

void LofterPostList(Session& session, const std::string& blog) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchText(request, blog + "view", page)) {
        return;
    }
    std::string owner = TextBetween(page, "<title>", "</title>");
    session.SetOwnerName(owner);
    if (!owner.starts_with(kArchiveTitle)) {
        session.Front().ShowMessage(kLofterNotArchive);
        return;
    }
    DropThrough(owner, kArchiveTitle);
    SanitizeFileName(owner, 0, false);
    session.SetOwnerName(owner);
    // The id goes into the call's body line by line; only a number can be sent safely.
    const std::string blogId = TextBetween(page, "blogId=", "\"");
    if (blogId.empty() || !IsDigitsOnly(blogId) || blogId.size() > 40) {
        session.Front().ShowMessage(kLofterNoBlogId);
        return;
    }
    session.SetSiteText(blogId);

    URLRequest call = AdapterRequest();
    call.verb = "POST";
    call.headers = std::string(kAcceptCompressed) + "\r\nReferer: " + SiteBase("lofter.web") +
                   "/\r\nContent-Type: text/plain";
    call.SetBody(PostListBody(blogId, std::time(nullptr)));
    std::string answer;
    if (!FetchText(call, blog + kPostListCall, answer)) {
        return;
    }
    Pieces pieces;
    SplitAll(answer, ".blogId=", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        const std::string permalink = TextBetween(piece, ".permalink=\"", "\"");
        if (permalink.empty()) {
            continue;
        }
        AlbumRecord record;
        record.photoCount = -1;
        record.name = TextBetween(piece, ".title=\"", "\"");
        if (record.name.empty()) {
            record.name = TextBetween(piece, "noticeLinkTitle=\"", "\"");
        }
        record.name = UnescapeUnicode(record.name);
        if (record.name.empty()) {
            record.name = permalink;
        }
        record.key = blog + "post/" + permalink;
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

void LofterPostPicture(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    std::string text;
    if (!FetchText(request, album->key, text)) {
        return;
    }
    CutAt(text, {"class=\"nctitle"});
    DropThrough(text, "div class=\"content");
    Pieces pieces;
    SplitAll(text, "<img ", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string address = TextBetween(pieces[i], "src=\"", "\"");
        CutAt(address, {"?"});
        // Thumbnails are passed over; so is a picture without an address, which would
        // only become an empty download.
        if (FoundAfterStart(address, "128x128x0x90.jpg") || address.empty()) {
            continue;
        }
        const std::string name = "图片" + std::to_string(session.downloads.Size() + 1);
        AddPhotoAndGoOn(session, address, name, "", albumIndex);
        return;
    }
}

}  // namespace

std::string NeteaseImageAddress(const std::string& listPath) {
    if (listPath.empty()) {
        return "";
    }
    const std::size_t slash = listPath.find('/');
    std::string number = slash != std::string::npos && slash != 0 ? listPath.substr(0, slash) : "";
    // The number becomes part of a host name; anything else there could name another host.
    if (!UsableAsHostLabel(number)) {
        number.clear();
    }
    const char* domain = listPath.find("/photo/") != std::string::npos ? "netease.image.blog"
                                                                       : "netease.image.photo";
    std::string path = listPath.substr(number.size());
    if (!path.starts_with("/")) {
        path.insert(0, "/");
    }
    return LabelledBase(domain, "img" + number) + path;
}

void RegisterNetease() {
    RegisterAlbumLister(AlbumLister::NeteaseAlbums, &NeteaseAlbumList);
    RegisterAlbumLister(AlbumLister::NeteaseCommunityAlbums, &CommunityAlbumList);
    RegisterAlbumLister(AlbumLister::LofterAlbums, &LofterPostList);
    RegisterPhotoLister(PhotoLister::NeteaseAlbumPhotos, &NeteaseAlbumPhotos);
    RegisterPhotoLister(PhotoLister::NeteaseCommunityPhotos, &CommunityAlbumPhotos);
    RegisterPhotoLister(PhotoLister::LofterPictures, &LofterPostPicture);
}

}  // namespace brenvik
