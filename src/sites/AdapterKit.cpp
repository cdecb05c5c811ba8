#include "sites/AdapterKit.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <thread>

#include "session/Session.h"
#include "download/Collect.h"

#include "net/Hosts.h"
#include "net/TextKit.h"
#include "session/PageWatch.h"

namespace brenvik {

std::string SiteBase(std::string_view role) {
    const std::string host = Host(role);
    return host.find("://") != std::string::npos ? host : "https://" + host;
}

URLRequest AdapterRequest(const std::string& address) {
    return URLRequest(address, "", kAdapterTimeoutMs);
}

URLRequest CompressedAdapterRequest() {
    URLRequest request = AdapterRequest();
    request.headers = kAcceptCompressed;
    return request;
}

namespace {

std::mutex& FetchHookMutex() {
    static std::mutex mutex;
    return mutex;
}

FetchHook& TheFetchHook() {
    static FetchHook hook;
    return hook;
}

PageFetchHook& TheRawFetchHook() {
    static PageFetchHook hook;
    return hook;
}

bool FetchThroughHookOrNetwork(const URLRequest& request, FetchResponse& response) {
    {
        std::lock_guard lock(FetchHookMutex());
        if (TheRawFetchHook()) {
            return TheRawFetchHook()(request, response);
        }
    }
    return Fetch(request, response, 0);
}

}  // namespace

void SetAdapterFetchHook(FetchHook hook) {
    std::lock_guard lock(FetchHookMutex());
    TheFetchHook() = std::move(hook);
}

void SetPageFetchHook(PageFetchHook hook) {
    std::lock_guard lock(FetchHookMutex());
    TheRawFetchHook() = std::move(hook);
}

bool FetchPage(URLRequest& request, const std::string& address, unsigned decodeFlags,
               std::string& text) {
    request.address = address;
    FetchResponse response;
    text.clear();
    FetchHook hook;
    {
        std::lock_guard lock(FetchHookMutex());
        hook = TheFetchHook();
    }
    if (hook) {
        const std::optional<std::string> page = hook(request);
        text = page.value_or("");
        NotePageFetched(address, page ? 200 : 0, page ? &text : nullptr);
        return page.has_value();
    }
    NotePageStarting(address);
    const bool fetched = FetchThroughHookOrNetwork(request, response);
    // A fetched page's text fails only by inflating past the page cap.
    if (!fetched || !response.GetText(text, decodeFlags)) {
        if (fetched || response.pageTooLarge) {
            NotePageTooLarge(address);
        }
        NotePageFetched(address, response.status, nullptr, response.problem);
        return false;
    }
    NotePageFetched(address, response.status, &text);
    return true;
}

long long ReadNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 1'000'000'000'000'000LL) {
            break;
        }
    }
    return value;
}

std::int32_t ReadCount(std::string_view text) {
    return static_cast<std::int32_t>(
        std::min<long long>(ReadNumber(text), std::numeric_limits<std::int32_t>::max()));
}

std::string Unslash(std::string text) {
    ReplaceAll(text, "\\/", "/");
    return text;
}

bool FoundAfterStart(std::string_view text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    return at != std::string_view::npos && at >= 1;
}

namespace {

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}

PauseHook& Hook() {
    static PauseHook hook;
    return hook;
}

const std::chrono::steady_clock::time_point kProgramStart = std::chrono::steady_clock::now();

}  // namespace

void SetAdapterPauseHook(PauseHook hook) {
    std::lock_guard lock(HookMutex());
    Hook() = std::move(hook);
}

void AdapterPause(const Session& session, std::chrono::milliseconds time) {
    {
        std::lock_guard lock(HookMutex());
        if (Hook()) {
            Hook()(time);
            return;
        }
    }
    using namespace std::chrono_literals;
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        if (session.listingState == kListingStopAsked ||
            session.downloadState == kDownloadStopAsked) {
            return;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(50ms, end - std::chrono::steady_clock::now()));
    }
}

long long ProcessClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 kProgramStart)
        .count();
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
    // The leading blank keeps "p_skey" from matching "skey", and lets the first cookie count.
    return TextBetween(" " + cookies + ";", " " + name + "=", ";");
}

void DropThrough(std::string& text, std::string_view marker) {
    SkipPast(marker, true, text);
}

void CutAt(std::string& text, std::initializer_list<std::string_view> markers) {
    for (const auto marker : markers) {
        KeepBefore(marker, text);
    }
}

PageSource RequestSource(URLRequest& request, unsigned decodeFlags) {
    return [&request, decodeFlags](const std::string& address) -> std::optional<std::string> {
        std::string text;
        if (!FetchPage(request, address, decodeFlags, text)) {
            return std::nullopt;
        }
        return text;
    };
}

namespace {

bool HasAnyMarker(const std::string& text, const std::vector<std::string>& markers) {
    for (const auto& marker : markers) {
        if (text.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

void WalkMarkedPages(const PageSource& source, const std::function<std::string(int page)>& address,
                     const std::vector<std::string>& nextMarkers, const PageHandler& onPage) {
    SeenKeys keys;
    for (int page = 1;; ++page) {
        const auto text = source(address(page));
        if (!text || text->empty()) {
            return;
        }
        const bool more = nextMarkers.empty() || HasAnyMarker(*text, nextMarkers);
        const std::size_t before = keys.Count();
        if (!onPage(*text, page, keys) || !more || keys.Count() == before) {
            return;
        }
    }
}

void WalkCursorPages(const PageSource& source, const std::string& firstAddress,
                     const std::function<std::string(const std::string& cursor)>& addressFor,
                     const CursorHandler& onPage) {
    std::unordered_set<std::string> used;
    std::string address = firstAddress;
    for (;;) {
        const auto text = source(address);
        if (!text || text->empty()) {
            return;
        }
        const auto cursor = onPage(*text);
        if (!cursor || cursor->empty() || !used.insert(*cursor).second) {
            return;
        }
        address = addressFor(*cursor);
    }
}

std::string OnSiteHost(std::string_view role, const std::string& pathOrAddress) {
    if (pathOrAddress.starts_with("http://") || pathOrAddress.starts_with("https://")) {
        return pathOrAddress;
    }
    return SiteBase(role) + (pathOrAddress.starts_with("/") ? "" : "/") + pathOrAddress;
}

std::string JoinAddresses(std::string_view preferred, std::string_view fallback) {
    if (fallback.empty()) {
        return EscapeAddressControls(preferred);
    }
    if (preferred.empty()) {
        return EscapeAddressControls(fallback);
    }
    return EscapeAddressControls(preferred) + "\r\n" + EscapeAddressControls(fallback);
}

bool OfferAlbum(Session& session, SeenKeys& keys, const AlbumRecord& record) {
    if (record.key.empty() || !keys.Add(record.key)) {
        return true;
    }
    AddAlbum(session, record);
    return session.listingState != kListingStopAsked;
}

bool OfferPhoto(Session& session, SeenKeys& keys, const std::string& url,
                const std::string& description, int albumIndex) {
    if (url.empty() || !keys.Add(url)) {
        return true;
    }
    std::string name = description;
    if (name.empty()) {
        const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
        name = album ? album->name : "";
    }
    AddPhoto(session, url, name, "", albumIndex);
    return !PhotoListShouldStop(session);
}

std::string UnicodeDecoded(std::string text) {
    return text.find("\\u") == std::string::npos ? text : UnescapeUnicode(text);
}

bool AddAlbumAndGoOn(Session& session, const AlbumRecord& record) {
    AddAlbum(session, record);
    return session.listingState != kListingStopAsked;
}

bool AddPhotoAndGoOn(Session& session, const std::string& imageUrl, const std::string& nameText,
                     const std::string& headerBlock, int albumIndex) {
    AddPhoto(session, imageUrl, nameText, headerBlock, albumIndex);
    return !PhotoListShouldStop(session);
}

bool RepeatGuard::Repeats(const std::vector<std::string>& identities) {
    earlier_.insert(last_.begin(), last_.end());
    last_ = identities;
    const bool first = !seen_;
    seen_ = true;
    return !first && std::ranges::none_of(identities, [this](const std::string& identity) {
        return IsNew(identity);
    });
}

std::vector<std::string> RepeatGuard::Of(const Pieces& pieces,
                                         const std::function<std::string(const std::string&)>& id) {
    std::vector<std::string> identities;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        identities.push_back(id(pieces[i]));
    }
    return identities;
}

void PageThrough(URLRequest& request, unsigned decodeFlags, const LinkedPages& pages) {
    RepeatGuard guard;
    for (int page = 1;; ++page) {
        std::string text;
        if (!FetchPage(request, pages.address(page), decodeFlags, text) || text.empty()) {
            return;
        }
        const bool more = text.find(pages.nextMarker) != std::string::npos;
        const Pieces items = pages.items(page, text);
        if (guard.Repeats(RepeatGuard::Of(items, pages.identity))) {
            return;
        }
        for (std::size_t i = 1; i < items.size(); ++i) {
            if (guard.IsNew(pages.identity(items[i])) && !pages.take(items[i])) {
                return;
            }
        }
        if (!more) {
            return;
        }
    }
}

}  // namespace brenvik
