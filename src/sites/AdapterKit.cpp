#include "sites/AdapterKit.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <thread>

#include "app/Session.h"

#include "net/Hosts.h"
#include "net/StringCtrl.h"

namespace brenvik {

std::string SiteBase(std::string_view role) {
    const std::string host = Host(role);
    return host.find("://") != std::string::npos ? host : "https://" + host;
}

URLRequest AdapterRequest(const std::string& address) {
    return URLRequest(address, "", kAdapterTimeoutMs);
}

namespace {

std::mutex& FetchHookMutex() {
    static std::mutex mutex;
    return mutex;
}

PageFetchHook& FetchHook() {
    static PageFetchHook hook;
    return hook;
}

bool FetchThroughHookOrNetwork(const URLRequest& request, CURLSource& response) {
    {
        std::lock_guard lock(FetchHookMutex());
        if (FetchHook()) {
            return FetchHook()(request, response);
        }
    }
    return Fetch(request, response, 0);
}

}  // namespace

void SetPageFetchHook(PageFetchHook hook) {
    std::lock_guard lock(FetchHookMutex());
    FetchHook() = std::move(hook);
}

bool FetchPage(URLRequest& request, const std::string& address, unsigned decodeFlags,
               std::string& text) {
    request.address = address;
    CURLSource response;
    text.clear();
    if (!FetchThroughHookOrNetwork(request, response)) {
        return false;
    }
    response.GetText(text, decodeFlags);
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

bool IsDigitsOnly(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
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

}  // namespace brenvik
