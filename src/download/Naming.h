// How photos and album folders are named: per-site prefix, base, suffix, replace list
// and the escapes ?1..?9; the cleaning of names; and the optional steps after an
// album's download (extension by content, file times in list order).
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "session/Lists.h"
#include "settings/Settings.h"

namespace brenvik {

// The longest file or folder name the file system takes, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;
// Fallback number that turns an unusable name into a time stamp.
inline constexpr unsigned kTimeStampFallback = 0xFFFF;

// Makes any text safe as one file name. With the fallback switch an empty name, or one
// of 1000 characters or more, becomes a time stamp (kTimeStampFallback) or "pic%d".
void SanitizeFileName(std::string& text, unsigned fallbackNumber, bool fallback);
// SanitizeFileName without decoding entities: for texts whose pieces were decoded once
// already. Whatever the text, the result is never ".", ".." or all dots.
void CleanFileName(std::string& text, unsigned fallbackNumber, bool fallback);
// One name that, joined to a folder, stays directly inside it.
bool IsSafeComponent(std::string_view name);
// The folder joined with one name; nothing when the result would not stay inside it.
// Every folder level below the save path is joined here.
std::optional<std::filesystem::path> JoinInside(const std::filesystem::path& parent,
                                                const std::string& name);
// Replaces "a|b" by "1|2" piece by piece when both sides have as many "|", else whole.
void ReplaceList(std::string& text, const std::string& from, const std::string& to);
// The text cut to at most maxBytes bytes, never inside a character.
std::string CutToBytes(std::string_view text, std::size_t maxBytes);

// What the escapes and rules read about the album and the listing.
struct NamingFacts {
    const SaveOptions& rules;
    const AlbumRecord& album;
    int albumCount = 0;
    int selectedCount = 0;
    std::string ownerName;
    int siteIndex = 0;
};

// A photo name before the folder is known: name without extension, and whether the
// uniqueness search is skipped (sequence names and names holding ?2 are unique already).
struct PhotoName {
    std::string name;
    bool unique = false;
};

// Prefix, base by naming mode, suffix, escapes, replace list, cleaning.
PhotoName BuildPhotoName(const std::string& imageUrl, const std::string& nameText,
                         const NamingFacts& facts, std::size_t rowCount);
// The album's folder name (empty when the folder mode is "none").
std::string BuildAlbumFolder(const NamingFacts& facts);
// Length limits, extension, uniqueness among the rows: the final file name.
std::string FinishPhotoName(PhotoName photo, const std::filesystem::path& albumFolder,
                            DownloadList& list);

// Gives a file the extension its first bytes show (extra ".mp4": non-images become
// videos). Never replaces another file. Returns the path the file has afterwards.
std::filesystem::path FixFileType(const std::filesystem::path& file, const std::string& extra);
// FixFileType for every row, keeping the list's file names in step.
void FixFormat(DownloadList& list, const std::string& extra);
// Stamps the rows' files now, now - 60 s, now - 120 s, ... so a listing by time shows
// list order.
void FixOrder(const DownloadList& list, std::time_t now);
// Sets access and modification time; a time of 0 or below changes nothing.
void SetFileTimes(const std::filesystem::path& path, std::time_t time);

// Writes a UTF-16LE text file with byte-order mark (album descriptions).
bool WriteUnicodeTextFile(const std::filesystem::path& file, const std::string& text);
// Adds "name\r\n" to the album's source-name file, starting it anew when asked.
bool AppendSourceName(const std::filesystem::path& file, const std::string& nameText, bool start);
// The external-downloader list: every address in GBK, CR LF after each; replaced whole.
bool WriteDownloaderList(const std::filesystem::path& file, const DownloadList& list);

}  // namespace brenvik
