// Cookies from the user's own browser: a login made in Firefox or Chromium serves the
// page fetcher without logging in again in the embedded browser.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brenvik {

class CookieStore;

struct BrowserCookies {
    std::vector<std::string> lines;  // Netscape cookies.txt lines
    int locked = 0;                  // values encrypted with a key from the system keyring
    std::string error;               // why nothing could be read; empty on success
};

// Reads a copy of a Firefox "cookies.sqlite" (the browser keeps the file locked).
BrowserCookies ReadFirefoxCookies(const std::filesystem::path& database);
// Reads a copy of a Chromium "Cookies" database: plain values and the unkeyed "v10" form.
BrowserCookies ReadChromiumCookies(const std::filesystem::path& database);

// "firefox", "firefox:PROFILE", "chromium" or "chromium:PROFILE" (a profile name or a
// profile folder), looked up under `userHome`, read and merged into the store.
struct BrowserImport {
    int imported = 0;
    int locked = 0;
    std::string error;  // empty on success
};
BrowserImport ImportBrowserCookies(const std::string& choice, CookieStore& store,
                                   const std::filesystem::path& userHome);

// The user's home folder ($HOME).
std::filesystem::path UserHomeFolder();

// What an import tells the user: how many were taken, and why some could not be.
std::string BrowserImportReport(const BrowserImport& result);

}  // namespace brenvik
