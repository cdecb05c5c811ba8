// One user's session with the core: the run states, the chosen site, the owner texts,
// the album and download lists and the settings, shared by the window (or the command
// line) and the job threads. Run states are atomics; texts and settings are guarded.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>

#include "app/FrontEnd.h"
#include "download/DownloadRecord.h"
#include "download/Lists.h"
#include "settings/Settings.h"

namespace brenvik {

enum ListingState : int { kListingIdle = 0, kListingRunning = 1, kListingStopAsked = 2 };
enum DownloadStateValue : int {
    kDownloadIdle = 0,
    kDownloadRunning = 1,
    kDownloadAlbumComplete = 2,
    kDownloadStopAsked = 3,
};

class Session {
  public:
    // `baseFolder` holds soft.dat, the extended settings, the cookie store and tmp.
    Session(std::filesystem::path baseFolder, FrontEnd& frontEnd);

    FrontEnd& Front() { return front_; }
    const std::filesystem::path& BaseFolder() const { return baseFolder_; }

    // Settings of the chosen site; changes are saved to soft.dat at once.
    SettingsArea Settings() const;
    ST_SAVESET SaveRules(int site) const;
    ST_DOWNPARAM DownParams(int site) const;
    void SetSaveRules(int site, const ST_SAVESET& rules);
    void SetDownParams(int site, const ST_DOWNPARAM& params);
    bool AddRecent(RecentKind kind, const std::string& text);
    ExtendedSettings Extended() const;
    void ReloadExtended();

    // Texts the listing leaves for the download side.
    std::string OwnerName() const;
    std::string OwnerSuffix() const;
    std::string SiteText() const;  // page base, site user id, list host: one per site
    std::string ViewHost() const;  // Qzone: the host of the album view service
    void SetOwnerName(std::string text);
    void SetOwnerSuffix(std::string text);
    void SetSiteText(std::string text);
    void SetViewHost(std::string text);

    // The address box's text as the last listing read it.
    std::string AddressText() const;
    void SetAddressText(std::string text);

    // The remembered first address of the album being collected ("pic.zvt").
    std::string FirstAddress() const;
    void SetFirstAddress(std::string address);

    std::atomic<bool> ready{false};
    std::atomic<int> listingState{kListingIdle};
    std::atomic<int> downloadState{kDownloadIdle};
    std::atomic<bool> stopFlag{false};      // the workers' stop
    std::atomic<int> doneCount{0};          // images whose worker finished in this run
    std::atomic<bool> downloadBusy{false};  // a coordinator runs
    std::atomic<int> siteIndex{0};
    std::atomic<int> subKind{-1};

    AlbumList albums;
    DownloadList downloads;
    DownloadRecord record;  // what the album folder being filled already holds

  private:
    std::filesystem::path baseFolder_;
    FrontEnd& front_;
    mutable std::mutex mutex_;
    SettingsArea settings_;
    ExtendedSettings extended_;
    std::string ownerName_;
    std::string ownerSuffix_;
    std::string siteText_;
    std::string viewHost_;
    std::string addressText_;
    std::string firstAddress_;
};

}  // namespace brenvik
