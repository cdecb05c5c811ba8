// brenvik-cli: lists a site's albums and downloads them, for scripts and terminals.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/AddressRule.h"
#include "app/Following.h"
#include "app/ListJob.h"
#include "cli/CliDocs.h"
#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "cli/FollowCommands.h"
#include "download/DownloadJob.h"
#include "net/AtomicFile.h"
#include "net/BrowserCookies.h"
#include "net/CookieStore.h"
#include "net/FolderLock.h"
#include "net/Hosts.h"
#include "net/PageFetcher.h"
#include "net/Routing.h"
#include "net/TextKit.h"
#include "net/TransferPace.h"
#include "session/AlbumRows.h"
#include "session/Messages.h"
#include "session/PageWatch.h"
#include "session/Session.h"
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

// A wait for the home's lock says why nothing happens and ends with the first stop.
void WatchHomeLockWaits() {
    SetFolderLockWait({[](const std::filesystem::path& folder) {
                           std::fprintf(stderr, "[提示] ");
                           std::fprintf(stderr, msg::kHomeInUseFormat, folder.c_str());
                           std::fputc('\n', stderr);
                       },
                       [] { return gInterrupted.load(); }});
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
                      RequestUpdateStop(session);  // a listing's, a download's or an update's
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
        std::string error;
        if (CookieStore::Shared().Import(file, &error) < 0) {
            std::fprintf(stderr, "%s\n", error.c_str());
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
    if (outcome.folderFailed || outcome.listsFailed > 0 || outcome.diskFailed) {
        return kExitSavePath;
    }
    if (gInterrupted || outcome.stopped) {
        return StoppedExitCode();
    }
    return AnythingFailed(outcome) ? kExitNothing : kExitOk;
}

// The site an input is listed with: the options' choice, else the address's own.
struct SiteAndSub {
    int site = 0;
    int sub = 0;
};

SiteAndSub SiteFor(const Options& options, const std::string& address) {
    SiteAndSub chosen;
    if (const auto guess = SiteForAddress(address)) {
        chosen = {guess->site, guess->subSelector};
    }
    if (options.site) {
        chosen = {*options.site, 0};
    }
    if (options.sub) {
        chosen.sub = *options.sub;
    }
    return chosen;
}

// Made absolute before it is remembered: a later run from another folder saves here too.
std::string SavePathFor(const Session& session, const Options& options) {
    if (options.savePath) {
        return std::filesystem::absolute(*options.savePath).string();
    }
    const std::string recent = session.Settings().recent[kRecentSavePaths][0];
    return recent.empty() ? std::filesystem::current_path().string() : recent;
}

// --follow, --unfollow, --following or --update, with what main knows of the run.
int RunFollowing(Session& session, CliFrontEnd& front, const Options& options,
                 const std::vector<std::string>& owners) {
    const SiteAndSub chosen = SiteFor(options, options.followTarget);
    const FollowContext context{
        chosen.site, chosen.sub, SavePathFor(session, options), StoppedExitCode(),
        [&front](std::size_t number, std::size_t count, const std::string& owner) {
            front.StartInput(number, count, owner);
        }};
    const int code = RunFollowCommand(session, options, context, owners);
    return gInterrupted ? StoppedExitCode() : code;
}

// One input, from its listing to the end of its download; the exit status it earned.
int RunOne(Session& session, const Options& options, const std::string& address) {
    const SiteAndSub chosen = SiteFor(options, address);
    PrepareListing(session, chosen.site);
    GetListFunc(session, address, chosen.site == 0 ? chosen.sub : 0);
    const std::vector<AlbumRecord> albums = session.albums.All();
    if (address.find_first_not_of(" \t\r\n") == std::string::npos) {
        return kExitUsage;
    }
    // A quiet download shows nothing but errors; a listing shows what was asked for.
    if (!options.json && (!options.quiet || options.listOnly)) {
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
    const std::string savePath = SavePathFor(session, options);
    const DownloadJobOutcome outcome =
        RunDownloadJob(session, *selected, savePath, options.exports);
    if (!outcome.started) {
        return kExitSavePath;
    }
    session.AddRecent(kRecentSavePaths, savePath);
    if (options.json) {
        std::printf(
            "{\"albums\":%s,\n\"download\":{\"albums\":%d,\"images\":%d,\"failed\":%d,"
            "\"stopped\":%s,\"folder\":%s,\"skipped\":%d,\"saved\":%d,\"queued\":%d,"
            "\"outcomes\":%s}}\n",
            AlbumsJson(albums).c_str(), outcome.albums, outcome.images, outcome.failed,
            outcome.stopped ? "true" : "false",
            JsonString(outcome.lastAlbumFolder.string()).c_str(), outcome.skipped, outcome.saved,
            outcome.queued, AlbumOutcomesJson(outcome).c_str());
    }
    return DownloadExitCode(outcome);
}

// The command line's daemon over the one in the extended settings, value by value.
std::optional<Aria2Daemon> DaemonFrom(const Options& options, Aria2Daemon daemon) {
    if (!options.aria2Rpc && !options.aria2Secret && !options.aria2Dir && !options.aria2Wait) {
        return std::nullopt;
    }
    daemon.address = options.aria2Rpc.value_or(daemon.address);
    daemon.secret = options.aria2Secret.value_or(daemon.secret);
    daemon.folder = options.aria2Dir.value_or(daemon.folder);
    daemon.wait = daemon.wait || options.aria2Wait;
    return daemon;
}

RunChoices ChoicesFrom(const Options& options, const ExtendedSettings& extended) {
    RunChoices choices;
    choices.aria2 = DaemonFrom(options, extended.aria2);
    choices.skipSaved = options.skipSaved;
    if (options.retries) {
        choices.retriesPerAddress = *options.retries;
    }
    return choices;
}

void SetTransferOptions(const Options& options) {
    if (options.proxy) {
        SetProxy(*options.proxy);
    }
    if (options.limitRate) {
        SetReceiveRateLimit(*options.limitRate);
    }
}

// Every input in turn, until a stop; the exit status is the worst of theirs (the larger
// number: a stop above a save-path failure above bad usage above nothing found).
int Run(const Options& options, const std::vector<std::string>& addresses) {
    const std::filesystem::path home =
        options.home ? std::filesystem::path(*options.home) : DefaultHome();
    if (!PrepareHome(options, home)) {
        return gInterrupted ? StoppedExitCode() : kExitUsage;
    }
    SetTransferOptions(options);
    RegisterAllSites();
    CliFrontEnd front(options.answer == Answer::Yes, options.quiet);
    Session session(home, front);
    if (gInterrupted) {
        return StoppedExitCode();  // stopped while another run held the home
    }
    session.CheckHome();
    session.ready = true;
    session.SetRunChoices(ChoicesFrom(options, session.Extended()));
    if (const auto daemon = session.Choices().aria2; daemon && Trimmed(daemon->address).empty()) {
        // --wait or --aria2-dir alone would otherwise download as if they were not given.
        front.ShowMessage(
            "--wait、--aria2-secret 与 --aria2-dir 需要 --aria2-rpc 或设置中的 RPC地址");
        return kExitUsage;
    }
    if (options.verbose) {
        SetExchangeObserver([&front](const ExchangeReport& report) { front.ShowExchange(report); });
    }

    int worst = kExitOk;
    if (options.follow != FollowCommand::None) {
        StopWatcher watcher(session);
        worst = RunFollowing(session, front, options, addresses);
    }
    if (options.follow == FollowCommand::None) {
        StopWatcher watcher(session);
        for (std::size_t i = 0; i < addresses.size() && !gInterrupted; ++i) {
            front.StartInput(i + 1, addresses.size(), addresses[i]);
            worst = std::max(worst, RunOne(session, options, addresses[i]));
        }
    }
    SetExchangeObserver(nullptr);
    return gInterrupted ? std::max(worst, StoppedExitCode()) : worst;
}

void ShowUsageError(const ParseResult& parsed) {
    std::fprintf(stderr, "brenvik-cli: %s\n", parsed.error.c_str());
    if (!parsed.suggestion.empty()) {
        std::fprintf(stderr, "是不是想用 %s ?\n", parsed.suggestion.c_str());
    }
    std::fputs(ShortUsage().c_str(), stderr);
}

// The build's generators: the manual page and the shell completions.
int PrintGenerated(const Options& options) {
    const std::string text =
        options.printMan ? ManPage() : CompletionScript(options.printCompletion.value_or(""));
    std::fputs(text.c_str(), stdout);
    return kExitOk;
}

}  // namespace
}  // namespace brenvik::cli

int main(int argc, char** argv) {
    using namespace brenvik::cli;
    const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        ShowUsageError(parsed);
        return kExitUsage;
    }
    const Options& options = *parsed.options;
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::puts(kVersionText);
        return kExitOk;
    }
    if (options.printMan || options.printCompletion) {
        return PrintGenerated(options);
    }
    std::string error;
    // The follow commands take no address, or (--update) the owners to update.
    const bool anyInput = !options.inputs.empty() || !options.inputFiles.empty();
    const auto addresses = options.follow != FollowCommand::None && !anyInput
                               ? std::optional(std::vector<std::string>())
                               : GatherInputs(options, std::cin, error);
    if (!addresses) {
        ShowUsageError({std::nullopt, error, ""});
        return kExitUsage;
    }
    // Before any other thread starts, so that every thread inherits the blocked signals.
    sigset_t stopSignals;
    BlockStopSignals(stopSignals);
    WatchStopSignals(stopSignals);
    WatchHomeLockWaits();
    return Run(options, *addresses);
}
