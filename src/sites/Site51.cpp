// 51: a user's albums from the photo page, and each album's photos from the site's data
// view. A busy server answers with a "try again later" page instead of the content.
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "session/PageWatch.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

constexpr const char* kTryLater = "请稍候再试";

enum class Answer { Failed, Busy, Page };

// The busy text is looked for in the decoded page: the body as received may be gzip,
// and the page GBK, where a search for the marker's bytes would miss it.
Answer Fetch51(URLRequest& request, const std::string& address, std::string& text) {
    if (!FetchPage(request, address, kGbkPages, text) || text.empty()) {
        return Answer::Failed;
    }
    if (text.find(kTryLater) == std::string::npos) {
        return Answer::Page;
    }
    // A known answer, not a changed page.
    NotePageUnderstood();
    return Answer::Busy;
}

std::string HomeBase() {
    return SiteBase("51.home");
}

void AlbumList51(Session& session, const std::string& user) {
    session.SetOwnerName(user);
    session.SetSiteText(user);
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (Fetch51(request, HomeBase() + "/" + user + "/photo", page) != Answer::Page) {
        return;
    }
    SkipPast("class=\"p_main", true, page);
    Pieces pieces;
    SplitAll(page, "class=\"pic", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.coverUrl = TextBetween(piece, "src=\"", "\"");
        record.key = TextBetween(piece, "href=\"", "\"");
        record.name = TextBetween(piece, ">", "</");
        record.photoCount = static_cast<std::int32_t>(ReadNumber(TextBetween(piece, "(共", "张")));
        if (!AddAlbumAndGoOn(session, record)) {
            return;
        }
    }
}

// The album page's address. Keys are paths with their own leading slash; the doubled
// slash after the host is repaired. A key that is a whole address is used as it is.
std::string AlbumAddress(const std::string& key) {
    if (key.find("://") != std::string::npos) {
        return key;
    }
    std::string address = HomeBase() + "/" + key;
    ReplaceAll(address, "com//", "com/");
    return address;
}

void Photos51(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = CompressedAdapterRequest();
    const std::string albumAddress = AlbumAddress(album->key);
    std::string page;
    if (Fetch51(request, albumAddress, page) != Answer::Page) {
        return;
    }
    SkipPast("class=\"photo_item_list", true, page);
    const std::string id = TextBetween(page, "/item/", ".htm");
    std::string answer;
    const Answer got = Fetch51(
        request, HomeBase() + "/" + session.SiteText() + "/photo/getdataview/?id=" + id, answer);
    if (got == Answer::Busy) {
        session.Front().ShowMessage(kTryLater);
    }
    if (got != Answer::Page) {
        return;
    }
    SkipPast("rows\":", true, answer);
    Pieces pieces;
    SplitAll(answer, "\"photo_id\"", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string description =
            UnescapeUnicode(TextBetween(pieces[i], "photo_name\":\"", "\""));
        const std::string image = Unslash(TextBetween(pieces[i], "big_photo\":\"", "\""));
        if (!AddPhotoAndGoOn(session, image, description.empty() ? album->name : description,
                             "Referer: " + albumAddress, albumIndex)) {
            return;
        }
    }
}

}  // namespace

void RegisterSite51() {
    RegisterAlbumLister(AlbumLister::Albums51, &AlbumList51);
    RegisterPhotoLister(PhotoLister::Photos51, &Photos51);
}

}  // namespace brenvik
