// Answers adapter pages from handlers instead of the network, so paging and end rules
// can be driven page by page. Every request is recorded with its header block.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sites/AdapterKit.h"

namespace brenvik::test {

// The value of a query key in an address ("" when absent).
inline std::string QueryValue(const std::string& address, const std::string& key) {
    for (const char separator : {'?', '&'}) {
        const std::string marker = separator + key + "=";
        const std::size_t at = address.find(marker);
        if (at != std::string::npos) {
            const std::size_t begin = at + marker.size();
            return address.substr(begin, address.find('&', begin) - begin);
        }
    }
    return "";
}

class FakeSitePages {
  public:
    using PageHandler = std::function<std::optional<std::string>(const std::string& address)>;

    FakeSitePages() {
        SetAdapterFetchHook([this](const URLRequest& request) { return Answer(request); });
    }
    ~FakeSitePages() { SetAdapterFetchHook(nullptr); }
    FakeSitePages(const FakeSitePages&) = delete;
    FakeSitePages& operator=(const FakeSitePages&) = delete;

    // Addresses starting with the prefix (the longest prefix wins); nothing = failed fetch.
    void On(const std::string& prefix, PageHandler handler) {
        std::lock_guard lock(mutex_);
        handlers_[prefix] = std::move(handler);
    }
    void Serve(const std::string& prefix, const std::string& page) {
        On(prefix, [page](const std::string&) { return page; });
    }

    std::vector<std::string> Asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    std::vector<std::string> HeaderBlocks() const {
        std::lock_guard lock(mutex_);
        return headers_;
    }
    // Recorded addresses that start with the prefix.
    std::vector<std::string> AskedUnder(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& address : Asked()) {
            if (address.starts_with(prefix)) {
                found.push_back(address);
            }
        }
        return found;
    }

  private:
    std::optional<std::string> Answer(const URLRequest& request) {
        PageHandler handler;
        {
            std::lock_guard lock(mutex_);
            asked_.push_back(request.address);
            headers_.push_back(request.headers);
            std::size_t best = 0;
            for (const auto& [prefix, candidate] : handlers_) {
                if (request.address.starts_with(prefix) && prefix.size() >= best) {
                    best = prefix.size();
                    handler = candidate;
                }
            }
        }
        return handler ? handler(request.address) : std::nullopt;
    }

    mutable std::mutex mutex_;
    std::map<std::string, PageHandler> handlers_;
    std::vector<std::string> asked_;
    std::vector<std::string> headers_;
};

}  // namespace brenvik::test
