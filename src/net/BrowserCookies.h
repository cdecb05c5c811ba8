// Cookies from the user's own browser: a login made in Firefox or Chromium serves the
// page fetcher without logging in again in the embedded browser.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
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
// Reads a copy of a Chromium "Cookies" database: plain values, the unkeyed "v10" form, and
// "v11" values when the keyring's password is given.
BrowserCookies ReadChromiumCookies(const std::filesystem::path& database,
                                   std::string_view keyringPassword = {});

// "BROWSER" or "BROWSER:PROFILE" (firefox, chromium, chrome, brave, edge, vivaldi), looked
// up under `userHome`, read, and its cookies of the sites in the host table merged into the
// store. PROFILE is a profile name, a profile folder or (Chromium family) the user-data
// folder; without it the profile the browser would start with is read.
struct BrowserImport {
    int imported = 0;
    int leftOut = 0;               // cookies of other sites, not taken
    int locked = 0;                // values that need a keyring password we did not get
    std::string keyringProblem;    // why not, when the keyring was asked
    std::filesystem::path source;  // the database read
    std::string error;             // empty on success; names every place searched
};
BrowserImport ImportBrowserCookies(const std::string& choice, CookieStore& store,
                                   const std::filesystem::path& userHome);

// The user's home folder ($HOME).
std::filesystem::path UserHomeFolder();

// What an import tells the user: how many were taken, and why some could not be.
std::string BrowserImportReport(const BrowserImport& result);

}  // namespace brenvik
