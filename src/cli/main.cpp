// brenvik-cli: lists a site's albums and downloads them, for scripts and terminals.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/AddressRule.h"
#include "session/AlbumRows.h"
#include "app/ListJob.h"
#include "session/Session.h"
#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "download/DownloadJob.h"
#include "net/AtomicFile.h"
#include "net/BrowserCookies.h"
#include "net/CookieStore.h"
#include "net/Hosts.h"
#include "net/Routing.h"
#include "net/TextKit.h"
#include "session/PageWatch.h"
#include "sites/Sites.h"

namespace brenvik::cli {
namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gStopSignal{0};  // the first stop signal, for the exit status

// Ctrl-C and SIGTERM are taken by one thread of their own (they are blocked everywhere
// else), so handling them may lock, print and remove files. The first asks every job to
// stop, which ends running transfers within about a second; the second ends the process
// at once, still removing the temporary files of unfinished downloads.
void BlockStopSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WatchStopSignals(sigset_t signals) {
    std::thread([signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) {
                continue;
            }
            int none = 0;
            if (gStopSignal.compare_exchange_strong(none, signal)) {
                std::fputs("\n正在停止……\n", stderr);
                gInterrupted = true;
                continue;
            }
            RemoveTemporariesForExit();
            std::fflush(stderr);
            ::_exit(128 + gStopSignal.load());
        }
    }).detach();
}

int StoppedExitCode() {
    return 128 + gStopSignal.load();
}

std::filesystem::path DefaultHome() {
    if (const char* home = std::getenv("BRENVIK_HOME"); home && *home) {
        return home;
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        return std::filesystem::path(data) / "brenvik";
    }
    const char* user = std::getenv("HOME");
    return std::filesystem::path(user && *user ? user : ".") / ".local" / "share" / "brenvik";
}

std::string AlbumsJson(const std::vector<AlbumRecord>& albums) {
    std::string json = "[";
    for (std::size_t i = 0; i < albums.size(); ++i) {
        const auto& a = albums[i];
        json += (i ? ",\n  " : "\n  ");
        json += "{\"row\":" + std::to_string(i + 1) + ",\"name\":" + JsonString(a.name) +
                ",\"count\":" + std::to_string(a.photoCount) +
                ",\"access\":" + JsonString(AccessNote(a.access)) +
                ",\"key\":" + JsonString(a.key) + ",\"cover\":" + JsonString(a.coverUrl) + "}";
    }
    return json + (albums.empty() ? "]" : "\n]");
}

void PrintAlbumTable(const std::vector<AlbumRecord>& albums) {
    for (std::size_t i = 0; i < albums.size(); ++i) {
        const AlbumRowTexts row = AlbumRow(albums[i], static_cast<int>(i) + 1);
        std::printf("%s\t%s\t%s\t%s\n", row.number.c_str(), row.name.c_str(), row.count.c_str(),
                    row.access.c_str());
    }
}

// Turns Ctrl-C into the stop command of whichever job runs.
class StopWatcher {
  public:
    explicit StopWatcher(Session& session)
        : thread_([this, &session] {
              while (!done_) {
                  if (gInterrupted) {
                      RequestListingStop(session);
                      RequestDownloadStop(session);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~StopWatcher() {
        done_ = true;
        thread_.join();
    }
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

bool PrepareHome(const Options& options, const std::filesystem::path& home) {
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    if (!std::filesystem::is_directory(home)) {
        std::fprintf(stderr, "无法使用数据目录: %s\n", home.c_str());
        return false;
    }
    for (const auto& problem : HostTable::Shared().LoadOverrides(home / kHostOverrideFile)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    CookieStore::Shared().Open(home / "cookies.txt");
    for (const auto& file : options.cookieFiles) {
        const int taken = CookieStore::Shared().Import(file);
        if (taken < 0) {
            std::fprintf(stderr, "无法读取 cookies 文件: %s\n", file.c_str());
            return false;
        }
    }
    for (const auto& browser : options.cookieBrowsers) {
        const BrowserImport imported =
            ImportBrowserCookies(browser, CookieStore::Shared(), UserHomeFolder());
        std::fprintf(stderr, "%s\n", BrowserImportReport(imported).c_str());
        if (!imported.error.empty()) {
            return false;
        }
    }
    for (const auto& rule : options.connectTo) {
        if (!AddConnectTo(rule)) {
            std::fprintf(stderr, "无效的 --connect-to 规则: %s\n", rule.c_str());
            return false;
        }
    }
    if (options.caFile) {
        SetExtraCaFile(*options.caFile);
    }
    if (options.savePages && !SetPageArchive(*options.savePages)) {
        std::fprintf(stderr, "无法使用页面保存目录: %s\n", options.savePages->c_str());
        return false;
    }
    return true;
}

// Albums with nothing new and albums the person declined are not failures: the outcome
// says so, and the exit status stays 0.
int DownloadExitCode(const DownloadJobOutcome& outcome) {
    if (outcome.folderFailed || outcome.listsFailed > 0) {
        return kExitSavePath;
    }
    if (gInterrupted || outcome.stopped) {
        return StoppedExitCode();
    }
    return AnythingFailed(outcome) ? kExitNothing : kExitOk;
}

int Run(const Options& options) {
    const std::filesystem::path home =
        options.home ? std::filesystem::path(*options.home) : DefaultHome();
    if (!PrepareHome(options, home)) {
        return kExitUsage;
    }
    RegisterAllSites();
    CliFrontEnd front(options.answer == Answer::Yes, options.quiet);
    Session session(home, front);
    session.CheckHome();
    session.ready = true;

    int site = 0;
    int sub = 0;
    if (const auto guess = SiteForAddress(options.address)) {
        site = guess->site;
        sub = guess->subSelector;
    }
    if (options.site) {
        site = *options.site;
        sub = 0;
    }
    if (options.sub) {
        sub = *options.sub;
    }

    StopWatcher watcher(session);
    PrepareListing(session, site);
    GetListFunc(session, options.address, site == 0 ? sub : 0);
    const std::vector<AlbumRecord> albums = session.albums.All();
    if (options.address.find_first_not_of(" \t\r\n") == std::string::npos) {
        return kExitUsage;
    }
    if (!options.json) {
        PrintAlbumTable(albums);
    }
    if (albums.empty()) {
        if (options.json) {
            std::printf("{\"albums\":[]}\n");
        }
        return gInterrupted ? StoppedExitCode() : kExitNothing;
    }
    if (options.listOnly || gInterrupted) {
        if (options.json) {
            std::printf("{\"albums\":%s}\n", AlbumsJson(albums).c_str());
        }
        return gInterrupted ? StoppedExitCode() : kExitOk;
    }
    const auto selected = ParseAlbumSelection(options.albums, static_cast<int>(albums.size()));
    if (!selected) {
        std::fprintf(stderr, "相册序号有误: %s (共%zu个相册)\n", options.albums.c_str(),
                     albums.size());
        return kExitUsage;
    }
    std::string savePath = options.savePath ? *options.savePath : "";
    if (!options.savePath) {
        const std::string recent = session.Settings().recent[kRecentSavePaths][0];
        savePath = recent.empty() ? std::filesystem::current_path().string() : recent;
    }
    const DownloadJobOutcome outcome =
        RunDownloadJob(session, *selected, savePath, options.exports);
    if (!outcome.started) {
        return kExitSavePath;
    }
    session.AddRecent(kRecentSavePaths, savePath);
    if (options.json) {
        std::printf(
            "{\"albums\":%s,\n\"download\":{\"albums\":%d,\"images\":%d,\"failed\":%d,"
            "\"stopped\":%s,\"folder\":%s,\"skipped\":%d,\"saved\":%d,\"outcomes\":%s}}\n",
            AlbumsJson(albums).c_str(), outcome.albums, outcome.images, outcome.failed,
            outcome.stopped ? "true" : "false",
            JsonString(outcome.lastAlbumFolder.string()).c_str(), outcome.skipped, outcome.saved,
            AlbumOutcomesJson(outcome).c_str());
    }
    return DownloadExitCode(outcome);
}

}  // namespace
}  // namespace brenvik::cli

int main(int argc, char** argv) {
    using namespace brenvik::cli;
    const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "%s\n\n%s", parsed.error.c_str(), kUsage);
        return kExitUsage;
    }
    if (parsed.options->help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (parsed.options->version) {
        std::puts("brenvik-cli 0.1.0");
        return kExitOk;
    }
    // Before any other thread starts, so that every thread inherits the blocked signals.
    sigset_t stopSignals;
    BlockStopSignals(stopSignals);
    WatchStopSignals(stopSignals);
    return Run(*parsed.options);
}
