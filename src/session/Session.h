// One user's session with the core: the run states, the chosen site, the owner texts,
// the album and download lists and the settings, shared by the window (or the command
// line) and the job threads. Run states are atomics; texts and settings are guarded.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "session/DownloadRecord.h"
#include "session/FrontEnd.h"
#include "session/Lists.h"
#include "settings/Settings.h"

namespace brenvik {

enum ListingState : int { kListingIdle = 0, kListingRunning = 1, kListingStopAsked = 2 };
enum DownloadStateValue : int {
    kDownloadIdle = 0,
    kDownloadRunning = 1,
    kDownloadAlbumComplete = 2,
    kDownloadStopAsked = 3,
};

// Said once per session when soft.dat or cookies.txt cannot be written in the home.
inline constexpr const char* kSoftDatTooLarge =
    "设置文件大于应有的大小，未读取，本次使用默认设置: ";
inline constexpr const char* kCookieFile = "cookies.txt";
inline constexpr const char* kCookieFileTooLarge =
    "cookies 文件超过16MB，未读取，本次登录信息不会被保存: ";
inline constexpr const char* kHomeNotWritable = "数据目录无法写入，设置和 cookies 不会被保存: ";

// Forwards to the front end and counts what was said or asked: a job that explained its
// empty result (a hint, a question, a login) did not meet pages it could not read.
class CountingFrontEnd final : public FrontEnd {
  public:
    explicit CountingFrontEnd(FrontEnd& front) : front_(front) {}
    void ShowMessage(const std::string& text) override {
        ++spoken_;
        front_.ShowMessage(text);
    }
    void Notice(const std::string& text) override { front_.Notice(text); }
    bool AskYesNo(const std::string& text) override {
        ++spoken_;
        const bool yes = front_.AskYesNo(text);
        declined_ += yes ? 0 : 1;
        return yes;
    }
    void OpenLogin(const std::string& address) override {
        ++spoken_;
        front_.OpenLogin(address);
    }
    void SetControlText(int id, const std::string& text) override {
        front_.SetControlText(id, text);
    }
    void AlbumAdded(const AlbumRecord& album) override { front_.AlbumAdded(album); }
    void WorkerNotice(int seconds, int count) override { front_.WorkerNotice(seconds, count); }
    void ListingLook(bool listing) override { front_.ListingLook(listing); }
    void AutoDownload() override { front_.AutoDownload(); }
    void DownloadLook(bool downloading) override { front_.DownloadLook(downloading); }
    void OpenFolder(const std::string& folder) override { front_.OpenFolder(folder); }
    void DownloadFinished(const DownloadJobOutcome& outcome) override {
        front_.DownloadFinished(outcome);
    }
    // Messages, questions and logins so far.
    int Spoken() const { return spoken_; }
    // Questions answered "no" so far (a password or a login the user did not give).
    int Declined() const { return declined_; }

  private:
    FrontEnd& front_;
    std::atomic<int> spoken_{0};
    std::atomic<int> declined_{0};
};

// Choices of one run that stand above the stored settings (the command line's options).
struct RunChoices {
    std::optional<bool> skipSaved;     // skip photos saved before, whatever the site's setting
    int retriesPerAddress = 1;         // tries of an image address after the first
    std::optional<Aria2Daemon> aria2;  // the daemon for this run, over the extended settings
};

class Session {
  public:
    // `baseFolder` holds soft.dat, the extended settings, the cookie store and tmp.
    // Cookies that the shared store cannot save are reported through this session.
    Session(std::filesystem::path baseFolder, FrontEnd& frontEnd);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Says (once) that the home cannot keep settings or cookies, when writing them has
    // failed so far. For the front end to call once it can show messages; later
    // failures are reported as they happen.
    void CheckHome();

    FrontEnd& Front() { return counting_; }
    // How many messages, questions and logins went to the user in this session.
    int Spoken() const { return counting_.Spoken(); }
    int Declined() const { return counting_.Declined(); }
    const std::filesystem::path& BaseFolder() const { return baseFolder_; }

    // Settings of the chosen site; changes are saved to soft.dat at once.
    SettingsArea Settings() const;
    SaveOptions SaveRules(int site) const;
    DownloadParams DownParams(int site) const;
    void SetSaveRules(int site, const SaveOptions& rules);
    void SetDownParams(int site, const DownloadParams& params);
    bool AddRecent(RecentKind kind, const std::string& text);
    ExtendedSettings Extended() const;
    void ReloadExtended();

    // Nothing of these is stored: they last as long as the session.
    RunChoices Choices() const;
    void SetRunChoices(const RunChoices& choices);

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

    // The album folder the workers save into (the download list may already hold the
    // next album, listed ahead).
    std::filesystem::path SavingFolder() const;
    void SetSavingFolder(std::filesystem::path folder);

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
    // An update of followed owners runs its listings and downloads one after another;
    // its stop ends them and the owners after them.
    std::atomic<bool> updateRunning{false};
    std::atomic<bool> updateStopAsked{false};

    // The table's albums belong to the site and sub-kind of the listing that produced
    // them, whatever site the user picks afterwards: the listing remembers both and the
    // download job takes them back before it reads them.
    void RememberListedSite();
    void UseListedSite();
    // The site of the albums listed last; -1 before the first listing.
    int ListedSite() const { return listedSite_; }

    AlbumList albums;
    DownloadList downloads;
    DownloadRecord record;  // what the album folder being filled already holds

  private:
    // Applies a settings change to the newest soft.dat; false when nothing changed.
    bool ChangeSettings(const std::function<bool(SettingsArea&)>& change);
    void WarnHomeNotWritable();

    std::filesystem::path baseFolder_;
    FrontEnd& front_;
    CountingFrontEnd counting_{front_};
    mutable std::mutex mutex_;
    SettingsArea settings_;
    ExtendedSettings extended_;
    std::string ownerName_;
    std::string ownerSuffix_;
    std::string siteText_;
    std::string viewHost_;
    std::string addressText_;
    std::string firstAddress_;
    std::filesystem::path savingFolder_;
    RunChoices choices_;
    bool homeUnwritable_ = false;
    std::atomic<bool> homeWarned_{false};
    std::atomic<int> listedSite_{-1};  // -1: nothing listed in this session
    std::atomic<int> listedSubKind_{-1};
};

}  // namespace brenvik
