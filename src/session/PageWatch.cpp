#include "session/PageWatch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>
#include <vector>

#include "session/Messages.h"
#include "session/Session.h"
#include "net/AtomicFile.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

thread_local PageWatch* tInnermostWatch = nullptr;

// Index by site; QQ's sub-kinds have names of their own.
constexpr std::array<const char*, 21> kSiteNames = {
    "qzone",    "baidu", "netease", "renren",    "sina",    "56",     "poco",
    "yupoo",    "51",    "zol",     "pchome",    "taobao",  "moko",   "babytree",
    "pconline", "hupu",  "jd",      "instagram", "duitang", "lofter", "topit"};

struct PageArchive {
    std::mutex mutex;
    std::filesystem::path folder;
    unsigned next = 1;
};

PageArchive& Archive() {
    static PageArchive archive;
    return archive;
}

// Numbered files already in the folder stay: a second run continues after them.
unsigned NextFreeNumber(const std::filesystem::path& folder) {
    unsigned highest = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 5 && name.ends_with(".html") &&
            IsDigitsOnly(name.substr(0, name.size() - 5))) {
            highest = std::max(highest, static_cast<unsigned>(std::stoul(name.substr(0, 9))));
        }
    }
    return highest + 1;
}

// The address as an HTML comment line: nothing in it may end the comment or the line.
std::string AddressComment(const std::string& address) {
    std::string clean;
    for (const char c : address) {
        if (c == '\r' || c == '\n') {
            continue;
        }
        if (c == '-' && !clean.empty() && clean.back() == '-') {
            clean += "%2D";
            continue;
        }
        clean += c;
    }
    return "<!-- " + clean + " -->\n";
}

void ArchivePage(const std::string& address, const std::string& text) {
    PageArchive& archive = Archive();
    std::filesystem::path file;
    {
        std::lock_guard lock(archive.mutex);
        if (archive.folder.empty()) {
            return;
        }
        char name[32];
        std::snprintf(name, sizeof name, "%04u.html", archive.next++);
        file = archive.folder / name;
    }
    WriteFileAtomically(file, AddressComment(address) + text);
}

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Removes the oldest pages beyond the number kept.
void KeepNewest(const std::filesystem::path& folder, std::size_t kept) {
    struct Page {
        std::filesystem::file_time_type time;
        std::filesystem::path path;
    };
    std::vector<Page> pages;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::error_code timeError;
        if (entry.is_regular_file(timeError) && entry.path().extension() == ".html") {
            pages.push_back({entry.last_write_time(timeError), entry.path()});
        }
    }
    if (pages.size() <= kept) {
        return;
    }
    std::sort(pages.begin(), pages.end(), [](const Page& a, const Page& b) {
        return a.time != b.time ? a.time > b.time : a.path > b.path;
    });
    for (std::size_t i = kept; i < pages.size(); ++i) {
        std::filesystem::remove(pages[i].path, ec);
    }
}

}  // namespace

PageWatch::PageWatch() : outer_(tInnermostWatch) {
    tInnermostWatch = this;
}

PageWatch::~PageWatch() {
    tInnermostWatch = outer_;
}

std::string PageWatch::NetworkFailure() const {
    if (!NetworkFailed()) {
        return {};
    }
    return "无法连接 " + HostKey(lastAddress_) + "：" + ProblemText(lastProblem_, 0);
}

void PageWatch::Restart() {
    pages_ = 0;
    lastStatus_ = 0;
    understood_ = false;
    failureTold_ = false;
    lastProblem_ = FetchProblem::None;
    lastAddress_.clear();
    lastText_.clear();
}

void NotePageStarting(const std::string& address) {
    if (PageWatch* watch = tInnermostWatch; watch && watch->waiting_) {
        watch->waiting_(HostKey(address));
    }
}

void NotePageFetched(const std::string& address, long status, const std::string* text,
                     FetchProblem problem) {
    if (text) {
        ArchivePage(address, *text);
    }
    PageWatch* watch = tInnermostWatch;
    if (!watch) {
        return;
    }
    if (watch->waiting_) {
        watch->waiting_("");
    }
    ++watch->pages_;
    watch->lastProblem_ = text ? FetchProblem::None : problem;
    watch->lastStatus_ = text ? status : 0;
    watch->lastAddress_ = address;
    watch->lastText_ = text ? *text : std::string();
}

void NotePageTooLarge(const std::string& address) {
    PageWatch* watch = tInnermostWatch;
    const std::string host = HostKey(address);
    if (watch && std::find(watch->tooLargeHosts_.begin(), watch->tooLargeHosts_.end(), host) ==
                     watch->tooLargeHosts_.end()) {
        watch->tooLargeHosts_.push_back(host);
    }
}

std::vector<std::string> PageWatch::TakeTooLargeHosts() {
    return std::exchange(tooLargeHosts_, {});
}

void ReportTooLargePages(Session& session, PageWatch& watch) {
    for (const std::string& host : watch.TakeTooLargeHosts()) {
        session.Front().ShowMessage(std::string(msg::kPageTooLarge) + host);
    }
}

void NotePageUnderstood() {
    if (PageWatch* watch = tInnermostWatch) {
        watch->understood_ = true;
    }
}

std::string WithNetworkCause(const std::string& message) {
    PageWatch* watch = tInnermostWatch;
    if (!watch || !watch->NetworkFailed()) {
        return message;
    }
    watch->failureTold_ = true;
    return message + "（" + watch->NetworkFailure() + "）";
}

bool SetPageArchive(const std::filesystem::path& folder) {
    PageArchive& archive = Archive();
    std::error_code ec;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (!std::filesystem::is_directory(folder, ec)) {
            return false;
        }
    }
    std::lock_guard lock(archive.mutex);
    archive.folder = folder;
    archive.next = folder.empty() ? 1 : NextFreeNumber(folder);
    return true;
}

std::string SiteShortName(int siteIndex, int subKind) {
    if (siteIndex == 0 && subKind == 1) {
        return "qqgroup";
    }
    if (siteIndex == 0 && subKind == 2) {
        return "tweibo";
    }
    if (siteIndex < 0 || siteIndex >= static_cast<int>(kSiteNames.size())) {
        return "site" + std::to_string(siteIndex);
    }
    return kSiteNames[static_cast<std::size_t>(siteIndex)];
}

std::optional<std::filesystem::path> SaveDiagnosticPage(const std::filesystem::path& home,
                                                        const std::string& site,
                                                        const PageWatch& watch) {
    const std::filesystem::path folder = home / kDiagnosticsFolder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string stem = site + "-" + TimeStamp();
    std::filesystem::path file = folder / (stem + ".html");
    // Two pages within one second each keep their own file.
    for (int k = 2; std::filesystem::exists(file, ec); ++k) {
        file = folder / (stem + "-" + std::to_string(k) + ".html");
    }
    if (!WriteFileAtomically(file, AddressComment(watch.LastAddress()) + watch.LastText())) {
        return std::nullopt;
    }
    KeepNewest(folder, kDiagnosticPagesKept);
    return file;
}

std::optional<std::string> SiteChangeNote(Session& session, const PageWatch& watch) {
    if (!watch.LastPageAnswered()) {
        return std::nullopt;
    }
    const auto file = SaveDiagnosticPage(session.BaseFolder(),
                                         SiteShortName(session.siteIndex, session.subKind), watch);
    if (!file) {
        return std::nullopt;
    }
    std::vector<char> text(std::string(kSiteChangedFormat).size() + file->string().size() + 1);
    std::snprintf(text.data(), text.size(), kSiteChangedFormat, file->c_str());
    return std::string(text.data());
}

void ReportPossibleSiteChange(Session& session, const PageWatch& watch, bool& told) {
    if (told) {
        return;
    }
    if (const auto note = SiteChangeNote(session, watch)) {
        told = true;
        session.Front().Notice(*note);
    }
}

}  // namespace brenvik
