#include "cli/CliFrontEnd.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "download/JobOutcome.h"

namespace brenvik::cli {
namespace {

// The sites' hints point at the window's login menu; here a login comes from a browser's
// cookies. The phrases are replaced in this order (the longer first).
constexpr std::pair<const char*, const char*> kLoginMenuPhrases[] = {
    {"下载器的登录菜单里", "浏览器里"},
    {"登录菜单里", "浏览器里"},
};
constexpr const char* kCliLoginWay =
    "\n(在浏览器里登录后，用 --cookies-from-browser firefox|chromium 或 --cookies cookies.txt "
    "把登录带给 brenvik-cli，再重新运行)";

}  // namespace

std::string ForTheCommandLine(std::string text) {
    std::size_t lastReplaced = std::string::npos;
    for (const auto& [menu, browser] : kLoginMenuPhrases) {
        for (std::size_t at = text.find(menu); at != std::string::npos; at = text.find(menu, at)) {
            text.replace(at, std::char_traits<char>::length(menu), browser);
            lastReplaced = at;
        }
    }
    if (lastReplaced == std::string::npos) {
        return text;
    }
    // The way to log in follows the paragraph that asks for it (a changed-site note may
    // follow in the same message).
    const std::size_t paragraphEnd = text.find("\n\n", lastReplaced);
    return text.insert(paragraphEnd == std::string::npos ? text.size() : paragraphEnd,
                       kCliLoginWay);
}

CliFrontEnd::CliFrontEnd(bool answerYes, bool quiet)
    : answerYes_(answerYes), quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {}

void CliFrontEnd::EndProgressLine() {
    if (progressOpen_) {
        std::fputc('\n', stderr);
        progressOpen_ = false;
    }
}

void CliFrontEnd::Line(const std::string& text) {
    EndProgressLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void CliFrontEnd::ShowMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    ++messages_;
    Line("[提示] " + ForTheCommandLine(text));
}

void CliFrontEnd::Notice(const std::string& text) {
    std::lock_guard lock(mutex_);
    Line("[提示] " + text);
}

bool CliFrontEnd::AskYesNo(const std::string& text) {
    std::lock_guard lock(mutex_);
    Line("[提示] " + text + " -> " + (answerYes_ ? "是" : "否"));
    return answerYes_;
}

void CliFrontEnd::OpenLogin(const std::string& address) {
    std::lock_guard lock(mutex_);
    Line("[登录] 需要在浏览器中登录: " + address +
         "\n       登录后用 --cookies-from-browser 或 --cookies 导入该浏览器的登录再重试");
}

void CliFrontEnd::SetControlText(int controlId, const std::string& text) {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (controlId == kControlJobStatus) {
        album_ = text;
        Line(text);
    } else if (controlId == kControlProgress && !text.empty() && text != "......") {
        const auto now = std::chrono::steady_clock::now();
        if (terminal_) {
            std::fprintf(stderr, "\r\x1b[K%s %s", album_.c_str(), text.c_str());
            std::fflush(stderr);
            progressOpen_ = true;
        } else if (now - lastProgress_ >= std::chrono::seconds(1)) {
            // Plain lines at most once a second, so logs stay readable.
            lastProgress_ = now;
            Line(text);
        }
    }
}

void CliFrontEnd::AlbumAdded(const AlbumRecord&) {}

void CliFrontEnd::WorkerNotice(int seconds, int count) {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    Line("本图集共" + std::to_string(count) + "张图片，用时" + std::to_string(seconds) + "秒");
}

void CliFrontEnd::ListingLook(bool) {}

void CliFrontEnd::AutoDownload() {}

void CliFrontEnd::DownloadLook(bool) {}

void CliFrontEnd::OpenFolder(const std::string& folder) {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    Line("保存在: " + folder);
}

// The failed photos go to stderr even with --quiet: they are what a person acts on.
void CliFrontEnd::DownloadFinished(const DownloadJobOutcome& outcome) {
    std::lock_guard lock(mutex_);
    for (const std::string& line : FailureLines(outcome)) {
        Line(line);
    }
}

int CliFrontEnd::MessagesShown() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

}  // namespace brenvik::cli
