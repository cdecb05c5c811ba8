// The one cookie store that every fetch on every thread shares, persisted as a Netscape
// cookies.txt. libcurl parses Set-Cookie and picks the cookies each request sends; this
// store hands every transfer its cookies and collects the changes afterwards, since
// libcurl cannot share one cookie jar between transfers running at once.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace brenvik {

class CookieStore {
  public:
    // The store every fetch uses.
    static CookieStore& Shared();

    // Loads the file (if present) and saves every later change to it, owner-only.
    bool Open(const std::filesystem::path& file);
    // Adds the cookies of a Netscape cookies.txt; returns how many were taken, -1 on error.
    int Import(const std::filesystem::path& file);

    // Netscape lines of every cookie, for a transfer to start from.
    std::vector<std::string> Lines() const;
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
    void SaveLocked() const;

    mutable std::mutex mutex_;
    std::map<Key, Cookie> cookies_;
    std::filesystem::path file_;
};

}  // namespace brenvik
