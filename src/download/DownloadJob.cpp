#include "download/DownloadJob.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <memory>
#include <optional>
#include <set>

#include "download/Aria2Handoff.h"
#include "download/Collect.h"
#include "download/DownloadWorkers.h"
#include "download/ListExport.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "download/PhotoListsAhead.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "session/Messages.h"
#include "session/PageWatch.h"
#include "session/Session.h"

namespace brenvik {
namespace {

constexpr int kInstagramSite = 17;

std::string Format(const char* format, int a, int b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The owner level under the save path: one clean folder name, never a path. The owner
// texts were cleaned (and decoded) when the listing ended.
std::string OwnerFolder(const Session& session) {
    std::string owner = session.OwnerName() + session.OwnerSuffix();
    CleanFileName(owner, 0, false);
    return CutToBytes(owner, kMaxNameBytes);
}

// Runs the album's photo-list adapters. The next adapter of a chain stands in for a list
// that failed: it runs only while nothing at all was offered, so not after the skip rule
// met photos saved before, and not after a stop. False when no adapter serves the pair.
bool CollectPhotos(Session& session, int albumIndex) {
    const ListTypeChoice choice = ChoosePhotoListers(session.siteIndex, session.subKind);
    if (!choice.known) {
        session.Front().ShowMessage(kListTypeError);
        return true;
    }
    bool anyAdapter = false;
    for (const PhotoLister id : choice.chain) {
        const PhotoListFn lister = FindPhotoLister(id);
        if (!lister) {
            continue;
        }
        anyAdapter = true;
        lister(session, albumIndex);
        if (session.downloads.Offered() > 0 || session.downloads.Size() > 0 ||
            session.downloadState != kDownloadRunning) {
            break;
        }
    }
    return anyAdapter;
}

WorkerSettings WorkerSettingsFor(const Session& session) {
    const DownloadParams params = session.DownParams(session.siteIndex);
    const auto perHost = static_cast<std::uint16_t>(
        std::min<unsigned>(session.Extended().connectionsPerHost, UINT16_MAX));
    const int attempts = 1 + std::max(0, session.Choices().retriesPerAddress);
    return {params.threads,    params.timeout, params.minK, params.maxK,
            &session.stopFlag, perHost,        attempts};
}

std::string GivenUpMessage(long status) {
    const std::string seen = status > 0 ? std::to_string(status) : std::string(kNoAnswer);
    char text[256];
    std::snprintf(text, sizeof text, kHostGivenUpFormat, seen.c_str());
    return text;
}

// One notice per reason and job, never a box that holds the next album up: an expired
// login refuses every album alike, and the final status counts the photos it cost.
void TellGivenUpHosts(FrontEnd& front, const std::vector<GivenUpHost>& hosts,
                      std::set<std::string>& told) {
    for (const GivenUpHost& host : hosts) {
        const std::string text = GivenUpMessage(host.status);
        if (told.insert(text).second) {
            front.Notice(text);
        }
    }
}

// "pic.zvt" marks an album as downloaded up to its first photo. Only a run that got
// every image counts: otherwise "skip what was downloaded before" would skip photos that
// never arrived.
void FinishAlbum(const Session& session, ListedAlbum& listed, const SaveOptions& rules,
                 bool complete) {
    if (complete) {
        // The album's first photo, whether this run fetched it or an earlier one did.
        listed.record.Complete(listed.list.FirstOffered());
    }
    if (rules.flags & kFlagFixFormat) {
        FixFormat(listed.list, session.siteIndex == kInstagramSite ? ".mp4" : "");
    }
    if (rules.flags & kFlagFixOrder) {
        FixOrder(listed.list, std::time(nullptr));
    }
}

std::string DiskErrorMessage(int error, const std::filesystem::path& folder) {
    const auto* known =
        std::find_if(std::begin(msg::kDiskErrorTexts), std::end(msg::kDiskErrorTexts),
                     [error](const auto& entry) { return entry.error == error; });
    const char* text =
        known != std::end(msg::kDiskErrorTexts) ? known->text : msg::kDiskErrorTexts[0].text;
    return std::string(text) + msg::kDiskErrorPathSeparator + folder.string();
}

bool FolderUsable(const std::filesystem::path& folder) {
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder, ec);
}

// The owner level below the save path, made; nothing (after saying why) when the path is
// empty or cannot be made.
std::optional<std::filesystem::path> MakeOwnerFolder(Session& session,
                                                     const std::string& savePathText) {
    FrontEnd& front = session.Front();
    const std::string savePath = Trimmed(savePathText);
    if (savePath.empty()) {
        front.ShowMessage(kNoSavePath);
        return std::nullopt;
    }
    const std::string owner = OwnerFolder(session);
    const auto ownerLevel = owner.empty() ? std::optional(std::filesystem::path(savePath))
                                          : JoinInside(savePath, owner);
    if (!ownerLevel || !MakeFolderPath(session, *ownerLevel)) {
        front.ShowMessage(kBadSavePath);
        return std::nullopt;
    }
    return ownerLevel;
}

std::optional<Aria2Handoff> Aria2HandoffFor(Session& session, const std::filesystem::path& base) {
    const std::optional<Aria2Daemon> daemon = DaemonFor(session);
    if (!daemon) {
        return std::nullopt;
    }
    return std::optional<Aria2Handoff>(std::in_place, session, *daemon, base, OwnerFolder(session));
}

// The selected rows that exist, in the order given.
std::vector<int> ExistingAlbums(const Session& session, const std::vector<int>& selected) {
    std::vector<int> albums;
    const int albumCount = static_cast<int>(session.albums.Size());
    for (const int index : selected) {
        if (index >= 0 && index < albumCount) {
            albums.push_back(index);
        }
    }
    return albums;
}

// The albums of one job, one after another, and what the job learns on the way.
class AlbumsRun {
  public:
    AlbumsRun(Session& session, std::filesystem::path base, unsigned listExports,
              DownloadJobOutcome& outcome)
        : session_(session),
          front_(session.Front()),
          base_(std::move(base)),
          listExports_(listExports),
          workers_(WorkerSettingsFor(session)),
          rules_(session.SaveRules(session.siteIndex)),
          outcome_(outcome) {}

    // The job reaches album k of total: said on the status line before its list is awaited.
    void Start(int k, int total, int albumIndex) {
        front_.SetControlText(kControlJobStatus, Format(kAlbumProgressFormat, k, total));
        front_.SetControlText(kControlProgress, "......");
        ++outcome_.albums;
        outcome_.albumOutcomes.emplace_back().name = AlbumName(albumIndex);
    }

    // The album the job reached ended with its list: a stop came first.
    void NotListed() { outcome_.albumOutcomes.back().result = AlbumResult::Stopped; }

    // On the listing thread: collects the album's photos and decides what an empty list
    // means.
    void List(ListedAlbum& listed, PageWatch& pages) {
        AlbumOutcome& album = listed.outcome;
        album.name = AlbumName(listed.albumIndex);
        const int spokenBefore = session_.Spoken();
        const int declinedBefore = session_.Declined();
        listed.supported = CollectPhotos(session_, listed.albumIndex);
        if (!listed.supported) {
            return;
        }
        ReportTooLargePages(session_, pages);
        album.photos = static_cast<int>(session_.downloads.Size());
        album.skipped = static_cast<int>(session_.downloads.Skipped());
        listed.stopped = session_.downloadState == kDownloadStopAsked;
        if (!listed.stopped && album.photos == 0) {
            Empty(album, pages, spokenBefore, declinedBefore);
        }
    }

    // The album's photos, listed; false when the job must end (the save path failed).
    bool Album(std::unique_ptr<ListedAlbum> listed) {
        AlbumOutcome& album = outcome_.albumOutcomes.back();
        album = std::move(listed->outcome);
        last_ = std::move(listed);
        if (!last_->supported) {
            // Said once in the final status, not in a box per album.
            ++outcome_.unsupported;
            album.result = AlbumResult::Failed;
            album.reason = kNoPhotoListerYet;
            return true;
        }
        const int rows = album.photos;
        outcome_.skippedSaved += album.skipped;
        if (last_->stopped) {
            album.result = AlbumResult::Stopped;
            outcome_.images += rows;
            return true;
        }
        if (rows == 0) {
            return true;  // the list said why
        }
        const DownloadList& list = last_->list;
        if (!FolderUsable(list.AlbumFolder())) {
            SaveFolderFailed(album, list);
            return false;
        }
        outcome_.images += rows;
        outcome_.lastAlbumFolder = list.AlbumFolder();
        if (listExports_ != 0 || (rules_.flags & kFlagListOnly)) {
            WriteLists(last_->albumIndex, album, list);
            return true;
        }
        return Download(album, *last_);
    }

    // The last album's list goes back to the session, where it always stayed after a job.
    void ReturnLastList() {
        if (last_) {
            session_.downloads.Swap(last_->list);
        }
    }

    const SaveOptions& Rules() const { return rules_; }

  private:
    std::string AlbumName(int albumIndex) const {
        const auto album = session_.albums.At(static_cast<std::size_t>(albumIndex));
        return album ? album->name : std::string();
    }

    // An album that gave no photo to download. Nothing new and a declined question are
    // the person's answers, not failures, and not signs of a changed site either.
    void Empty(AlbumOutcome& album, const PageWatch& pages, int spokenBefore, int declinedBefore) {
        if (album.skipped > 0 || session_.downloadState == kDownloadAlbumComplete) {
            album.result = AlbumResult::NothingNew;
            return;
        }
        if (session_.Declined() != declinedBefore) {
            album.result = AlbumResult::Declined;
            return;
        }
        album.result = AlbumResult::Failed;
        if (pages.NetworkFailed()) {
            album.reason = pages.NetworkFailure();
            return;
        }
        album.reason = kNoPhotosFound;
        // An album that explained itself (a notice, a login) was read.
        if (session_.downloads.Offered() == 0 && session_.Spoken() == spokenBefore) {
            ReportPossibleSiteChange(session_, pages, siteChangeTold_);
        }
    }

    // A read-only or full save path: said instead of pointing at a folder that was never
    // made. The other albums would meet the same.
    void SaveFolderFailed(AlbumOutcome& album, const DownloadList& list) {
        const std::filesystem::path tried = list.AlbumFolder();
        front_.ShowMessage((tried.empty() ? base_ : tried).string());
        front_.ShowMessage(kBadSavePath);
        outcome_.failed += album.photos;
        outcome_.folderFailed = true;
        album.result = AlbumResult::Failed;
        album.failed = album.photos;
        album.reason = kBadSavePath;
    }

    void WriteLists(int albumIndex, AlbumOutcome& album, const DownloadList& list) {
        outcome_.listed += album.photos;
        for (const auto& file :
             WriteListExports(listExports_ != 0 ? listExports_ : kListOnlyExports,
                              outcome_.lastAlbumFolder, AlbumName(albumIndex), list)) {
            front_.ShowMessage(file.string());
            ++outcome_.listsFailed;
            album.result = AlbumResult::Failed;
            album.reason = file.string();
        }
    }

    // False when the disk refused a save: the other albums would meet the same disk.
    bool Download(AlbumOutcome& album, ListedAlbum& listed) {
        front_.SetControlText(kControlProgress, kDownloadStarted);
        if (aria2_) {
            return aria2_->Album(album, listed.list, listed.record, outcome_);
        }
        WorkerOutcome run = DownPicFunc(session_, listed.list, listed.record, workers_, &crew_);
        const bool stopped = session_.downloadState == kDownloadStopAsked;
        outcome_.failed += run.failed;
        outcome_.skipped += run.skipped;
        outcome_.saved += run.saved;
        album.saved = run.saved;
        album.failed = run.failed;
        album.skipped += run.skipped;
        album.failures = std::move(run.failures);
        album.result = stopped          ? AlbumResult::Stopped
                       : run.failed > 0 ? AlbumResult::Failed
                                        : AlbumResult::Complete;
        TellGivenUpHosts(front_, run.givenUp, toldGivenUp_);
        // Images left out by the size limits are not missing: the album still counts as
        // complete for "pic.zvt".
        FinishAlbum(session_, listed, rules_, !stopped && run.failed == 0 && run.diskError == 0);
        listed.record.Close();
        if (run.diskError != 0) {
            const std::string said = DiskErrorMessage(run.diskError, run.diskPath);
            front_.ShowMessage(said);
            outcome_.diskFailed = true;
            album.result = AlbumResult::Failed;
            album.reason = said;
            return false;
        }
        return true;
    }

    Session& session_;
    FrontEnd& front_;
    const std::filesystem::path base_;
    const unsigned listExports_;
    const WorkerSettings workers_;
    const SaveOptions rules_;
    DownloadJobOutcome& outcome_;
    std::set<std::string> toldGivenUp_;
    // An album that yields nothing although its pages answered 200 points at a changed
    // site (said once per job; only the listing thread reads and sets it).
    bool siteChangeTold_ = false;
    std::unique_ptr<ListedAlbum> last_;  // the album taken last
    WorkerCrew crew_;
    // Set: the albums' photos go to this aria2 daemon instead of the workers.
    std::optional<Aria2Handoff> aria2_ = Aria2HandoffFor(session_, base_);
};

}  // namespace

bool MakeFolderPath(Session& session, const std::filesystem::path& path) {
    std::filesystem::path level;
    for (const auto& part : path.lexically_normal()) {
        if (part.empty()) {
            continue;
        }
        level /= part;
        std::error_code ec;
        if (std::filesystem::is_directory(level, ec)) {
            continue;
        }
        if (!std::filesystem::create_directory(level, ec) || ec) {
            session.Front().ShowMessage(level.string());
            return false;
        }
    }
    return true;
}

void RequestDownloadStop(Session& session) {
    if (session.downloadState != kDownloadIdle) {
        session.downloadState = kDownloadStopAsked;
        session.stopFlag = true;
    }
}

DownloadJobOutcome RunDownloadJob(Session& session, const std::vector<int>& selected,
                                  const std::string& savePathText, unsigned listExports) {
    DownloadJobOutcome outcome;
    FrontEnd& front = session.Front();
    session.UseListedSite();
    // The photo lists' pages end as soon as the user stops the download.
    const StopScope stop([&session] { return session.downloadState == kDownloadStopAsked; });
    session.ReloadExtended();
    const std::optional<std::filesystem::path> base = MakeOwnerFolder(session, savePathText);
    if (!base) {
        session.downloadState = kDownloadIdle;
        return outcome;
    }
    outcome.started = true;
    SetFileTimes(*base, std::time(nullptr));
    front.DownloadLook(true);
    session.downloadState = kDownloadRunning;
    session.stopFlag = false;
    session.downloads.Clear();
    session.downloads.SetAlbumFolder(*base);
    AlbumsRun run(session, *base, listExports, outcome);

    const std::vector<int> albums = ExistingAlbums(session, selected);
    session.albums.SetSelectedCount(static_cast<int>(albums.size()));
    if (albums.empty()) {
        front.ShowMessage(kNoAlbumSelected);
    }
    const int total = static_cast<int>(albums.size());
    {
        PhotoListsAhead lists(
            session, *base, albums,
            [&run](ListedAlbum& listed, PageWatch& pages) { run.List(listed, pages); });
        for (int k = 1; k <= total && session.downloadState != kDownloadStopAsked; ++k) {
            run.Start(k, total, albums[static_cast<std::size_t>(k - 1)]);
            std::unique_ptr<ListedAlbum> listed = lists.Take(k);
            if (!listed) {
                run.NotListed();
                break;
            }
            const bool goOn = run.Album(std::move(listed));
            lists.Finished();
            if (!goOn) {
                break;
            }
        }
    }
    run.ReturnLastList();
    outcome.stopped = session.downloadState == kDownloadStopAsked;
    front.DownloadLook(false);
    session.downloadState = kDownloadIdle;
    // An update of followed owners opens no folder per owner.
    if (outcome.images > 0 && !outcome.folderFailed && FolderUsable(outcome.lastAlbumFolder) &&
        (run.Rules().flags & kFlagOpenFolder) && !session.updateRunning) {
        front.OpenFolder(outcome.lastAlbumFolder.string());
    }
    front.DownloadFinished(outcome);
    // The last line says how the job ended, after everything else it told.
    front.SetControlText(kControlProgress, "");
    front.SetControlText(kControlJobStatus, SummaryLine(outcome));
    return outcome;
}

}  // namespace brenvik
