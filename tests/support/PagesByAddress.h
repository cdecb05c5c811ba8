// Pages by address for code that takes a page source; records what was asked. A missing
// page is a failed fetch.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brenvik::test {

struct PagesByAddress {
    std::map<std::string, std::string> pages;
    std::vector<std::string> asked;

    std::function<std::optional<std::string>(const std::string& address)> Source() {
        return [this](const std::string& address) -> std::optional<std::string> {
            asked.push_back(address);
            const auto found = pages.find(address);
            if (found == pages.end()) {
                return std::nullopt;
            }
            return found->second;
        };
    }
};

}  // namespace brenvik::test
