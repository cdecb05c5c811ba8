// Telling a changed site from an empty one, and keeping pages for bug reports.
//
// Every adapter page goes through FetchPage, which tells the watch of the calling thread
// what arrived. A job (the listing, one album's photo list) holds a PageWatch while its
// adapters run; when it ends with nothing found although the last page answered 200, the
// site most likely changed its markup, and that page is kept under the home folder's
// "diagnostics" for the user to send or to compare. No adapter has to know.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/FetchProblem.h"

namespace brenvik {

class Session;

// The newest pages kept in "diagnostics"; older ones are removed.
inline constexpr std::size_t kDiagnosticPagesKept = 20;
inline constexpr const char* kDiagnosticsFolder = "diagnostics";
inline constexpr const char* kSiteChangedFormat =
    "从网站取回的页面中没有找到相册或图片，网站可能已改版。最后取回的页面已保存到: %s";

// The pages of one job on this thread; nests (the innermost watch sees the pages).
class PageWatch {
  public:
    PageWatch();
    ~PageWatch();
    PageWatch(const PageWatch&) = delete;
    PageWatch& operator=(const PageWatch&) = delete;

    // Forgets the pages seen so far (the next album of a job).
    void Restart();
    // True when pages came and the last one answered 200.
    bool LastPageAnswered() const { return pages_ > 0 && lastStatus_ == 200 && !understood_; }
    const std::string& LastAddress() const { return lastAddress_; }
    const std::string& LastText() const { return lastText_; }
    // True when the last page could not be fetched because of the network: the site
    // never answered, so no hint about what it answers (a login) applies.
    bool NetworkFailed() const { return pages_ > 0 && IsNetworkProblem(lastProblem_); }
    // "无法连接 host：cause" for the last page; empty when it did not fail on the network.
    std::string NetworkFailure() const;
    // Whether a message already named the network failure (it is named once).
    bool FailureTold() const { return failureTold_; }
    // Called with the host before each page and with "" after it: who is being waited for.
    void SetWaitingHook(std::function<void(const std::string& host)> hook) {
        waiting_ = std::move(hook);
    }

    // The hosts whose pages were given up as too large, each once, since the last call.
    std::vector<std::string> TakeTooLargeHosts();

  private:
    friend void NotePageStarting(const std::string&);
    friend void NotePageFetched(const std::string&, long, const std::string*, FetchProblem);
    friend void NotePageUnderstood();
    friend void NotePageTooLarge(const std::string&);
    std::vector<std::string> tooLargeHosts_;
    friend std::string WithNetworkCause(const std::string&);
    bool understood_ = false;
    bool failureTold_ = false;
    FetchProblem lastProblem_ = FetchProblem::None;
    std::function<void(const std::string&)> waiting_;
    PageWatch* outer_;
    int pages_ = 0;
    long lastStatus_ = 0;
    std::string lastAddress_;
    std::string lastText_;
};

// Called before every adapter page is asked for.
void NotePageStarting(const std::string& address);

// Called for every adapter page: its address, HTTP status (0: nothing arrived), decoded
// text (nullptr when nothing arrived) and why it failed.
void NotePageFetched(const std::string& address, long status, const std::string* text,
                     FetchProblem problem = FetchProblem::None);

// A site's own message with the network cause of the last page added, when there is one;
// the cause then counts as told.
std::string WithNetworkCause(const std::string& message);

// For an adapter that met a page it knows to hold nothing (a busy notice): the empty end
// that follows is explained, so no page is kept for it.
void NotePageUnderstood();

// For a page given up because it was larger than a page may be (or inflated past that).
void NotePageTooLarge(const std::string& address);
// Tells the user once per host which pages were given up as too large since the last call.
void ReportTooLargePages(Session& session, PageWatch& watch);

// Keeps every page fetched from now on as numbered files in the folder, the address in a
// first comment line; an empty path ends it. False when the folder cannot be made.
bool SetPageArchive(const std::filesystem::path& folder);

// The short name of a site index as the command line spells it ("renren").
std::string SiteShortName(int siteIndex, int subKind);

// Writes the watch's last page to "<home>/diagnostics/<site>-<time>.html" and keeps the
// newest kDiagnosticPagesKept; nothing when it could not be written.
std::optional<std::filesystem::path> SaveDiagnosticPage(const std::filesystem::path& home,
                                                        const std::string& site,
                                                        const PageWatch& watch);

// When the watch's last page answered 200: keeps it and returns what to tell the user.
std::optional<std::string> SiteChangeNote(Session& session, const PageWatch& watch);
// The end of a job that found nothing: when the watch's last page answered 200, keeps it
// and tells the user once per flag (true afterwards), as a notice that holds nothing up.
void ReportPossibleSiteChange(Session& session, const PageWatch& watch, bool& told);

}  // namespace brenvik
