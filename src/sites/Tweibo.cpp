// Tencent Weibo topic albums: the picture topics of one account and the pictures of its
// posts. The API host checks the Referer of its own proxy page; its photo list pages by
// the time of the last post of the previous page.
#include "sites/Tweibo.h"

#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr unsigned kTweiboDecode = kDecodeInflate | kDecodeUtf8;
// The service wants a token but never checks it against the login.
constexpr const char* kFixedToken = "7302516";

std::string ApiBase() {
    return SiteBase("tweibo.api");
}

URLRequest TweiboRequest() {
    URLRequest request = AdapterRequest();
    request.headers = std::string(kAcceptCompressed) + "\r\nReferer: " + ApiBase() + "/proxy.html";
    return request;
}

// The API host as a query value: "https%3A%2F%2Fapi...".
std::string EncodedApiHost() {
    std::string base = ApiBase();
    ReplaceAll(base, ":", "%3A");
    ReplaceAll(base, "/", "%2F");
    return base;
}

std::string TopicListAddress(const std::string& uin, int page) {
    return ApiBase() + "/asyn/gettopicalbum.php?op=1&uin=" + uin + "&page=" + std::to_string(page) +
           "&n=12&apiType=14&apiHost=" + EncodedApiHost() +
           "&_r=1382084292800&g_tk=" + std::to_string(ProcessClockMs());
}

// The account's numeric id, read from its photo page; empty when the page has none.
std::string AccountUin(URLRequest& request, const std::string& account) {
    std::string page;
    if (!FetchPage(request, SiteBase("tweibo.web") + "/app/qzphoto/" + account + "?preview",
                   kTweiboDecode, page) ||
        page.empty()) {
        return "";
    }
    SkipPast("MI.App.guest", true, page);
    return TextBetween(page, "uin\":\"", "\"");
}

AlbumRecord TopicFromPiece(std::string piece) {
    AlbumRecord record;
    record.photoCount =
        static_cast<std::int32_t>(ReadNumber(TextBetween(piece, ":", ",", kTextConsume)));
    record.name = UnescapeUnicode(TextBetween(piece, "name\":\"", "\",\"", kTextConsume));
    const std::string type = TextBetween(piece, "\"type\":\"", "\"", kTextConsume);
    if (type.empty()) {
        record.key = TextBetween(piece, "\"topicid\":\"", "\"", kTextConsume);
    } else {
        record.key = type;
        record.photoCount = -1;
    }
    record.coverUrl = Unslash(TextBetween(piece, "image\":[\"", "\"", kTextConsume));
    if (!record.coverUrl.empty()) {
        record.coverUrl += "/240";
    }
    return record;
}

void TweiboAlbumList(Session& session, const std::string& account) {
    URLRequest request = TweiboRequest();
    const std::string uin = AccountUin(request, account);
    if (uin.empty()) {
        return;
    }
    session.SetSiteText(uin);
    SeenKeys seen;
    for (int page = 1;; ++page) {
        std::string text;
        if (!FetchPage(request, TopicListAddress(uin, page), kTweiboDecode, text) || text.empty()) {
            return;
        }
        Pieces pieces;
        SplitAll(text, "\"num\"", pieces);
        const std::size_t before = session.albums.Size();
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const AlbumRecord record = TopicFromPiece(pieces[i]);
            if (!record.name.empty() && !OfferAlbum(session, seen, record)) {
                return;
            }
        }
        if (session.albums.Size() == before) {
            return;  // a page with nothing new: past the last one
        }
    }
}

std::string PostText(std::string& post) {
    return Unslash(
        StripTags(UnescapeUnicode(TextBetween(post, "content\":\"", "\",\"", kTextConsume))));
}

struct PostsOutcome {
    bool stop = false;
    bool anythingNew = false;
};

// Adds the pictures of one page of posts and leaves the paging suffix of its last post.
PostsOutcome AddPosts(Session& session, const std::string& text, const AlbumRecord& album,
                      int albumIndex, const std::string& account, SeenKeys& seenPosts,
                      std::string& suffix) {
    PostsOutcome outcome;
    Pieces posts;
    SplitAll(text, "{\"id\":\"", posts);
    for (std::size_t i = 1; i < posts.size(); ++i) {
        std::string post = posts[i];
        if (!seenPosts.Add(post.substr(0, post.find('"')))) {
            continue;
        }
        outcome.anythingNew = true;
        std::string description = PostText(post);
        Pieces images;
        SplitAll(post, "{\"url\"", images);
        const std::string time = TextBetween(post, "realtime\":", ",", kTextConsume);
        suffix = "&time=" + time + "&r=" + std::to_string(static_cast<unsigned>(ProcessClockMs())) +
                 "&u=" + account;
        if (description.empty()) {
            description = PostText(post);
        }
        if (description.empty()) {
            description = album.name;
        }
        for (std::size_t k = 1; k < images.size(); ++k) {
            std::string address = Unslash(TextBetween(images[k], "\"", "\"", kTextConsume));
            if (address.empty()) {
                continue;
            }
            AddPhoto(session, address + "/2000", description, "", albumIndex);
            if (PhotoListShouldStop(session)) {
                outcome.stop = true;
                return outcome;
            }
        }
    }
    return outcome;
}

void TweiboPhotoList(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string uin = session.SiteText();
    const std::string account = session.OwnerName();
    URLRequest request = TweiboRequest();
    SeenKeys seenPosts;
    std::string suffix;
    for (int page = 1;; ++page) {
        std::string address = ApiBase() + "/asyn/gettopicalbum.php?op=2&uin=" + uin +
                              "&page=" + std::to_string(page) + "&n=24&topicid=" + album->key +
                              "&apiType=14&apiHost=" + EncodedApiHost() +
                              "&_r=1382325110273&g_tk=" + kFixedToken;
        if (page > 1) {
            address += suffix;
        }
        std::string text;
        if (!FetchPage(request, address, kTweiboDecode, text) || text.empty()) {
            return;
        }
        const PostsOutcome outcome =
            AddPosts(session, text, *album, albumIndex, account, seenPosts, suffix);
        if (outcome.stop || !outcome.anythingNew) {
            return;
        }
    }
}

}  // namespace

void RegisterTweibo() {
    RegisterAlbumLister(AlbumLister::TweiboAlbums, &TweiboAlbumList);
    RegisterPhotoLister(PhotoLister::TweiboPhotos, &TweiboPhotoList);
}

}  // namespace brenvik
