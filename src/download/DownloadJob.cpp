#include "download/DownloadJob.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <set>

#include "app/Session.h"
#include "download/Collect.h"
#include "download/DownProc.h"
#include "download/ListExport.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/StringCtrl.h"
#include "net/TransferStop.h"
#include "sites/PageWatch.h"

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
    const ST_DOWNPARAM params = session.DownParams(session.siteIndex);
    const auto perHost = static_cast<std::uint16_t>(
        std::min<unsigned>(session.Extended().connectionsPerHost, UINT16_MAX));
    return {params.threads, params.timeout, params.minK, params.maxK, &session.stopFlag, perHost};
}

std::string GivenUpMessage(long status) {
    const std::string seen = status > 0 ? std::to_string(status) : std::string(kNoAnswer);
    char text[256];
    std::snprintf(text, sizeof text, kHostGivenUpFormat, seen.c_str());
    return text;
}

// One box per reason and job: an expired login refuses every album alike, and the final
// status counts the photos it cost.
void TellGivenUpHosts(FrontEnd& front, const std::vector<GivenUpHost>& hosts,
                      std::set<std::string>& told) {
    for (const GivenUpHost& host : hosts) {
        const std::string text = GivenUpMessage(host.status);
        if (told.insert(text).second) {
            front.ShowMessage(text);
        }
    }
}

// "pic.zvt" marks an album as downloaded up to its first photo. Only a run that got
// every image counts: otherwise "skip what was downloaded before" would skip photos that
// never arrived.
void FinishAlbum(Session& session, const ST_SAVESET& rules, bool complete) {
    if (complete) {
        // The album's first photo, whether this run fetched it or an earlier one did.
        session.record.Complete(session.downloads.FirstOffered());
    }
    if (rules.flags & kFlagFixFormat) {
        FixFormat(session.downloads, session.siteIndex == kInstagramSite ? ".mp4" : "");
    }
    if (rules.flags & kFlagFixOrder) {
        FixOrder(session.downloads, std::time(nullptr));
    }
}

bool FolderUsable(const std::filesystem::path& folder) {
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder, ec);
}

std::string FinalStatus(const DownloadJobOutcome& outcome) {
    std::string text = outcome.failed > 0 ? Format(kDownloadFailedFormat, outcome.failed)
                                          : std::string(kDownloadFinished);
    if (outcome.skipped > 0) {
        text += "，" + Format(kSizeSkippedFormat, outcome.skipped);
    }
    if (outcome.unsupported > 0) {
        text += "，" + std::string(kNoPhotoListerYet);
    }
    return text;
}

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
    const std::string savePath = Trimmed(savePathText);
    if (savePath.empty()) {
        front.ShowMessage(kNoSavePath);
        session.downloadState = kDownloadIdle;
        return outcome;
    }
    const std::string owner = OwnerFolder(session);
    const auto ownerLevel = owner.empty() ? std::optional(std::filesystem::path(savePath))
                                          : JoinInside(savePath, owner);
    const std::filesystem::path base = ownerLevel ? *ownerLevel : std::filesystem::path();
    if (!ownerLevel || !MakeFolderPath(session, base)) {
        front.ShowMessage(kBadSavePath);
        session.downloadState = kDownloadIdle;
        return outcome;
    }
    outcome.started = true;
    SetFileTimes(base, std::time(nullptr));
    front.DownloadLook(true);
    session.downloadState = kDownloadRunning;
    session.stopFlag = false;
    session.downloads.Clear();
    session.downloads.SetAlbumFolder(base);
    const WorkerSettings workers = WorkerSettingsFor(session);
    const ST_SAVESET rules = session.SaveRules(session.siteIndex);

    std::vector<int> albums;
    const int albumCount = static_cast<int>(session.albums.Size());
    for (const int index : selected) {
        if (index >= 0 && index < albumCount) {
            albums.push_back(index);
        }
    }
    session.albums.SetSelectedCount(static_cast<int>(albums.size()));
    if (albums.empty()) {
        front.ShowMessage(kNoAlbumSelected);
    }
    const int total = static_cast<int>(albums.size());
    std::set<std::string> toldGivenUp;
    // The photo lists' pages pass this watch: an album that yields nothing although its
    // pages answered 200 points at a changed site (said once per job).
    PageWatch pages;
    bool siteChangeTold = false;
    for (int k = 1; k <= total && session.downloadState != kDownloadStopAsked; ++k) {
        const int albumIndex = albums[static_cast<std::size_t>(k - 1)];
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(base);
        session.record.Close();
        front.SetControlText(kControlJobStatus, Format(kAlbumProgressFormat, k, total));
        front.SetControlText(kControlProgress, "......");
        session.downloadState = kDownloadRunning;
        ++outcome.albums;
        pages.Restart();
        const int spokenBefore = session.Spoken();
        if (!CollectPhotos(session, albumIndex)) {
            // Said once in the final status, not in a box per album.
            ++outcome.unsupported;
            continue;
        }
        const int rows = static_cast<int>(session.downloads.Size());
        if (session.downloadState == kDownloadStopAsked) {
            continue;
        }
        if (rows == 0) {
            // An album that explained itself (a password asked, a notice) was read.
            if (session.downloads.Offered() == 0 && session.Spoken() == spokenBefore) {
                ReportPossibleSiteChange(session, pages, siteChangeTold);
            }
            continue;
        }
        if (!FolderUsable(session.downloads.AlbumFolder())) {
            // A read-only or full save path: say so instead of pointing at a folder that
            // was never made. The other albums would meet the same.
            const std::filesystem::path tried = session.downloads.AlbumFolder();
            front.ShowMessage((tried.empty() ? base : tried).string());
            front.ShowMessage(kBadSavePath);
            outcome.failed += rows;
            outcome.folderFailed = true;
            break;
        }
        outcome.images += rows;
        outcome.lastAlbumFolder = session.downloads.AlbumFolder();
        if (listExports != 0 || (rules.flags & kFlagListOnly)) {
            const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
            for (const auto& file :
                 WriteListExports(listExports != 0 ? listExports : kListOnlyExports,
                                  outcome.lastAlbumFolder, album->name, session.downloads)) {
                front.ShowMessage(file.string());
                ++outcome.listsFailed;
            }
            continue;
        }
        front.SetControlText(kControlProgress, kDownloadStarted);
        const WorkerOutcome run = DownPicFunc(session, workers);
        outcome.failed += run.failed;
        outcome.skipped += run.skipped;
        TellGivenUpHosts(front, run.givenUp, toldGivenUp);
        // Images left out by the size limits are not missing: the album still counts as
        // complete for "pic.zvt".
        FinishAlbum(session, rules, session.downloadState != kDownloadStopAsked && run.failed == 0);
        session.record.Close();
    }
    front.DownloadLook(false);
    session.downloadState = kDownloadIdle;
    front.SetControlText(kControlJobStatus, FinalStatus(outcome));
    front.SetControlText(kControlProgress, "");
    if (outcome.images > 0 && !outcome.folderFailed && FolderUsable(outcome.lastAlbumFolder) &&
        (rules.flags & kFlagOpenFolder)) {
        front.OpenFolder(outcome.lastAlbumFolder.string());
    }
    return outcome;
}

}  // namespace brenvik
