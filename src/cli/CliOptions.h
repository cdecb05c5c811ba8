// The command line of brenvik-cli, parsed into what the run needs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brenvik::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitNothing = 1,  // nothing found, or some images failed
    kExitUsage = 2,
    kExitSavePath = 3,
};

enum class Answer { No, Yes };

struct Options {
    std::string address;
    std::optional<int> site;
    std::optional<int> sub;
    bool listOnly = false;
    std::string albums = "all";
    std::optional<std::string> savePath;
    std::optional<std::string> home;
    std::vector<std::string> cookieFiles;
    std::vector<std::string> cookieBrowsers;  // "firefox[:PROFILE]", "chromium[:PROFILE]"
    std::vector<std::string> connectTo;
    std::optional<std::string> caFile;
    unsigned exports = 0;                  // ListExport bits: write these lists instead
    std::optional<std::string> savePages;  // keep every page fetched in this folder
    Answer answer = Answer::No;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // set when options is empty
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// A site given as index or short name; the QQ names also choose the sub-selector.
struct SiteChoice {
    int site;
    std::optional<int> sub;
};
std::optional<SiteChoice> SiteByName(const std::string& name);

// "all", or 1-based rows and ranges ("1,3,5-7"), as 0-based indexes in the given order.
// Nothing when the selection is malformed or names a row outside 1..count.
std::optional<std::vector<int>> ParseAlbumSelection(const std::string& selection, int count);

extern const char* const kUsage;

}  // namespace brenvik::cli
