// The small tools every site adapter uses: a request in the adapters' shape, fetching
// and decoding a page, reading numbers and addresses out of page text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/URLSource2.h"

namespace brenvik {

class Session;

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

// Answers the adapters' page fetches instead of the network (fuzzers, parser tests):
// the hook fills the response as an exchange would and returns false for a failed fetch.
// Process-wide; nullptr restores the network.
using PageFetchHook = std::function<bool(const URLRequest&, CURLSource&)>;
void SetPageFetchHook(PageFetchHook hook);

// Decimal value of the leading digits after leading blanks; 0 when there are none.
long long ReadNumber(std::string_view text);
// ReadNumber as a photo count: values beyond 32 bits are clamped, never wrapped.
std::int32_t ReadCount(std::string_view text);
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

}  // namespace brenvik
