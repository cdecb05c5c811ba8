// Handing an album's photos to a running aria2 instead of the workers: one addUri per
// photo (Brenvik's file name, the Referer, the login cookies), all of an album in one
// system.multicall. With waiting, the daemon is asked until every photo ended; a photo
// whose preferred address failed goes again with its fallback, and only photos the
// daemon completed are recorded as saved.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "download/Aria2Rpc.h"
#include "download/JobOutcome.h"
#include "session/DownloadRecord.h"
#include "session/Lists.h"
#include "settings/Settings.h"

namespace brenvik {

class Session;

inline constexpr const char* kAria2CookiesInClearFormat =
    "登录Cookie将以未加密的http发往另一台机器上的aria2 (%s)";
inline constexpr const char* kAria2StopNotice = "已停止等待aria2；已交给它的下载仍在aria2中继续";
inline constexpr const char* kAria2FailedFormat = "aria2下载失败(%s)：%s";

// The daemon a job hands its downloads to: the run's choice over the extended settings;
// nothing when none is set.
std::optional<Aria2Daemon> DaemonFor(const Session& session);

class Aria2Handoff {
  public:
    // `ownerLevel` is the folder the album folders are made in; `ownerFolder` its name
    // below the save path (empty when the albums lie in the save path itself).
    Aria2Handoff(Session& session, Aria2Daemon daemon, std::filesystem::path ownerLevel,
                 std::string ownerFolder);

    // The collected rows of the album to the daemon. False when the daemon could not take
    // them (unreachable, wrong secret): every later album would meet the same.
    // `list` holds the album's rows and `record` its folder's download record.
    bool Album(AlbumOutcome& album, DownloadList& list, DownloadRecord& record,
               DownloadJobOutcome& outcome);

  private:
    struct Photo;
    std::vector<Photo> PhotosOfAlbum() const;
    void Refuse(AlbumOutcome& album, DownloadJobOutcome& outcome, const std::string& failure);
    std::string DaemonFolder() const;
    std::string FileNameFor(const std::string& name) const;
    nlohmann::json OptionsFor(const std::string& address, const std::string& headers,
                              const std::string& name);
    void WarnOfCookiesInClear();
    bool Queue(std::vector<Photo>& photos, std::string& failure);
    bool Wait(std::vector<Photo>& photos, std::string& failure);
    void Settle(Photo& photo, const nlohmann::json& status);
    void Record(const std::vector<Photo>& photos, AlbumOutcome& album);

    Session& session_;
    const Aria2Daemon daemon_;
    const Aria2Rpc rpc_;
    const std::filesystem::path ownerLevel_;
    const std::string ownerFolder_;
    bool cookiesTold_ = false;
    DownloadList* list_ = nullptr;      // the album being handed over
    DownloadRecord* record_ = nullptr;  // its folder's record
};

}  // namespace brenvik
