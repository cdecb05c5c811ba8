#include "cli/CliFrontEnd.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "download/JobOutcome.h"

#include "download/DownloadWorkers.h"
#include "download/DownloadJob.h"
#include "net/TransferPace.h"

namespace brenvik::cli {
namespace {

// "812 B", "12.3 KB", "4.5 MB", "1.20 GB".
std::string SizeText(double bytes) {
    struct Unit {
        const char* name;
        double size;
    };
    constexpr Unit kUnits[] = {{"GB", 1024.0 * 1024 * 1024}, {"MB", 1024.0 * 1024}, {"KB", 1024.0}};
    char text[32];
    for (const Unit& unit : kUnits) {
        if (bytes >= unit.size) {
            std::snprintf(text, sizeof text, "%.1f %s", bytes / unit.size, unit.name);
            return text;
        }
    }
    std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

// "0:42", "12:05", "1:02:09".
std::string DurationText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

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
        if (std::sscanf(text.c_str(), kAlbumProgressFormat, &albumNumber_, &albumCount_) == 2) {
            albumStart_ = Clock::now();
        }
        Line(text);
    } else if (controlId == kControlProgress && !text.empty() && text != "......") {
        int done = 0;
        int total = 0;
        const bool photos = std::sscanf(text.c_str(), kProgressFormat, &done, &total) == 2;
        ShowProgress(photos ? PhotoProgress(done, total) : text);
    }
}

// Album i/n, photos saved/total, bytes, speed and the time the album still needs.
std::string CliFrontEnd::PhotoProgress(int done, int total) const {
    const auto now = Clock::now();
    const double jobSeconds = std::chrono::duration<double>(now - jobStart_).count();
    const double albumSeconds = std::chrono::duration<double>(now - albumStart_).count();
    const std::uint64_t bytes = BytesReceived() - jobStartBytes_;
    std::string text = "相册 " + std::to_string(albumNumber_) + "/" + std::to_string(albumCount_) +
                       "  图片 " + std::to_string(done) + "/" + std::to_string(total) + "  " +
                       SizeText(static_cast<double>(bytes));
    if (jobSeconds >= 1) {
        text += "  " + SizeText(static_cast<double>(bytes) / jobSeconds) + "/s";
    }
    if (done > 0 && done < total) {
        const double left = albumSeconds * (total - done) / done;
        text += "  剩余 " + DurationText(left);
    }
    return text;
}

// On a terminal one line is redrawn in place; elsewhere plain lines come at most once a
// second, so logs stay readable.
void CliFrontEnd::ShowProgress(const std::string& text) {
    const auto now = Clock::now();
    if (terminal_) {
        std::fprintf(stderr, "\r\x1b[K%s", text.c_str());
        std::fflush(stderr);
        progressOpen_ = true;
    } else if (now - lastProgress_ >= std::chrono::seconds(1)) {
        lastProgress_ = now;
        Line(text);
    }
}

void CliFrontEnd::ShowExchange(const ExchangeReport& report) {
    std::string text = "[请求] " + report.verb + " " + report.address + " -> " +
                       (report.status > 0 ? std::to_string(report.status) : "无响应") + ", " +
                       std::to_string(report.bytes) + " 字节, " +
                       std::to_string(report.time.count()) + " 毫秒";
    if (!report.ok) {
        text += ", 失败: " + report.reason;
    }
    std::lock_guard lock(mutex_);
    Line(text);
}

void CliFrontEnd::StartInput(std::size_t number, std::size_t count, const std::string& address) {
    if (quiet_ || count < 2) {
        return;
    }
    std::lock_guard lock(mutex_);
    Line("== [" + std::to_string(number) + "/" + std::to_string(count) + "] " + address);
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

void CliFrontEnd::DownloadLook(bool downloading) {
    if (!downloading) {
        return;
    }
    std::lock_guard lock(mutex_);
    jobStart_ = Clock::now();
    albumStart_ = jobStart_;
    jobStartBytes_ = BytesReceived();
}

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
