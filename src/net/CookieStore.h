// The one cookie store that every fetch on every thread shares, persisted as a Netscape
// cookies.txt. libcurl parses Set-Cookie and picks the cookies each request sends; this
// store hands every transfer its cookies and collects the changes afterwards, since
// libcurl cannot share one cookie jar between transfers running at once. Several
// processes may share one file: every save merges this store's changes into the newest
// file under the folder's lock, and takes over what the others saved.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace brenvik {

// About 150,000 cookies, far more than a browser keeps: every cookie is held in memory
// several times over while the store is saved, so a larger file is refused unread.
inline constexpr std::uintmax_t kMaxCookieFileBytes = std::uintmax_t{16} << 20;

class CookieStore {
  public:
    // The store every fetch uses.
    static CookieStore& Shared();

    // Loads the file (if present) and saves every later change to it, owner-only. A file
    // larger than kMaxCookieFileBytes is not read (FileTooLarge): the store then keeps its
    // cookies for this run only and leaves the file as it is.
    bool Open(const std::filesystem::path& file);
    // True when the file given to Open was too large to be a cookie store.
    bool FileTooLarge() const { return fileTooLarge_; }
    // Called (outside the store's locks) after a change could not be saved; one handler
    // at a time, set and cleared by its owner (which must outlive the fetches it serves).
    void SetSaveFailureHandler(const void* owner, std::function<void()> handler);
    // True when the last save failed.
    bool SaveFailed() const { return saveFailed_; }
    // Adds the cookies of a cookie file (Netscape cookies.txt or a JSON export); returns how
    // many were taken, or -1 with the reason in `error` when the file is refused (one larger than
    // kMaxCookieFileBytes is).
    int Import(const std::filesystem::path& file, std::string* error = nullptr);

    // Netscape lines of every cookie, for a transfer to start from.
    std::vector<std::string> Lines() const;
    // The lines a transfer to the host may need (its own cookies and those of the domains
    // above or below it), leaving out the cookies already handed for any of `handedHosts`:
    // a transfer gets a few lines instead of the whole store, and a redirect to another
    // host adds that host's cookies without overwriting what the transfer holds already.
    std::vector<std::string> LinesFor(const std::string& host,
                                      const std::vector<std::string>& handedHosts = {}) const;
    // Applies what a transfer changed: lines it ended with versus the lines it was given.
    void Merge(const std::vector<std::string>& before, const std::vector<std::string>& after);
    // Takes one Netscape line (as from a browser); false when it cannot be read.
    bool Put(const std::string& line);

    // "name=value; name2=value2" of the cookies a request to the address would send.
    std::string CookiesFor(const std::string& address) const;
    // Drops one cookie (as a browser reports a removal); the domain as in a Netscape line.
    void Remove(const std::string& domain, const std::string& path, const std::string& name);
    // Drops the cookies a request to the address would send.
    void ClearFor(const std::string& address);
    void Clear();
    std::size_t Size() const;

  private:
    struct Cookie {
        std::string domain;  // without the "#HttpOnly_" prefix
        bool httpOnly = false;
        bool includeSubdomains = false;
        std::string path;
        bool secure = false;
        long long expires = 0;  // 0: session cookie
        std::string name;
        std::string value;
        std::string Line() const;
    };
    using Key = std::tuple<std::string, std::string, std::string>;  // domain, path, name

    static bool Parse(const std::string& line, Cookie& cookie);
    static Key KeyOf(const Cookie& c) { return {c.domain, c.path, c.name}; }
    std::vector<const Cookie*> Matching(const std::string& address) const;
    // Merges this store's changes since the last save into the newest file, writes it
    // and takes over the result; false when it could not be written.
    bool SaveLocked();
    // Runs the failure handler when the last save failed; call without mutex_ held.
    void ReportSaveFailure();

    mutable std::mutex mutex_;
    std::map<Key, Cookie> cookies_;
    std::map<Key, std::string> saved_;  // the file's lines as this store last saw them
    std::filesystem::path file_;
    std::atomic<bool> saveFailed_{false};
    std::atomic<bool> fileTooLarge_{false};
    std::mutex handlerMutex_;
    const void* handlerOwner_ = nullptr;
    std::function<void()> handler_;
};

}  // namespace brenvik
