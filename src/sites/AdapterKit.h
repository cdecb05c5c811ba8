// The small tools every site adapter uses: a request in the adapters' shape, fetching
// and decoding a page, reading numbers and addresses out of page text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "net/TextKit.h"
#include "net/PageFetcher.h"

namespace brenvik {

class Session;
struct AlbumRecord;

inline constexpr unsigned kAdapterTimeoutMs = 20000;
inline constexpr const char* kAcceptCompressed = "Accept-Encoding: gzip, deflate";

// "https://host" for a role of the host table; an entry that carries its own scheme
// ("http://host:port") is taken as it is.
std::string SiteBase(std::string_view role);

// A request as adapters make them: no save path, 20 s, one attempt.
URLRequest AdapterRequest(const std::string& address = "");
// The same, asking for compressed answers: what most sites' pages are fetched with.
URLRequest CompressedAdapterRequest();

// Fetches with flags 0 and decodes; false (and empty text) when the fetch failed.
bool FetchPage(URLRequest& request, const std::string& address, unsigned decodeFlags,
               std::string& text);

// Answers the adapters' page fetches instead of the network (fuzzers, parser tests):
// the hook fills the response as an exchange would and returns false for a failed fetch.
// Process-wide; nullptr restores the network.
using PageFetchHook = std::function<bool(const URLRequest&, FetchResponse&)>;
void SetPageFetchHook(PageFetchHook hook);

// Decimal value of the leading digits after leading blanks; 0 when there are none.
long long ReadNumber(std::string_view text);
// ReadNumber as a photo count: values beyond 32 bits are clamped, never wrapped.
std::int32_t ReadCount(std::string_view text);
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

// --- Paged adapters ------------------------------------------------------------------

struct AlbumRecord;

// A page by address: its decoded text, or nothing when the fetch failed.
using PageSource = std::function<std::optional<std::string>(const std::string& address)>;
// Pages fetched through one request (its headers and markers) and decoded with the flags.
PageSource RequestSource(URLRequest& request, unsigned decodeFlags);

// What a page loop has met before. Services that ignore the page number hand out the same
// page for ever; a loop stops when a page brings nothing it has not seen, and delivers
// nothing twice.
class SeenKeys {
  public:
    // True when the key is new (and remembers it).
    bool Add(const std::string& key) { return seen_.insert(key).second; }
    bool Has(const std::string& key) const { return seen_.contains(key); }
    std::size_t Count() const { return seen_.size(); }

  private:
    std::unordered_set<std::string> seen_;
};

// One page's text and number; false ends the walk at once.
using PageHandler = std::function<bool(const std::string& text, int page, SeenKeys& keys)>;

// Pages 1, 2, ... of a list: each page is fetched and handled, and the next one follows
// while the page shows one of the next-page markers (with no markers: while pages
// come). The walk ends on a failed fetch or an empty text, and also on a page that
// brings no key not met before: a site that answers every page number with the same
// page would otherwise be walked for ever.
void WalkMarkedPages(const PageSource& source, const std::function<std::string(int page)>& address,
                     const std::vector<std::string>& nextMarkers, const PageHandler& onPage);

// Pages chained by a cursor: the first address, then addressFor(cursor) with the cursor
// the last page handed back. Ends on a failed fetch, an empty text, a handler that gives
// no cursor, an empty cursor, or a cursor met before.
using CursorHandler = std::function<std::optional<std::string>(const std::string& text)>;
void WalkCursorPages(const PageSource& source, const std::string& firstAddress,
                     const std::function<std::string(const std::string& cursor)>& addressFor,
                     const CursorHandler& onPage);

// An address on a site host: a text that is already a full address stays as it is,
// a path is put on the host of the role.
std::string OnSiteHost(std::string_view role, const std::string& pathOrAddress);

// Adds the row unless its key is empty or was delivered before; false when the listing
// must stop.
bool OfferAlbum(Session& session, SeenKeys& keys, const AlbumRecord& record);
// Adds the photo unless its address is empty or was delivered before; an empty
// description takes the album's name. False when the collection must stop.
bool OfferPhoto(Session& session, SeenKeys& keys, const std::string& url,
                const std::string& description, int albumIndex);
// Texts holding "\u" escapes decoded.
std::string UnicodeDecoded(std::string text);

// Tests answer adapter pages without a network: the hook gets each request (address and
// header block) and returns the decoded text, or nothing for a failed fetch.
using FetchHook = std::function<std::optional<std::string>(const URLRequest& request)>;
void SetAdapterFetchHook(FetchHook hook);

// Adds the row; false when the listing must stop.
bool AddAlbumAndGoOn(Session& session, const AlbumRecord& record);
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
