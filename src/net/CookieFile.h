// Cookie files a user hands over (--cookies): Netscape cookies.txt, or the JSON list that
// browser extensions export. Anything else is refused as a whole, with the reason, so that
// no junk line ever reaches the cookie store.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brenvik {

struct CookieFileLines {
    std::vector<std::string> lines;  // Netscape lines, in the file's order
    std::string error;               // why the file was refused; empty when it was read
};

CookieFileLines ReadCookieFile(const std::filesystem::path& file);

// The lines of a JSON cookie export ([{"domain":…,"name":…,"value":…}, …]); empty when the
// text is not such a list.
std::vector<std::string> CookieLinesFromJson(const std::string& text);

}  // namespace brenvik
