#include "net/CookieStore.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "net/AtomicFile.h"
#include "net/FolderLock.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

struct UrlParts {
    std::string scheme;
    std::string host;
    std::string path;
};

bool ParseAddress(const std::string& address, UrlParts& parts) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    auto get = [&](CURLUPart part, std::string& out) {
        char* value = nullptr;
        if (curl_url_get(url.get(), part, &value, 0) != CURLUE_OK) {
            return false;
        }
        out = value;
        curl_free(value);
        return true;
    };
    if (!get(CURLUPART_SCHEME, parts.scheme) || !get(CURLUPART_HOST, parts.host)) {
        return false;
    }
    if (!get(CURLUPART_PATH, parts.path) || parts.path.empty()) {
        parts.path = "/";
    }
    parts.host = LowerAscii(parts.host);
    return true;
}

bool DomainMatches(std::string_view host, std::string_view domain, bool includeSubdomains) {
    if (!domain.empty() && domain.front() == '.') {
        domain.remove_prefix(1);
        includeSubdomains = true;
    }
    if (host == domain) {
        return true;
    }
    return includeSubdomains && host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

// True when one name is the other or a domain above it: the cookies a transfer to the
// host could send or replace. Wider than the sending rule on purpose, so that no cookie
// that matters is left out.
// Both names in any case; asked for every stored cookie on every transfer, so without
// making lower-case copies.
bool RelatedHost(std::string_view host, std::string_view domain) {
    if (!domain.empty() && domain.front() == '.') {
        domain.remove_prefix(1);
    }
    const auto sameText = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    const auto below = [&](std::string_view longer, std::string_view shorter) {
        return longer.size() > shorter.size() &&
               longer[longer.size() - shorter.size() - 1] == '.' &&
               sameText(longer.substr(longer.size() - shorter.size()), shorter);
    };
    return sameText(host, domain) || below(host, domain) || below(domain, host);
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (!requestPath.starts_with(cookiePath)) {
        return false;
    }
    return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
           requestPath[cookiePath.size()] == '/';
}

}  // namespace

CookieStore& CookieStore::Shared() {
    static CookieStore store;
    return store;
}

std::string CookieStore::Cookie::Line() const {
    std::string line;
    line.reserve(kHttpOnlyPrefix.size() + domain.size() + path.size() + name.size() + value.size() +
                 40);
    if (httpOnly) {
        line += kHttpOnlyPrefix;
    }
    line += domain;
    line += includeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
    line += path;
    line += secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(expires);
    line += '\t';
    line += name;
    line += '\t';
    line += value;
    return line;
}

bool CookieStore::Parse(const std::string& rawLine, Cookie& cookie) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    cookie = Cookie{};
    if (line.starts_with(kHttpOnlyPrefix)) {
        cookie.httpOnly = true;
        line.erase(0, kHttpOnlyPrefix.size());
    } else if (line.empty() || line.front() == '#') {
        return false;
    }
    Pieces fields;
    SplitAll(line, "\t", fields);
    if (fields.size() < 6 || fields.size() > 7 || fields[0].empty() || fields[5].empty()) {
        return false;
    }
    // One spelling per cookie, the one libcurl writes: a leading dot for domain cookies.
    cookie.domain = fields[0];
    cookie.includeSubdomains = fields[1] == "TRUE" || cookie.domain.front() == '.';
    if (cookie.includeSubdomains && cookie.domain.front() != '.') {
        cookie.domain.insert(0, ".");
    }
    cookie.path = fields[2].empty() ? "/" : fields[2];
    cookie.secure = fields[3] == "TRUE";
    cookie.expires = std::atoll(fields[4].c_str());
    cookie.name = fields[5];
    cookie.value = fields.size() == 7 ? fields[6] : "";
    return true;
}

bool CookieStore::Open(const std::filesystem::path& file) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        ::chmod(file.c_str(), S_IRUSR | S_IWUSR);
    }
    bool ok = true;
    {
        std::lock_guard lock(mutex_);
        file_ = file;
        saved_.clear();  // whatever this store holds is new to the file
        ok = SaveLocked();
    }
    ReportSaveFailure();
    return ok;
}

void CookieStore::SetSaveFailureHandler(const void* owner, std::function<void()> handler) {
    std::lock_guard lock(handlerMutex_);
    if (handler) {
        handlerOwner_ = owner;
        handler_ = std::move(handler);
    } else if (handlerOwner_ == owner) {
        handlerOwner_ = nullptr;
        handler_ = nullptr;
    }
}

void CookieStore::ReportSaveFailure() {
    if (!saveFailed_) {
        return;
    }
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = handler_;
    }
    // Outside every lock: the handler may wait for the window thread, which may be
    // saving a cookie itself.
    if (handler) {
        handler();
    }
}

int CookieStore::Import(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return -1;
    }
    std::vector<Cookie> taken;
    Cookie cookie;
    for (std::string line; std::getline(in, line);) {
        if (Parse(line, cookie)) {
            taken.push_back(cookie);
        }
    }
    {
        std::lock_guard lock(mutex_);
        for (auto& c : taken) {
            cookies_[KeyOf(c)] = std::move(c);
        }
        SaveLocked();
    }
    ReportSaveFailure();
    return static_cast<int>(taken.size());
}

std::vector<std::string> CookieStore::Lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.reserve(cookies_.size());
    for (const auto& [key, cookie] : cookies_) {
        lines.push_back(cookie.Line());
    }
    return lines;
}

std::vector<std::string> CookieStore::LinesFor(const std::string& host,
                                               const std::vector<std::string>& handedHosts) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const auto& [key, cookie] : cookies_) {
        const std::string& domain = cookie.domain;
        if (RelatedHost(host, domain) &&
            std::none_of(handedHosts.begin(), handedHosts.end(),
                         [&](const std::string& h) { return RelatedHost(h, domain); })) {
            lines.push_back(cookie.Line());
        }
    }
    return lines;
}

void CookieStore::Merge(const std::vector<std::string>& before,
                        const std::vector<std::string>& after) {
    std::map<Key, std::string> given;
    Cookie cookie;
    for (const auto& line : before) {
        if (Parse(line, cookie)) {
            given[KeyOf(cookie)] = cookie.Line();
        }
    }
    std::unique_lock lock(mutex_);
    bool changed = false;
    std::set<Key> seen;
    for (const auto& line : after) {
        if (!Parse(line, cookie)) {
            continue;
        }
        const Key key = KeyOf(cookie);
        seen.insert(key);
        const auto was = given.find(key);
        if (was == given.end() || was->second != cookie.Line()) {
            cookies_[key] = cookie;
            changed = true;
        }
    }
    // A cookie the transfer was given but no longer holds was deleted or expired there;
    // drop it unless another transfer has replaced it meanwhile.
    for (const auto& [key, line] : given) {
        const auto now = cookies_.find(key);
        if (!seen.contains(key) && now != cookies_.end() && now->second.Line() == line) {
            cookies_.erase(now);
            changed = true;
        }
    }
    if (changed) {
        SaveLocked();
    }
    lock.unlock();
    ReportSaveFailure();
}

bool CookieStore::Put(const std::string& line) {
    Cookie cookie;
    if (!Parse(line, cookie)) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        cookies_[KeyOf(cookie)] = cookie;
        SaveLocked();
    }
    ReportSaveFailure();
    return true;
}

std::vector<const CookieStore::Cookie*> CookieStore::Matching(const std::string& address) const {
    std::vector<const Cookie*> found;
    UrlParts parts;
    if (!ParseAddress(address, parts)) {
        return found;
    }
    const long long now = static_cast<long long>(std::time(nullptr));
    for (const auto& [key, c] : cookies_) {
        if (DomainMatches(parts.host, c.domain, c.includeSubdomains) &&
            PathMatches(parts.path, c.path) && (!c.secure || parts.scheme == "https") &&
            (c.expires == 0 || c.expires > now)) {
            found.push_back(&c);
        }
    }
    // Longer paths first, as browsers send them.
    std::stable_sort(found.begin(), found.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() > b->path.size();
    });
    return found;
}

std::string CookieStore::CookiesFor(const std::string& address) const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const Cookie* c : Matching(address)) {
        if (!text.empty()) {
            text += "; ";
        }
        text += c->name + "=" + c->value;
    }
    return text;
}

void CookieStore::Remove(const std::string& domain, const std::string& path,
                         const std::string& name) {
    Cookie probe;
    if (!Parse(domain + "\tFALSE\t" + path + "\tFALSE\t0\t" + name + "\tx", probe)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (cookies_.erase(KeyOf(probe)) > 0) {
            SaveLocked();
        }
    }
    ReportSaveFailure();
}

void CookieStore::ClearFor(const std::string& address) {
    {
        std::lock_guard lock(mutex_);
        const auto found = Matching(address);
        if (found.empty()) {
            return;
        }
        for (const Cookie* c : found) {
            cookies_.erase(KeyOf(*c));
        }
        SaveLocked();
    }
    ReportSaveFailure();
}

void CookieStore::Clear() {
    {
        std::lock_guard lock(mutex_);
        cookies_.clear();
        SaveLocked();
    }
    ReportSaveFailure();
}

std::size_t CookieStore::Size() const {
    std::lock_guard lock(mutex_);
    return cookies_.size();
}

bool CookieStore::SaveLocked() {
    if (file_.empty()) {
        return true;
    }
    const FolderLock folderLock(file_.parent_path());
    // The newest file: another process may have saved since this store last did.
    std::map<Key, Cookie> newest;
    std::error_code ec;
    if (std::filesystem::exists(file_, ec)) {
        std::ifstream in(file_, std::ios::binary);
        if (!in) {
            saveFailed_ = true;  // never replace a file that could not be read
            return false;
        }
        Cookie cookie;
        for (std::string line; std::getline(in, line);) {
            if (Parse(line, cookie)) {
                newest[KeyOf(cookie)] = cookie;
            }
        }
    }
    std::map<Key, std::string> onDisk;
    for (const auto& [key, cookie] : newest) {
        onDisk[key] = cookie.Line();
    }
    // This store's changes since it last saved: what it added or changed, what it dropped.
    bool differs = false;
    for (const auto& [key, cookie] : cookies_) {
        const auto was = saved_.find(key);
        if (was == saved_.end() || was->second != cookie.Line()) {
            newest[key] = cookie;
        }
    }
    for (const auto& [key, line] : saved_) {
        if (!cookies_.contains(key)) {
            newest.erase(key);
        }
    }
    std::string content = "# Netscape HTTP Cookie File\n";
    for (const auto& [key, cookie] : newest) {
        content += cookie.Line() + "\n";
        const auto there = onDisk.find(key);
        differs = differs || there == onDisk.end() || there->second != cookie.Line();
    }
    differs = differs || newest.size() != onDisk.size();
    cookies_ = std::move(newest);
    if (!differs) {
        saved_ = std::move(onDisk);
        saveFailed_ = false;
        return true;
    }
    if (!WriteFileAtomically(file_, content, S_IRUSR | S_IWUSR)) {
        // Keep the changes as changes, so a later save still brings them to the file.
        saved_ = std::move(onDisk);
        saveFailed_ = true;
        return false;
    }
    saved_.clear();
    for (const auto& [key, cookie] : cookies_) {
        saved_[key] = cookie.Line();
    }
    saveFailed_ = false;
    return true;
}

}  // namespace brenvik
