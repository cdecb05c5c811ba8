#include "download/Aria2Handoff.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "download/Collect.h"
#include "net/AtomicFile.h"
#include "net/CookieStore.h"
#include "net/PageFetcher.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "session/Session.h"

namespace brenvik {
namespace {

using nlohmann::json;

// Often enough that a short album does not wait long for its end, seldom enough that a
// long one costs the daemon next to nothing.
constexpr std::chrono::milliseconds kPollInterval{500};
constexpr unsigned kMaxNumberedNames = 10000;

std::string Formatted(const char* format, const std::string& a, const std::string& b = {}) {
    char text[1024];
    std::snprintf(text, sizeof text, format, a.c_str(), b.c_str());
    return text;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return LowerAscii(std::string(a)) == LowerAscii(std::string(b));
}

// A text field of a status answer; empty when the daemon left it out.
std::string Field(const json& status, const char* name) {
    return status.contains(name) && status[name].is_string() ? status[name].get<std::string>()
                                                             : std::string();
}

// The Referer line's value of a header block joined by CR LF; empty when it has none.
std::string RefererOf(const std::string& block) {
    for (std::size_t start = 0; start < block.size();) {
        const std::size_t end = std::min(block.find("\r\n", start), block.size());
        const std::string line = block.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            SameNameIgnoringCase(Trimmed(line.substr(0, colon)), "Referer")) {
            return Trimmed(line.substr(colon + 1));
        }
        start = end + 2;
    }
    return {};
}

std::string JoinedFolder(std::string base, const std::string& level) {
    if (level.empty() || level == ".") {
        return base;
    }
    if (!base.empty() && base.back() != '/') {
        base += '/';
    }
    return base + level;
}

AlbumResult ResultOf(const AlbumOutcome& album, bool stopped, bool waited) {
    if (stopped) {
        return AlbumResult::Stopped;
    }
    if (album.failed > 0) {
        return AlbumResult::Failed;
    }
    return waited ? AlbumResult::Complete : AlbumResult::Queued;
}

}  // namespace

enum class PhotoState { Queued, Complete, Failed };

struct Aria2Handoff::Photo {
    std::string name;
    std::string address;  // the preferred address: the one the download record keeps
    std::string fallback;
    std::string headers;
    std::string gid;
    bool onFallback = false;
    PhotoState state = PhotoState::Queued;
    std::string reason;
};

std::optional<Aria2Daemon> DaemonFor(const Session& session) {
    Aria2Daemon daemon = session.Choices().aria2.value_or(session.Extended().aria2);
    if (Trimmed(daemon.address).empty()) {
        return std::nullopt;
    }
    daemon.address = Trimmed(daemon.address);
    return daemon;
}

Aria2Handoff::Aria2Handoff(Session& session, Aria2Daemon daemon, std::filesystem::path ownerLevel,
                           std::string ownerFolder)
    : session_(session),
      daemon_(std::move(daemon)),
      rpc_(daemon_.address, daemon_.secret),
      ownerLevel_(std::move(ownerLevel)),
      ownerFolder_(std::move(ownerFolder)) {}

std::string Aria2Handoff::DaemonFolder() const {
    const std::filesystem::path album = list_->AlbumFolder();
    if (daemon_.folder.empty()) {
        return std::filesystem::absolute(album).string();
    }
    const std::string below = album.lexically_relative(ownerLevel_).generic_string();
    return JoinedFolder(JoinedFolder(daemon_.folder, ownerFolder_), below);
}

// Where the folder can be seen, a name that holds a file already gives way to
// "name (k).ext", as the workers' saves do; a daemon elsewhere keeps to its own
// no-overwrite options.
std::string Aria2Handoff::FileNameFor(const std::string& name) const {
    if (!daemon_.folder.empty()) {
        return name;
    }
    const std::filesystem::path target = list_->AlbumFolder() / name;
    // Any file counts, an empty one too: the daemon would not write over it either.
    const auto taken = [](const std::filesystem::path& path) {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    };
    if (!taken(target)) {
        return name;
    }
    for (unsigned k = 1; k < kMaxNumberedNames; ++k) {
        if (const auto numbered = NumberedName(target, k); !taken(numbered)) {
            return numbered.filename().string();
        }
    }
    return name;
}

// Only the Referer and the login cookies go along: other header lines of a row (an
// Accept-Encoding, say) would make the daemon save bodies it does not decode.
json Aria2Handoff::OptionsFor(const std::string& address, const std::string& headers,
                              const std::string& name) {
    json options = {{"dir", DaemonFolder()},
                    {"out", name},
                    {"allow-overwrite", "false"},
                    {"auto-file-renaming", "true"},
                    {"user-agent", AgentHeaderValue(kAgentDefault)}};
    if (const std::string referer = RefererOf(headers); !referer.empty()) {
        options["referer"] = referer;
    }
    if (const std::string cookies = CookieStore::Shared().CookiesFor(address); !cookies.empty()) {
        options["header"] = json::array({"Cookie: " + cookies});
        WarnOfCookiesInClear();
    }
    return options;
}

void Aria2Handoff::WarnOfCookiesInClear() {
    if (!cookiesTold_ && daemon_.address.starts_with("http://") &&
        !IsLoopbackAddress(daemon_.address)) {
        session_.Front().Notice(Formatted(kAria2CookiesInClearFormat, daemon_.address));
        cookiesTold_ = true;
    }
}

// Sends every photo that has no download in the daemon yet, in batches.
bool Aria2Handoff::Queue(std::vector<Photo>& photos, std::string& failure) {
    std::vector<Photo*> waiting;
    std::vector<RpcCall> calls;
    for (Photo& photo : photos) {
        if (photo.state != PhotoState::Queued || !photo.gid.empty()) {
            continue;
        }
        const std::string& address = photo.onFallback ? photo.fallback : photo.address;
        waiting.push_back(&photo);
        calls.push_back(
            {"aria2.addUri", json::array({json::array({address}),
                                          OptionsFor(address, photo.headers, photo.name)})});
    }
    const std::vector<RpcAnswer> answers = rpc_.Calls(calls, failure);
    if (answers.size() != calls.size()) {
        return false;
    }
    for (std::size_t i = 0; i < answers.size(); ++i) {
        Photo& photo = *waiting[i];
        if (answers[i].ok && answers[i].result.is_string()) {
            photo.gid = answers[i].result.get<std::string>();
        } else {
            photo.state = PhotoState::Failed;
            photo.reason = answers[i].error;
        }
    }
    return true;
}

void Aria2Handoff::Settle(Photo& photo, const json& status) {
    const std::string state = Field(status, "status");
    if (state == "complete") {
        photo.state = PhotoState::Complete;
        return;
    }
    if (state != "error" && state != "removed") {
        return;  // waiting, active or paused: still the daemon's
    }
    photo.gid.clear();
    if (!photo.onFallback && !photo.fallback.empty()) {
        photo.onFallback = true;  // queued again with the fallback by the next Queue
        return;
    }
    photo.state = PhotoState::Failed;
    photo.reason =
        Formatted(kAria2FailedFormat, Field(status, "errorCode"), Field(status, "errorMessage"));
}

// Asks the daemon until every photo ended; false when it could not be asked, or (with
// `failure` empty) when a stop ended the wait.
bool Aria2Handoff::Wait(std::vector<Photo>& photos, std::string& failure) {
    const json keys = json::array({"gid", "status", "errorCode", "errorMessage"});
    for (;;) {
        std::vector<Photo*> pending;
        std::vector<RpcCall> calls;
        int done = 0;
        for (Photo& photo : photos) {
            if (photo.state == PhotoState::Queued) {
                pending.push_back(&photo);
                calls.push_back({"aria2.tellStatus", json::array({photo.gid, keys})});
            } else {
                done += photo.state == PhotoState::Complete;
            }
        }
        session_.Front().SetControlText(
            kControlProgress,
            "aria2已完成" + std::to_string(done) + "/" + std::to_string(photos.size()) + "张");
        if (pending.empty()) {
            return true;
        }
        if (!SleepUnlessStopped(kPollInterval)) {
            return false;
        }
        const std::vector<RpcAnswer> answers = rpc_.Calls(calls, failure);
        if (answers.size() != calls.size()) {
            if (StopAskedOnThisThread()) {
                failure.clear();
            }
            return false;
        }
        for (std::size_t i = 0; i < answers.size(); ++i) {
            if (answers[i].ok) {
                Settle(*pending[i], answers[i].result);
            } else {
                pending[i]->state = PhotoState::Failed;
                pending[i]->reason = answers[i].error;
            }
        }
        if (!Queue(photos, failure)) {
            return false;
        }
    }
}

// Only what the daemon completed counts as saved and goes into the download record.
void Aria2Handoff::Record(const std::vector<Photo>& photos, AlbumOutcome& album) {
    for (const Photo& photo : photos) {
        if (photo.state == PhotoState::Complete) {
            record_->Add(photo.address);
            ++album.saved;
        } else if (photo.state == PhotoState::Failed) {
            ++album.failed;
            album.failures.push_back({photo.name, photo.address, photo.reason});
        }
    }
}

std::vector<Aria2Handoff::Photo> Aria2Handoff::PhotosOfAlbum() const {
    std::vector<Photo> photos;
    for (const DownloadRow& row : list_->Rows()) {
        const EntryAddresses addresses = SplitEntry(row.url);
        photos.push_back(
            {FileNameFor(row.fileName), addresses.address, addresses.fallback, row.headers});
    }
    return photos;
}

// The daemon could not be asked: said at once, and nothing the daemon did not confirm is
// recorded.
void Aria2Handoff::Refuse(AlbumOutcome& album, DownloadJobOutcome& outcome,
                          const std::string& failure) {
    session_.Front().ShowMessage(failure);
    album.result = AlbumResult::Failed;
    album.reason = failure;
    album.failed = album.photos;
    outcome.failed += album.photos;
    record_->Close();
}

bool Aria2Handoff::Album(AlbumOutcome& album, DownloadList& list, DownloadRecord& record,
                         DownloadJobOutcome& outcome) {
    list_ = &list;
    record_ = &record;
    std::vector<Photo> photos = PhotosOfAlbum();
    std::string failure;
    if (Queue(photos, failure) && daemon_.wait) {
        Wait(photos, failure);
    }
    const bool stopped = StopAskedOnThisThread();
    if (!failure.empty() && !stopped) {
        Refuse(album, outcome, failure);
        return false;
    }
    Record(photos, album);
    outcome.saved += album.saved;
    outcome.failed += album.failed;
    for (const Photo& photo : photos) {
        album.queued += !daemon_.wait && photo.state == PhotoState::Queued;
    }
    outcome.queued += album.queued;
    album.result = ResultOf(album, stopped, daemon_.wait);
    if (stopped && daemon_.wait) {
        session_.Front().Notice(kAria2StopNotice);
    }
    if (album.result == AlbumResult::Complete) {
        record_->Complete(list_->FirstOffered());
    }
    record_->Close();
    return true;
}

}  // namespace brenvik
