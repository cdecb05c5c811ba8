// Telling a changed site from an empty one, and keeping pages for bug reports.
//
// Every adapter page goes through FetchPage, which tells the watch of the calling thread
// what arrived. A job (the listing, one album's photo list) holds a PageWatch while its
// adapters run; when it ends with nothing found although the last page answered 200, the
// site most likely changed its markup, and that page is kept under the home folder's
// "diagnostics" for the user to send or to compare. No adapter has to know.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

  private:
    friend void NotePageFetched(const std::string&, long, const std::string*);
    friend void NotePageUnderstood();
    bool understood_ = false;
    PageWatch* outer_;
    int pages_ = 0;
    long lastStatus_ = 0;
    std::string lastAddress_;
    std::string lastText_;
};

// Called for every adapter page: its address, HTTP status (0: nothing arrived) and
// decoded text (nullptr when nothing arrived).
void NotePageFetched(const std::string& address, long status, const std::string* text);

// For an adapter that met a page it knows to hold nothing (a busy notice): the empty end
// that follows is explained, so no page is kept for it.
void NotePageUnderstood();

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
// and tells the user once per flag (true afterwards). A stopped job says nothing.
void ReportPossibleSiteChange(Session& session, const PageWatch& watch, bool& told);

}  // namespace brenvik
