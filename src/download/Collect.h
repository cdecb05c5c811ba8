// The two routines through which adapters deliver what they found: albums into the
// album list, photos into the download list.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "session/Lists.h"

namespace brenvik {

class Session;

inline constexpr const char* kPhotosCollectedFormat = "已获取到%d张图片信息";

// Cleans the record's name, makes it unique, appends it and shows it as a table row.
// Dropped while the session is not ready.
void AddAlbum(Session& session, const AlbumRecord& record);

// Names the photo, creates the album folder with the first photo, applies the
// "skip what was downloaded before" rule and appends the row. An entry without a picture
// address (empty, or a bare host) is refused.
void AddPhoto(Session& session, const std::string& imageUrl, const std::string& nameText,
              const std::string& headerBlock, int albumIndex);

// The album's list has reached what was downloaded before (or cannot go on): the adapters
// stop. A stop asked meanwhile stays asked.
void MarkAlbumComplete(Session& session);

// The album's own folder level as AddPhoto names it (empty: photos go straight into the
// owner folder), known before any photo is listed.
std::string AlbumFolderName(const Session& session, int albumIndex);

// Whether the photo counts that this thread collects are shown on the progress line: a
// list collected ahead of the album being downloaded keeps quiet until the job reaches
// it. An empty test shows them always.
void SetCollectProgressTest(std::function<bool()> shown);

// True when a photo-list adapter must stop: the album is complete or a stop was asked.
bool PhotoListShouldStop(const Session& session);

// The preferred address of a download-list entry ("preferred\r\nfallback").
std::string PreferredAddress(const std::string& entry);

// Both addresses of a download-list entry; the fallback is empty when there is none.
struct EntryAddresses {
    std::string address;
    std::string fallback;
};
EntryAddresses SplitEntry(const std::string& entry);
// The entry with each of its addresses made one safe token (EscapeAddressControls): the
// first CR LF stays the separator, any other control character is percent-encoded.
std::string SafeEntry(const std::string& entry);

// A file named after the album inside the album folder ("name.txt", "name.lst"), its
// name cut to fit the file system.
std::filesystem::path AlbumSideFile(const std::filesystem::path& albumFolder,
                                    const std::string& albumName, const std::string& ext);

}  // namespace brenvik
