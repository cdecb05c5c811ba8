#include "download/Collect.h"

#include <ctime>

#include "session/AlbumRows.h"
#include "session/Session.h"
#include "download/Naming.h"
#include "net/AtomicFile.h"
#include "net/TextKit.h"

namespace brenvik {

void AddAlbum(Session& session, const AlbumRecord& record) {
    if (!session.ready) {
        return;
    }
    AlbumRecord copy = record;
    SanitizeFileName(copy.name, kTimeStampFallback, true);
    // The table shows (and folders use) at most 80 characters; cut before making the
    // name unique so that two long names never end up the same.
    copy.name = std::string(FirstChars(copy.name, kShownNameChars));
    const AlbumRecord stored = session.albums.Append(std::move(copy));
    session.Front().AlbumAdded(stored);
}

bool PhotoListShouldStop(const Session& session) {
    const int state = session.downloadState;
    return state == kDownloadAlbumComplete || state == kDownloadStopAsked;
}

std::string PreferredAddress(const std::string& entry) {
    return entry.substr(0, entry.find("\r\n"));
}

EntryAddresses SplitEntry(const std::string& entry) {
    const std::size_t split = entry.find("\r\n");
    if (split == std::string::npos) {
        return {entry, ""};
    }
    return {entry.substr(0, split), entry.substr(split + 2)};
}

std::filesystem::path AlbumSideFile(const std::filesystem::path& albumFolder,
                                    const std::string& albumName, const std::string& ext) {
    return albumFolder / (CutToBytes(albumName, kMaxNameBytes - ext.size()) + ext);
}

namespace {

// The first photo of an album makes its folder, sweeps what a killed run left there and
// reads what earlier runs saved. False when the folder cannot be made (or would not stay
// inside the save path): the job then reports it.
bool OpenAlbumFolder(Session& session, const NamingFacts& facts) {
    session.downloads.SetAlbumFolderOpen(true);
    session.record.Close();
    std::filesystem::path folder = session.downloads.AlbumFolder();
    const std::string name = BuildAlbumFolder(facts);
    if (!name.empty()) {
        const auto joined = JoinInside(folder, name);
        session.downloads.SetAlbumFolder(joined ? *joined : std::filesystem::path());
        if (!joined) {
            return false;
        }
        folder = *joined;
    }
    std::error_code ec;
    std::filesystem::create_directory(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        return false;
    }
    SetFileTimes(folder, std::time(nullptr));
    SweepStaleTemporaries(folder);
    session.record.Open(folder);
    session.SetFirstAddress(session.record.FirstAddress());
    return true;
}

void ShowCollected(Session& session, std::size_t rows) {
    char status[64];
    std::snprintf(status, sizeof status, kPhotosCollectedFormat, static_cast<int>(rows));
    session.Front().SetControlText(kControlProgress, status);
}

}  // namespace

void AddPhoto(Session& session, const std::string& imageUrl, const std::string& nameText,
              const std::string& headerBlock, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const int site = session.siteIndex;
    const SaveOptions rules = session.SaveRules(site);
    const NamingFacts facts{rules,
                            *album,
                            static_cast<int>(session.albums.Size()),
                            session.albums.SelectedCount(),
                            session.OwnerName(),
                            site};
    DownloadList& list = session.downloads;
    // Photos skipped as saved before keep their place, so sequence names stay put.
    const std::size_t position = list.Size() + list.Skipped();
    PhotoName photo = BuildPhotoName(imageUrl, nameText, facts, position);
    const bool folderReady = list.AlbumFolderOpen() || OpenAlbumFolder(session, facts);
    const std::filesystem::path folder = list.AlbumFolder();
    const std::string fileName = FinishPhotoName(std::move(photo), folder, list);
    if (!folderReady) {
        // Nothing can be saved: one row lets the job report the folder; the list ends.
        if (list.Size() == 0) {
            list.NoteOffered(PreferredAddress(imageUrl));
            list.Append({imageUrl, fileName, headerBlock});
        }
        session.downloadState = kDownloadAlbumComplete;
        return;
    }

    const std::string address = PreferredAddress(imageUrl);
    const bool skipSaved = (rules.flags & kFlagSkipDownloaded) != 0;
    const std::string firstAddress = session.FirstAddress();
    // "pic.zvt" remembers the preferred address of the first entry.
    if (skipSaved && !firstAddress.empty() && address == firstAddress) {
        session.downloadState = kDownloadAlbumComplete;
        return;
    }
    list.NoteOffered(address);
    if (skipSaved && session.record.Contains(address)) {
        list.Skip(fileName);
        return;
    }
    const std::size_t rows = list.Append({imageUrl, fileName, headerBlock}) + 1;
    ShowCollected(session, rows);
    if (rules.flags & kFlagSourceNames) {
        AppendSourceName(AlbumSideFile(folder, album->name, ".txt"), nameText, rows == 1);
    }
}

}  // namespace brenvik
