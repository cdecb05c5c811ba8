// The command line of brenvik-cli, parsed into what the run needs.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brenvik::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitNothing = 1,  // nothing found, or some images failed
    kExitUsage = 2,
    kExitSavePath = 3,
};

inline constexpr const char* kVersionText = "brenvik-cli " BRENVIK_VERSION;

enum class Answer { No, Yes };

// The followed owners' commands; one at most per run.
enum class FollowCommand { None, Follow, Unfollow, Following, Update };

struct Options {
    std::vector<std::string> inputs;      // addresses, and "-" for standard input
    std::vector<std::string> inputFiles;  // -i: files of addresses ("-": standard input)
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
    unsigned exports = 0;                    // ListExport bits: write these lists instead
    std::optional<std::string> savePages;    // keep every page fetched in this folder
    std::optional<bool> skipSaved;           // --skip / --no-skip over the stored setting
    std::optional<int> retries;              // tries of an image address after the first
    std::optional<std::uint64_t> limitRate;  // bytes a second, shared by every transfer
    std::optional<std::string> proxy;
    FollowCommand follow = FollowCommand::None;
    std::string followTarget;  // --follow / --unfollow: the owner as typed
    std::optional<std::string> aria2Rpc;  // hand the downloads to this aria2 daemon
    std::optional<std::string> aria2Secret;
    std::optional<std::string> aria2Dir;  // the save path as the daemon's machine names it
    bool aria2Wait = false;               // wait for the daemon, record what arrived
    Answer answer = Answer::No;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    bool printMan = false;                       // hidden: the manual page, in roff
    std::optional<std::string> printCompletion;  // hidden: "bash" or "zsh"
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;       // set when options is empty
    std::string suggestion;  // a known option close to a mistyped one, when there is one
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// What the values of an option can be completed from in a shell.
enum class Completion { None, File, Folder, Words };

// One option of the command line. The parser, the help, the manual page and the shell
// completions are all made from the table of these, so they cannot disagree.
struct CliOption {
    const char* names;  // "-o,--save": short and long names
    const char* value;  // the value's name in the help; nullptr for a switch
    const char* help;   // '\n' starts a continuation line
    Completion completion = Completion::None;
    const char* words = nullptr;  // Completion::Words: the values, space-separated
    bool hidden = false;          // for the build's generators, not in the help
    bool (*apply)(Options&, const std::string& value, std::string& error) = nullptr;
};

std::span<const CliOption> OptionTable();

// The full help (-h) and the two lines shown under an error.
std::string HelpText();
std::string ShortUsage();

// The inputs in order: addresses as given, "-" and -i files read line by line (blank
// lines and lines starting with '#' are left out). Standard input is read once at most.
// Nothing, with the error set, when a file cannot be read or no address is left.
std::optional<std::vector<std::string>> GatherInputs(const Options& options, std::istream& stdIn,
                                                     std::string& error);

// A site given as index or short name; the QQ names also choose the sub-selector.
struct SiteChoice {
    int site;
    std::optional<int> sub;
};
std::optional<SiteChoice> SiteByName(const std::string& name);

// "all", or 1-based rows and ranges ("1,3,5-7"), as 0-based indexes in the given order.
// Nothing when the selection is malformed or names a row outside 1..count.
std::optional<std::vector<int>> ParseAlbumSelection(const std::string& selection, int count);

// "500K", "2M", "1.5M", "64000": bytes a second (K and M count 1024s); nothing when
// malformed or not above zero.
std::optional<std::uint64_t> ParseRate(const std::string& text);

}  // namespace brenvik::cli
