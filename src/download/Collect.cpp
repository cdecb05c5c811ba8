#include "download/Collect.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <string_view>

#include "download/Naming.h"
#include "net/AtomicFile.h"
#include "net/TextKit.h"
#include "session/AlbumRows.h"
#include "session/Session.h"

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

void MarkAlbumComplete(Session& session) {
    int state = session.downloadState;
    while (state != kDownloadStopAsked &&
           !session.downloadState.compare_exchange_weak(state, kDownloadAlbumComplete)) {
    }
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

namespace {

// What follows a CR LF may be a fallback only when it is an address itself; otherwise
// the CR LF was site text inside one address.
bool LooksLikeAddress(std::string_view text) {
    return text.starts_with("http://") || text.starts_with("https://") || text.starts_with("//");
}

}  // namespace

std::string SafeEntry(const std::string& entry) {
    const auto [address, fallback] = SplitEntry(entry);
    if (!fallback.empty() && !LooksLikeAddress(fallback)) {
        return EscapeAddressControls(entry);
    }
    const std::string safe = EscapeAddressControls(address);
    return fallback.empty() ? safe : safe + "\r\n" + EscapeAddressControls(fallback);
}

std::filesystem::path AlbumSideFile(const std::filesystem::path& albumFolder,
                                    const std::string& albumName, const std::string& ext) {
    return albumFolder / (CutToBytes(albumName, kMaxNameBytes - ext.size()) + ext);
}

namespace {

NamingFacts FactsOf(const Session& session, const SaveOptions& rules, const AlbumRecord& album) {
    return {rules,
            album,
            static_cast<int>(session.albums.Size()),
            session.albums.SelectedCount(),
            session.OwnerName(),
            session.siteIndex};
}

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

// An empty address, or a bare host ("https://host/", what a missing picture key on an image
// host gives), can only fail: such a row would keep the album from counting as complete.
bool NamesAPicture(std::string_view address) {
    const std::size_t scheme = address.find("://");
    if (scheme == std::string_view::npos) {
        return !address.empty() && address != "http:" && address != "https:";
    }
    const std::string_view rest = address.substr(scheme + 3);
    const std::size_t pathStart = std::min(rest.find_first_of("/?#"), rest.size());
    const std::string_view path = rest.substr(pathStart);
    return pathStart > 0 && !path.empty() && path != "/";
}

bool EntryNamesAPicture(const std::string& entry) {
    const EntryAddresses addresses = SplitEntry(entry);
    return NamesAPicture(addresses.address) || NamesAPicture(addresses.fallback);
}

// Whether this thread's photo counts reach the progress line; unset: always.
thread_local std::function<bool()> collectProgressShown;

void ShowCollected(Session& session, std::size_t rows) {
    if (collectProgressShown && !collectProgressShown()) {
        return;
    }
    char status[64];
    std::snprintf(status, sizeof status, kPhotosCollectedFormat, static_cast<int>(rows));
    session.Front().SetControlText(kControlProgress, status);
}

}  // namespace

void SetCollectProgressTest(std::function<bool()> shown) {
    collectProgressShown = std::move(shown);
}

std::string AlbumFolderName(const Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return {};
    }
    const SaveOptions rules = session.SaveRules(session.siteIndex);
    return BuildAlbumFolder(FactsOf(session, rules, *album));
}

void AddPhoto(Session& session, const std::string& siteEntry, const std::string& nameText,
              const std::string& headerBlock, int albumIndex) {
    // Adapters join their addresses safely (JoinAddresses); this holds for any that does
    // not: no address reaches the list, the record or an export with a line break in it.
    const std::string imageUrl = SafeEntry(siteEntry);
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album || !EntryNamesAPicture(imageUrl)) {
        return;
    }
    const int site = session.siteIndex;
    const SaveOptions rules = session.SaveRules(site);
    const NamingFacts facts = FactsOf(session, rules, *album);
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
        MarkAlbumComplete(session);
        return;
    }

    const std::string address = PreferredAddress(imageUrl);
    const bool skipSaved =
        session.Choices().skipSaved.value_or((rules.flags & kFlagSkipDownloaded) != 0);
    const std::string firstAddress = session.FirstAddress();
    // "pic.zvt" remembers the preferred address of the first entry.
    if (skipSaved && !firstAddress.empty() && address == firstAddress) {
        MarkAlbumComplete(session);
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
