// yupoo: a user's albums (two page layouts) or one album, and each album's original
// pictures, reached through their zoom pages. Password albums ask for a login.
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr const char* kPasswordQuestion = "加密相册,是否输入密码";
constexpr const char* kNeedsLogin = "请先在登录菜单里登录你的又拍帐号,登录时勾上下次自动登录";
constexpr const char* kNoOriginal = "无法查看该照片的原图";
// Each answer of yes opens the login browser once more; after that the album is skipped.
constexpr int kPasswordTries = 3;

std::string SiteAddress() {
    return SiteBase("yupoo.web") + "/";
}

// "https://host" of an address.
std::string SchemeAndHost(const std::string& address) {
    const std::size_t scheme = address.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    return address.substr(0, address.find('/', start));
}

std::string Completed(const std::string& address, const std::string& from) {
    if (address.empty() || address.find("http") == 0) {
        return address;
    }
    return SchemeAndHost(from) + (address.starts_with("/") ? "" : "/") + address;
}

URLRequest ListRequest() {
    URLRequest request = AdapterRequest();
    request.headers = "Referer: " + SiteAddress() + "\r\n" + kAcceptCompressed;
    request.endMarker = "id=\"footer\">";
    return request;
}

std::string RefererBlock(const std::string& referer) {
    return std::string(kAcceptCompressed) + "\r\nReferer: " + referer;
}

// The owner as the page title names it ("又拍网 - alice的相册").
std::string OwnerFromTitle(const std::string& page) {
    std::string owner = TextBetween(page, "<title>", "的相册");
    if (owner.empty()) {
        owner = TextBetween(page, "<title>", "的主页");
    }
    DropThrough(owner, "-");
    DropThrough(owner, "_");
    return Trimmed(owner);
}

// The album id after "albums/", or empty text for a list address.
std::string AlbumIdOf(const std::string& address) {
    const std::size_t at = address.find("albums/");
    if (at == std::string::npos) {
        return "";
    }
    std::string id = address.substr(at + 7);
    CutAt(id, {"/", "?", "#"});
    return id;
}

void OneAlbum(Session& session, URLRequest& request, const std::string& address) {
    std::string page;
    if (!FetchPage(request, address, kAutoPages, page) || page.empty()) {
        return;
    }
    std::string owner = OwnerFromTitle(page);
    if (owner.empty()) {
        owner = Trimmed(TextBetween(page, "class=\"albumOwner\">", "</span>"));
    }
    session.SetOwnerName(owner);
    AlbumRecord record;
    record.key = address;
    record.name = Trimmed(TextBetween(page, "的相册</a> /", "</"));
    record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(page, "(", "张")));
    AddAlbum(session, record);
}

std::string AlbumLink(const std::string& piece) {
    return TextBetween(piece, "href=\"", "\"");
}

Pieces AlbumPieces(std::string page) {
    SkipPast("id=\"albumsList", true, page);
    Pieces pieces;
    SplitAll(page, "class=\"set-case\">", pieces);
    if (pieces.empty()) {
        SplitAll(page, "class=\"SetCase", pieces);
    }
    return pieces;
}

std::string FirstOf(const std::string& piece, std::string_view start1, std::string_view end1,
                    std::string_view start2, std::string_view end2) {
    const std::string first = TextBetween(piece, start1, end1);
    return first.empty() ? TextBetween(piece, start2, end2) : first;
}

void YupooAlbumList(Session& session, const std::string& address) {
    URLRequest request = ListRequest();
    if (!AlbumIdOf(address).empty()) {
        OneAlbum(session, request, address);
        return;
    }
    RepeatGuard guard;
    for (int p = 1;; ++p) {
        request.headers = RefererBlock(address);
        std::string page;
        if (!FetchPage(request, address + "page" + std::to_string(p) + "/", kAutoPages, page) ||
            page.empty()) {
            return;
        }
        if (p == 1) {
            session.SetOwnerName(OwnerFromTitle(page));
        }
        const Pieces pieces = AlbumPieces(page);
        // The list has no next-page link: it ends with the first page that has no album.
        if (pieces.size() < 2 || guard.Repeats(RepeatGuard::Of(pieces, AlbumLink))) {
            return;
        }
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            AlbumRecord record;
            record.key = Completed(AlbumLink(piece), address);
            record.coverUrl = FirstOf(piece, "src_data=\"", "\"", "src=\"", "\"");
            record.name = Trimmed(TextBetween(piece, "alt=\"", "/>"));
            record.photoCount = static_cast<std::int32_t>(
                ReadNumber(FirstOf(piece, "<b>", "</b>", "<strong>", "</strong>")));
            if (!record.key.empty() && !AddAlbumAndGoOn(session, record)) {
                return;
            }
        }
    }
}

// --- Photos -----------------------------------------------------------------------

std::string AlbumDescription(const std::string& page) {
    std::string description = Trimmed(TextBetween(page, "adescription\">", "</"));
    ReplaceAll(description, "<br />", "\r\n");
    return description;
}

void WriteDescription(Session& session, const std::string& description) {
    if (description.empty() || session.downloads.Size() == 0) {
        return;
    }
    WriteUnicodeTextFile(session.downloads.AlbumFolder() / "相册描述.txt", description);
}

// A photo list piece starts with the photo's id: "photos['<id>']".
std::string PhotoId(const std::string& piece) {
    return piece.substr(0, piece.find('\''));
}

enum class PhotoStep { Next, EndAlbum };

// One photo through its zoom page.
PhotoStep OnePhoto(Session& session, URLRequest& request, const std::string& albumAddress,
                   const std::string& id, const AlbumRecord& album, int albumIndex) {
    std::string page;
    if (!FetchPage(request, albumAddress + id + "/zoom/original/", kAutoPages, page) ||
        page.empty()) {
        return PhotoStep::EndAlbum;
    }
    if (page.find(kNoOriginal) != std::string::npos) {
        session.Front().ShowMessage(kNeedsLogin);
        return PhotoStep::EndAlbum;
    }
    SkipPast("原图", true, page);
    std::string image = Completed(TextBetween(page, "<img src=\"", "\""), albumAddress);
    ReplaceAll(image, "/small.", "/big.");
    std::string name = TextBetween(page, "description:'", "'");
    if (name.empty()) {
        name = TextBetween(page, "title:'", "'");
    }
    const bool goOn =
        AddPhotoAndGoOn(session, image, name.empty() ? album.name : name, "", albumIndex);
    return goOn ? PhotoStep::Next : PhotoStep::EndAlbum;
}

void YupooAlbumPhotos(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string id = AlbumIdOf(album->key);
    const std::size_t at = album->key.find("albums/");
    if (id.empty()) {
        return;
    }
    const std::string albumAddress = album->key.substr(0, at + 7) + id + "/";
    URLRequest request = AdapterRequest();
    request.headers = RefererBlock(albumAddress);
    RepeatGuard guard;
    int passwordTries = 0;
    for (int p = 1;;) {
        std::string page;
        if (!FetchPage(request, albumAddress + "page" + std::to_string(p) + "/?style=detail",
                       kAutoPages, page) ||
            page.empty()) {
            return;
        }
        if (page.find("album_password\">访问密码") != std::string::npos) {
            if (passwordTries++ >= kPasswordTries || !session.Front().AskYesNo(kPasswordQuestion)) {
                return;
            }
            session.Front().OpenLogin(albumAddress);
            continue;
        }
        Pieces pieces;
        SplitAll(page, "photos['", pieces);
        if (pieces.size() < 2 || guard.Repeats(RepeatGuard::Of(pieces, PhotoId))) {
            return;
        }
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            if (OnePhoto(session, request, albumAddress, PhotoId(pieces[i]), *album, albumIndex) ==
                PhotoStep::EndAlbum) {
                return;
            }
        }
        if (p == 1) {
            WriteDescription(session, AlbumDescription(page));
        }
        ++p;
    }
}

}  // namespace

void RegisterYupoo() {
    RegisterAlbumLister(AlbumLister::YupooAlbums, &YupooAlbumList);
    RegisterPhotoLister(PhotoLister::YupooAlbumPhotos, &YupooAlbumPhotos);
}

}  // namespace brenvik
