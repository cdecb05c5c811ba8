#include "download/DownloadJob.h"

#include <cstdio>
#include <ctime>

#include "app/Session.h"
#include "download/Collect.h"
#include "download/DownProc.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/StringCtrl.h"
#include "net/TransferStop.h"

namespace brenvik {
namespace {

constexpr int kInstagramSite = 17;

std::string Format(const char* format, int a, int b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The owner level under the save path: one clean folder name, never a path.
std::string OwnerFolder(const Session& session) {
    std::string owner = session.OwnerName() + session.OwnerSuffix();
    SanitizeFileName(owner, 0, false);
    return CutToBytes(owner, kMaxNameBytes);
}

// Runs the album's photo-list adapters until one adds photos.
void CollectPhotos(Session& session, int albumIndex) {
    const ListTypeChoice choice = ChoosePhotoListers(session.siteIndex, session.subKind);
    if (!choice.known) {
        session.Front().ShowMessage(kListTypeError);
        return;
    }
    bool anyAdapter = false;
    for (const PhotoLister id : choice.chain) {
        const PhotoListFn lister = FindPhotoLister(id);
        if (!lister) {
            continue;
        }
        anyAdapter = true;
        lister(session, albumIndex);
        if (session.downloads.Size() > 0) {
            return;
        }
    }
    if (!anyAdapter) {
        session.Front().ShowMessage(kNoPhotoListerYet);
    }
}

WorkerSettings WorkerSettingsFor(const Session& session) {
    const ST_DOWNPARAM params = session.DownParams(session.siteIndex);
    return {params.threads, params.timeout, params.minK, params.maxK};
}

// "pic.zvt" marks an album as downloaded up to its first photo. Only a run that got
// every image counts: otherwise "skip what was downloaded before" would skip photos that
// never arrived.
void FinishAlbum(Session& session, const ST_SAVESET& rules, bool complete) {
    const std::filesystem::path folder = session.downloads.AlbumFolder();
    if (complete) {
        WriteFirstAddress(folder, PreferredAddress(session.downloads.Row(0).url));
    }
    if (rules.flags & kFlagFixFormat) {
        FixFormat(session.downloads, session.siteIndex == kInstagramSite ? ".mp4" : "");
    }
    if (rules.flags & kFlagFixOrder) {
        FixOrder(session.downloads, std::time(nullptr));
    }
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
                                  const std::string& savePathText) {
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
    const std::filesystem::path base = std::filesystem::path(savePath) / OwnerFolder(session);
    if (!MakeFolderPath(session, base)) {
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
    for (int k = 1; k <= total && session.downloadState != kDownloadStopAsked; ++k) {
        const int albumIndex = albums[static_cast<std::size_t>(k - 1)];
        session.downloads.Clear();
        session.downloads.SetAlbumFolder(base);
        front.SetControlText(kControlJobStatus, Format(kAlbumProgressFormat, k, total));
        front.SetControlText(kControlProgress, "......");
        session.downloadState = kDownloadRunning;
        ++outcome.albums;
        CollectPhotos(session, albumIndex);
        const int rows = static_cast<int>(session.downloads.Size());
        if (rows == 0 || session.downloadState == kDownloadStopAsked) {
            continue;
        }
        outcome.images += rows;
        outcome.lastAlbumFolder = session.downloads.AlbumFolder();
        if (rules.flags & kFlagListOnly) {
            const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
            WriteDownloaderList(AlbumSideFile(outcome.lastAlbumFolder, album->name, ".lst"),
                                session.downloads);
            continue;
        }
        front.SetControlText(kControlProgress, kDownloadStarted);
        const int failed = DownPicFunc(session, workers).failed;
        outcome.failed += failed;
        FinishAlbum(session, rules, session.downloadState != kDownloadStopAsked && failed == 0);
    }
    front.DownloadLook(false);
    session.downloadState = kDownloadIdle;
    front.SetControlText(kControlJobStatus, outcome.failed > 0
                                                ? Format(kDownloadFailedFormat, outcome.failed)
                                                : std::string(kDownloadFinished));
    front.SetControlText(kControlProgress, "");
    if (outcome.images > 0 && (rules.flags & kFlagOpenFolder)) {
        front.OpenFolder(outcome.lastAlbumFolder.string());
    }
    return outcome;
}

}  // namespace brenvik
