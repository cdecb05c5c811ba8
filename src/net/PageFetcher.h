// The page fetcher: one HTTP(S) exchange per call, raw response kept for decoding.
// Every album page, route lookup and image download goes through Fetch.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "net/FetchProblem.h"

namespace brenvik {

// Fetch flags.
inline constexpr unsigned kFetchCacheWrite = 1;  // Fetch: inflate gzip before the checks
inline constexpr unsigned kFetchCacheRead = 2;
inline constexpr unsigned kFetchOldAgent = 0x40;
inline constexpr unsigned kFetchWorker = kFetchCacheWrite | kFetchCacheRead;

// Decode flags of FetchResponse::GetText.
inline constexpr unsigned kDecodeInflate = 0x01;
inline constexpr unsigned kDecodeUtf8 = 0x02;
inline constexpr unsigned kDecodeEucKr = 0x04;
inline constexpr unsigned kDecodeBig5 = 0x08;
inline constexpr unsigned kDecodeAuto = 0x10;
inline constexpr unsigned kDecodeGbkKeepNul = 0x20;

inline constexpr const char* kAgentOld =
    "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0; SLCC2; .NET CLR "
    "2.0.50727; .NET CLR 3.5.30729; .NET CLR 3.0.30729; .NET4.0C; .NET4.0E)";
inline constexpr const char* kAgentDefault =
    "User-Agent:Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/31.0.1650.64 Safari/537.36";

// No page is larger than this; a page that never ends fails here instead of filling memory.
inline constexpr std::size_t kMaxPageBytes = std::size_t{32} << 20;
// A compressed body never inflates past the page cap either; a decompression bomb stops
// there, with no more memory taken than an uncompressed page may take.
inline constexpr std::size_t kMaxInflatedBytes = kMaxPageBytes;
// The largest image saved when the user set no maximum size; a never-ending image fails
// here instead of filling the disk.
inline constexpr std::size_t kDefaultMaxImageBytes = std::size_t{200} << 20;

// The agent string as a header value: the stored default agent carries the header name
// itself ("User-Agent:Mozilla/5.0 ..."), which must not be sent twice.
std::string AgentHeaderValue(std::string_view agent);

struct URLRequest {
    URLRequest(std::string url, std::filesystem::path saveTo, unsigned timeoutMs)
        : address(std::move(url)),
          savePath(std::move(saveTo)),
          readTimeoutMs(timeoutMs),
          operationTimeoutMs(timeoutMs) {}

    // Copies the body up to its first NUL; an empty text leaves no body.
    void SetBody(std::string_view bytes);

    std::string address;
    std::string verb = "GET";
    std::string headers;  // extra header lines joined by CR LF, sent unchanged
    std::string startMarker;
    std::string endMarker;
    std::string retryMarker;
    std::filesystem::path savePath;
    // An open file the body goes into instead of savePath (emptied first); the caller
    // keeps it. After a failed exchange it is empty.
    int saveDescriptor = -1;
    std::string body;
    // A page (no save path) must also arrive whole within the larger of the two: a server
    // that trickles a byte now and then never stalls long enough for a read time-out.
    unsigned readTimeoutMs;
    unsigned operationTimeoutMs;
    int minSizeKiB = 0;
    int maxSizeKiB = 0;  // 0: no limit
    unsigned minLength = 0;
    std::uint8_t attempts = 1;
    std::uint8_t pauseSeconds = 1;
    // Image downloads: an HTTP error status (400 and above) fails the exchange, so no
    // error page is ever saved under an image's name.
    bool rejectErrorStatus = false;
};

// A server's "come back later" is honoured, but never holds a download for long.
inline constexpr long kMaxToldWaitSeconds = 60;
inline constexpr int kMaxToldWaits = 3;

// How much of a body saved to a file stays in memory for the acceptance checks.
inline constexpr std::size_t kSavedBodyHead = 64 * 1024;

class FetchResponse {
  public:
    // One exchange; false on any failure. A body received before a failure stays.
    // Redirects may not lead to an internal address (net/Routing) unless they stay on the
    // requested host or a connect-to rule sends their host there; a redirect from https
    // to http is refused.
    bool FetchOnce(const URLRequest& request, unsigned fetchFlags);
    // The page as UTF-8 text: inflated, trimmed, converted, entities decoded. False (and
    // an empty text) when the body inflates past kMaxPageBytes.
    bool GetText(std::string& text, unsigned decodeFlags) const;

    std::string rawHeaders;  // status line and headers, CR LF line ends
    // The bytes received after marker trimming. When the body is saved to a file only
    // its first kSavedBodyHead bytes are kept here; `received` counts them all.
    std::string body;
    std::size_t received = 0;
    long status = 0;  // HTTP status of the final response, 0 when none arrived
    // The body broke the request's size limits (a rejection, not a failure of the site).
    bool sizeRejected = false;
    // A page (no save path) was larger than kMaxPageBytes and given up.
    bool pageTooLarge = false;
    // The error number of a failed write of the body to its file (ENOSPC, EIO, ...); 0
    // when every write succeeded. Not a failure of the site.
    int writeError = 0;
    // The wait the server asked for with Retry-After (seconds, or an HTTP date turned into
    // seconds from now); 0 when it asked none.
    long retryAfterSeconds = 0;
    // Why the last exchange failed; None after a success.
    FetchProblem problem = FetchProblem::None;
    std::string startMarker;
    std::string endMarker;
    bool gzip = false;
    // Why the last exchange failed, in the user's words; empty after a success.
    std::string failure;
};

// What one exchange of Fetch did, for a front end that shows every request.
struct ExchangeReport {
    std::string verb;
    std::string address;
    long status = 0;  // 0: no answer
    std::size_t bytes = 0;
    std::chrono::milliseconds time{0};
    bool ok = false;
    std::string reason;  // why it failed; empty when it did not
};
using ExchangeObserver = std::function<void(const ExchangeReport&)>;

// Installs the one observer of every exchange that Fetch makes (none: empty). It is
// called on the fetching thread after each exchange, so it must be safe on any thread.
void SetExchangeObserver(ExchangeObserver observer);

// Up to request.attempts exchanges with the acceptance checks; pauses after each failure.
// A 429 or 503 that carries Retry-After is waited out as told (at most kMaxToldWait, at
// most kMaxToldWaits times per call) and asked again without using up an attempt.
// A stop asked on the calling thread (net/TransferStop) ends the exchange under way or the
// wait, removes its temporary file and makes no further attempt.
bool Fetch(const URLRequest& request, FetchResponse& response, unsigned fetchFlags);

// Starts a fresh pool of reusable connections; the old one closes its connections as
// soon as no exchange uses it any more.
void ResetConnectionPool();

// "name=value; name2=value2" for the address from the shared cookie store.
std::string GetCookies(const std::string& address);

// Inflates one zlib or gzip stream onto `out` (which must be empty); true when the
// stream ended properly. Stops, returning false, once `cap` bytes were produced.
bool InflateAppend(std::string& out, std::string_view in, std::size_t cap = kMaxInflatedBytes);

// Inflates into `out` (emptied first) up to the page cap; true, with `out` empty, when
// the stream would have gone past it.
bool InflatesPastPageCap(std::string& out, std::string_view in);

// Cuts bytes to what follows the last start marker and precedes the next end marker.
// Returns true when the end marker was met.
bool TrimToMarkers(std::string& bytes, std::string_view startMarker, std::string_view endMarker);

}  // namespace brenvik
