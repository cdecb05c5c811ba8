// The album list (what a listing found) and the download list (the photos of the album
// being collected). Job threads append, the front end and the workers read: both lists
// guard themselves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace brenvik {

// Access bits of AlbumRecord::access; a negative value carries a yyyymmdd date.
enum AlbumAccess : std::int32_t {
    kAccessEncrypted = 1,
    kAccessPrivate = 2,
    kAccessFriends = 4,
};

struct AlbumRecord {
    std::string name;
    std::string key;
    std::string coverUrl;
    std::string text4;
    std::string text5;
    std::int32_t photoCount = -1;
    std::int32_t access = 0;
    std::int32_t likeCount = 0;
    std::int32_t number2 = 0;
    std::int32_t position = 0;
    std::int32_t thumbSlot = -1;
};

class AlbumList {
  public:
    // Appends with position and thumbSlot set; the name must already be clean. The name is
    // made unique: "Trip", "Trip (1)", "Trip (2)". Returns the stored copy.
    AlbumRecord Append(AlbumRecord record);
    void Clear();
    std::size_t Size() const;
    std::optional<AlbumRecord> At(std::size_t index) const;
    std::vector<AlbumRecord> All() const;
    void SetThumbSlot(std::size_t index, std::int32_t slot);
    int FindAlbumByName(const std::string& name) const;

    // Albums selected when the last download started (escape ?6 of file names).
    int SelectedCount() const;
    void SetSelectedCount(int count);

  private:
    mutable std::mutex mutex_;
    std::vector<AlbumRecord> albums_;
    std::unordered_map<std::string, std::size_t> byName_;
    int selectedCount_ = 0;
};

struct DownloadRow {
    std::string url;  // preferred address, optionally CR LF and a fallback address
    std::string fileName;
    std::string headers;
};

class DownloadList {
  public:
    // Empties the rows and forgets the album folder.
    void Clear();
    // Trades everything with the other list: an album collected while another downloads
    // is handed over whole.
    void Swap(DownloadList& other);
    std::size_t Append(DownloadRow row);
    std::size_t Size() const;
    DownloadRow Row(std::size_t index) const;
    std::vector<DownloadRow> Rows() const;
    void SetFileName(std::size_t index, const std::string& fileName);

    // First row whose file name equals the name ignoring case, or -1.
    int FindFileName(const std::string& fileName) const;
    // First row whose address equals the address, or -1.
    int FindUrl(const std::string& url) const;

    // Where the "name(k)" search for a taken name may start: every smaller k was taken
    // when it last ran, and rows are never removed while an album is collected.
    unsigned SuffixHint(const std::string& fileName) const;
    void SetSuffixHint(const std::string& fileName, unsigned k);

    std::filesystem::path AlbumFolder() const;
    void SetAlbumFolder(std::filesystem::path folder);
    // Whether the album's own folder was made (once per album, however many adapters).
    bool AlbumFolderOpen() const;
    void SetAlbumFolderOpen(bool open);

    // Photos the adapters offered for this album, whether taken as rows or skipped as
    // saved before. The first offered address is the album's first photo.
    std::size_t Offered() const;
    std::size_t Skipped() const;
    std::string FirstOffered() const;
    void NoteOffered(const std::string& address);
    // A photo saved by an earlier run: no row, but its name stays taken so that the
    // photos after it are named as a full run names them.
    void Skip(const std::string& fileName);

  private:
    static std::string FoldCase(const std::string& name);

    mutable std::mutex mutex_;
    std::vector<DownloadRow> rows_;
    std::unordered_map<std::string, std::size_t> byName_;
    std::unordered_map<std::string, std::size_t> byUrl_;
    std::unordered_map<std::string, unsigned> suffixHints_;
    std::filesystem::path albumFolder_;
    bool albumFolderOpen_ = false;
    std::size_t offered_ = 0;
    std::size_t skipped_ = 0;
    std::string firstOffered_;
};

}  // namespace brenvik
