// The two routines through which adapters deliver what they found: albums into the
// album list, photos into the download list.
#pragma once

#include <filesystem>
#include <string>

#include "session/Lists.h"

namespace brenvik {

class Session;

inline constexpr const char* kPhotosCollectedFormat = "已获取到%d张图片信息";

// Cleans the record's name, makes it unique, appends it and shows it as a table row.
// Dropped while the session is not ready.
void AddAlbum(Session& session, const AlbumRecord& record);

// Names the photo, creates the album folder with the first photo, applies the
// "skip what was downloaded before" rule and appends the row.
void AddPhoto(Session& session, const std::string& imageUrl, const std::string& nameText,
              const std::string& headerBlock, int albumIndex);

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

// A file named after the album inside the album folder ("name.txt", "name.lst"), its
// name cut to fit the file system.
std::filesystem::path AlbumSideFile(const std::filesystem::path& albumFolder,
                                    const std::string& albumName, const std::string& ext);

}  // namespace brenvik
