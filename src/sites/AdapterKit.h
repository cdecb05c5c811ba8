// The small tools every site adapter uses: a request in the adapters' shape, fetching
// and decoding a page, reading numbers and addresses out of page text.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/StringCtrl.h"
#include "net/URLSource2.h"

namespace brenvik {

class Session;
struct ST_PERLISTRECORD;

inline constexpr unsigned kAdapterTimeoutMs = 20000;
inline constexpr const char* kAcceptCompressed = "Accept-Encoding: gzip, deflate";

// "https://host" for a role of the host table; an entry that carries its own scheme
// ("http://host:port") is taken as it is.
std::string SiteBase(std::string_view role);

// A request as adapters make them: no save path, 20 s, one attempt.
URLRequest AdapterRequest(const std::string& address = "");

// Fetches with flags 0 and decodes; false (and empty text) when the fetch failed.
bool FetchPage(URLRequest& request, const std::string& address, unsigned decodeFlags,
               std::string& text);

// Decimal value of the leading digits after leading blanks; 0 when there are none.
long long ReadNumber(std::string_view text);
// True when the text is made of decimal digits only (an empty text counts).
bool IsDigitsOnly(std::string_view text);
// "\/" becomes "/".
std::string Unslash(std::string text);
// True when the marker occurs at a position of at least 1.
bool FoundAfterStart(std::string_view text, std::string_view marker);

// The pauses sites ask for between pages. They end early when the user stops a job;
// tests replace the clock with a hook that only records them.
void AdapterPause(const Session& session, std::chrono::milliseconds time);
using PauseHook = std::function<void(std::chrono::milliseconds)>;
void SetAdapterPauseHook(PauseHook hook);

// Milliseconds since the program started.
long long ProcessClockMs();

// The value of a cookie in "a=1; b=2" (the first cookie counts too); empty when absent.
std::string CookieValue(const std::string& cookies, const std::string& name);

// Removes everything up to and including the first occurrence of the marker.
void DropThrough(std::string& text, std::string_view marker);
// Keeps the text before the first occurrence of each marker in turn.
void CutAt(std::string& text, std::initializer_list<std::string_view> markers);

// Tests hand adapters their pages without a server: while a hook is set, FetchPage asks
// it instead of the network (nullopt: the fetch failed).
using FetchPageHook = std::function<std::optional<std::string>(const URLRequest& request)>;
void SetFetchPageHook(FetchPageHook hook);

// Adds the row; false when the listing must stop.
bool AddAlbumAndGoOn(Session& session, const ST_PERLISTRECORD& record);
// Adds the photo; false when the collection must stop.
bool AddPhotoAndGoOn(Session& session, const std::string& imageUrl, const std::string& nameText,
                     const std::string& headerBlock, int albumIndex);

// Some sites answer every page past the last with the last page again, next-page link
// and all. A page is told by what identifies its items (album keys, photo addresses):
// a page whose items are those of the previous page ends the paging.
class RepeatGuard {
  public:
    // True when the identities equal those of the previous call.
    bool Repeats(std::vector<std::string> identities);
    // The identities of items 1..n-1 of split pieces.
    static std::vector<std::string> Of(const Pieces& pieces,
                                       const std::function<std::string(const std::string&)>& id);

  private:
    bool seen_ = false;
    std::vector<std::string> last_;
};

// Paging by a next-page link: page p = 1, 2, ... is fetched and cut into items; the
// paging ends on a failed fetch, an empty text, a stop, a repeated page, or a page
// without the next-page marker (after its items were taken).
struct LinkedPages {
    std::function<std::string(int page)> address;
    std::string nextMarker;
    // Cuts the page into items (piece 0 is not an item); may read page-wide values.
    std::function<Pieces(int page, std::string& text)> items;
    // What tells an item from others (its key or address).
    std::function<std::string(const std::string& item)> identity;
    // Takes one item; false ends the paging at once.
    std::function<bool(const std::string& item)> take;
};
void PageThrough(URLRequest& request, unsigned decodeFlags, const LinkedPages& pages);

}  // namespace brenvik
