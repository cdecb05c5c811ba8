// huaban: one board and its pins. The board page already holds the first pins; later
// pages continue after the last pin seen. The site answers a busy gateway now and then;
// fresh cookies and a pause usually get past it.
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/PhotoCommunities.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGatewayTimeout = "504 Gateway Time-out";
constexpr int kAttempts = 3;

std::string Base() {
    return SiteBase("huaban.web");
}

// The typed address is ".../boards/<id>/..." with anything after it.
std::string BoardIdOf(const std::string& address) {
    std::string id = address;
    DropThrough(id, "/boards/");
    CutAt(id, {"?", "#", "/"});
    return id;
}

std::string PinId(const std::string& piece) {
    return TextBetween(piece, ":", ",");
}

void HuabanBoard(Session& session, const std::string& address) {
    URLRequest request = CompressedAdapterRequest();
    std::string page;
    if (!FetchPage(request, Base() + "/boards/" + BoardIdOf(address), kAutoPages, page) ||
        page.empty()) {
        return;
    }
    SkipPast("app.page[\"", true, page);
    const std::string boardId = TextBetween(page, "board_id\":", ",");
    if (boardId.empty()) {
        return;
    }
    AlbumRecord record;
    record.key = Base() + "/boards/" + boardId + "/";
    record.name = TextBetween(page, "title\":\"", "\"");
    record.photoCount =
        static_cast<std::int32_t>(ReadNumber(TextBetween(page, "pin_count\":", ",")));
    session.SetOwnerName(TextBetween(page, "username\":\"", "\""));
    // The pin list starts from this page's pins.
    session.SetSiteText(page);
    AddAlbum(session, record);
}

// A pin page, tried up to three times; a busy gateway gets the board's cookies cleared
// and a pause before the next try.
bool FetchPinPage(Session& session, URLRequest& request, const std::string& board,
                  const std::string& address, std::string& text) {
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (FetchPage(request, address, kAutoPages, text) && !text.empty() &&
            text.find(kGatewayTimeout) == std::string::npos) {
            return true;
        }
        CookieStore::Shared().ClearFor(board);
        AdapterPause(session, 6000ms);
        if (PhotoListShouldStop(session)) {
            return false;
        }
    }
    return false;
}

void HuabanPins(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    URLRequest request = AdapterRequest();
    request.headers = std::string(kAcceptCompressed) + "\r\nReferer: " + album->key;
    std::string text = session.SiteText();
    if (text.empty() && !FetchPinPage(session, request, album->key, album->key, text)) {
        return;
    }
    RepeatGuard guard;
    int collected = 0;
    int requests = 0;
    std::string lastPin;
    for (;;) {
        SkipPast("\"pins\"", true, text);
        Pieces pieces;
        SplitAll(text, "\"pin_id", pieces);
        if (pieces.size() < 2 || guard.Repeats(RepeatGuard::Of(pieces, PinId))) {
            return;
        }
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string& piece = pieces[i];
            lastPin = PinId(piece);
            const std::string key = TextBetween(piece, "key\":\"", "\"");
            const std::string description = TextBetween(piece, "raw_text\":\"", "\"");
            ++collected;
            if (!AddPhotoAndGoOn(session, SiteBase("huaban.image") + "/" + key,
                                 description.empty() ? album->name : description, "", albumIndex)) {
                return;
            }
        }
        if (collected >= album->photoCount) {
            return;
        }
        const std::string address = album->key + "?hxzmqq" + std::to_string(++requests) +
                                    "s&max=" + lastPin + "&limit=20&wfl=1";
        if (!FetchPinPage(session, request, album->key, address, text)) {
            return;
        }
    }
}

}  // namespace

void RegisterHuaban() {
    RegisterAlbumLister(AlbumLister::HuabanBoard, &HuabanBoard);
    RegisterPhotoLister(PhotoLister::HuabanBoardPins, &HuabanPins);
}

}  // namespace brenvik
