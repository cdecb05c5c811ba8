#include "download/Collect.h"

#include <ctime>

#include "app/AlbumRows.h"
#include "app/Session.h"
#include "download/Naming.h"
#include "net/StringCtrl.h"

namespace brenvik {

void AddAlbum(Session& session, const ST_PERLISTRECORD& record) {
    if (!session.ready) {
        return;
    }
    ST_PERLISTRECORD copy = record;
    SanitizeFileName(copy.name, kTimeStampFallback, true);
    // The table shows (and folders use) at most 80 characters; cut before making the
    // name unique so that two long names never end up the same.
    copy.name = std::string(FirstChars(copy.name, kShownNameChars));
    const ST_PERLISTRECORD stored = session.albums.Append(std::move(copy));
    session.Front().AlbumAdded(stored);
}

bool PhotoListShouldStop(const Session& session) {
    const int state = session.downloadState;
    return state == kDownloadAlbumComplete || state == kDownloadStopAsked;
}

std::string PreferredAddress(const std::string& entry) {
    return entry.substr(0, entry.find("\r\n"));
}

std::filesystem::path AlbumSideFile(const std::filesystem::path& albumFolder,
                                    const std::string& albumName, const std::string& ext) {
    return albumFolder / (CutToBytes(albumName, kMaxNameBytes - ext.size()) + ext);
}

namespace {

// The first photo of an album makes its folder and recalls the last run's first address.
void OpenAlbumFolder(Session& session, const NamingFacts& facts) {
    std::filesystem::path folder = session.downloads.AlbumFolder();
    const std::string name = BuildAlbumFolder(facts);
    if (!name.empty()) {
        folder /= name;
        session.downloads.SetAlbumFolder(folder);
    }
    std::error_code ec;
    std::filesystem::create_directory(folder, ec);
    SetFileTimes(folder, std::time(nullptr));
    session.SetFirstAddress(ReadFirstAddress(folder));
}

}  // namespace

void AddPhoto(Session& session, const std::string& imageUrl, const std::string& nameText,
              const std::string& headerBlock, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const int site = session.siteIndex;
    const ST_SAVESET rules = session.SaveRules(site);
    const NamingFacts facts{rules,
                            *album,
                            static_cast<int>(session.albums.Size()),
                            session.albums.SelectedCount(),
                            session.OwnerName(),
                            site};
    const std::size_t rowCount = session.downloads.Size();
    PhotoName photo = BuildPhotoName(imageUrl, nameText, facts, rowCount);
    if (rowCount == 0) {
        OpenAlbumFolder(session, facts);
    }
    const std::filesystem::path folder = session.downloads.AlbumFolder();
    const std::string fileName = FinishPhotoName(std::move(photo), folder, session.downloads);

    const std::string firstAddress = session.FirstAddress();
    // "pic.zvt" remembers the preferred address of the first entry.
    if ((rules.flags & kFlagSkipDownloaded) && !firstAddress.empty() &&
        PreferredAddress(imageUrl) == firstAddress) {
        session.downloadState = kDownloadAlbumComplete;
        return;
    }
    const std::size_t rows = session.downloads.Append({imageUrl, fileName, headerBlock}) + 1;
    char status[64];
    std::snprintf(status, sizeof status, kPhotosCollectedFormat, static_cast<int>(rows));
    session.Front().SetControlText(kControlProgress, status);
    if (rules.flags & kFlagSourceNames) {
        AppendSourceName(AlbumSideFile(folder, album->name, ".txt"), nameText, rows == 1);
    }
}

}  // namespace brenvik
