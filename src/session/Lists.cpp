#include "session/Lists.h"

#include <cwctype>
#include <utility>

#include "net/TextKit.h"

namespace brenvik {

AlbumRecord AlbumList::Append(AlbumRecord record) {
    std::lock_guard lock(mutex_);
    const std::string base = record.name;
    for (unsigned counter = 1; byName_.contains(record.name); ++counter) {
        record.name = base + " (" + std::to_string(counter) + ")";
    }
    record.position = static_cast<std::int32_t>(albums_.size());
    record.thumbSlot = -1;
    byName_.emplace(record.name, albums_.size());
    albums_.push_back(record);
    return record;
}

void AlbumList::Clear() {
    std::lock_guard lock(mutex_);
    albums_.clear();
    byName_.clear();
}

std::size_t AlbumList::Size() const {
    std::lock_guard lock(mutex_);
    return albums_.size();
}

std::optional<AlbumRecord> AlbumList::At(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= albums_.size()) {
        return std::nullopt;
    }
    return albums_[index];
}

std::vector<AlbumRecord> AlbumList::All() const {
    std::lock_guard lock(mutex_);
    return albums_;
}

void AlbumList::SetThumbSlot(std::size_t index, std::int32_t slot) {
    std::lock_guard lock(mutex_);
    if (index < albums_.size()) {
        albums_[index].thumbSlot = slot;
    }
}

int AlbumList::FindAlbumByName(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto found = byName_.find(name);
    return found == byName_.end() ? -1 : static_cast<int>(found->second);
}

int AlbumList::SelectedCount() const {
    std::lock_guard lock(mutex_);
    return selectedCount_;
}

void AlbumList::SetSelectedCount(int count) {
    std::lock_guard lock(mutex_);
    selectedCount_ = count;
}

// Case folding for name comparison: per character, so "A.JPG" and "a.jpg" meet and
// Latin letters beyond ASCII fold too.
std::string DownloadList::FoldCase(const std::string& name) {
    std::u16string wide = ToUtf16(name);
    for (char16_t& c : wide) {
        if (c < 0xD800 || c > 0xDFFF) {
            c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
        }
    }
    return FromUtf16(wide);
}

void DownloadList::Clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
    byName_.clear();
    byUrl_.clear();
    suffixHints_.clear();
    albumFolder_.clear();
    albumFolderOpen_ = false;
    offered_ = 0;
    skipped_ = 0;
    firstOffered_.clear();
}

void DownloadList::Swap(DownloadList& other) {
    if (&other == this) {
        return;
    }
    std::scoped_lock lock(mutex_, other.mutex_);
    rows_.swap(other.rows_);
    byName_.swap(other.byName_);
    byUrl_.swap(other.byUrl_);
    suffixHints_.swap(other.suffixHints_);
    albumFolder_.swap(other.albumFolder_);
    std::swap(albumFolderOpen_, other.albumFolderOpen_);
    std::swap(offered_, other.offered_);
    std::swap(skipped_, other.skipped_);
    firstOffered_.swap(other.firstOffered_);
}

std::size_t DownloadList::Append(DownloadRow row) {
    std::lock_guard lock(mutex_);
    const std::size_t index = rows_.size();
    byName_.emplace(FoldCase(row.fileName), index);
    byUrl_.emplace(row.url, index);
    rows_.push_back(std::move(row));
    return index;
}

std::size_t DownloadList::Size() const {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

DownloadRow DownloadList::Row(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < rows_.size() ? rows_[index] : DownloadRow{};
}

std::vector<DownloadRow> DownloadList::Rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

void DownloadList::SetFileName(std::size_t index, const std::string& fileName) {
    std::lock_guard lock(mutex_);
    if (index >= rows_.size()) {
        return;
    }
    const auto old = byName_.find(FoldCase(rows_[index].fileName));
    if (old != byName_.end() && old->second == index) {
        byName_.erase(old);
    }
    rows_[index].fileName = fileName;
    auto [slot, inserted] = byName_.emplace(FoldCase(fileName), index);
    if (!inserted && slot->second > index) {
        slot->second = index;
    }
}

int DownloadList::FindFileName(const std::string& fileName) const {
    std::lock_guard lock(mutex_);
    const auto found = byName_.find(FoldCase(fileName));
    if (found == byName_.end()) {
        return -1;
    }
    // A name kept for a skipped photo has no row of its own: it points past the rows.
    return found->second < rows_.size() ? static_cast<int>(found->second)
                                        : static_cast<int>(rows_.size());
}

int DownloadList::FindUrl(const std::string& url) const {
    std::lock_guard lock(mutex_);
    const auto found = byUrl_.find(url);
    return found == byUrl_.end() ? -1 : static_cast<int>(found->second);
}

unsigned DownloadList::SuffixHint(const std::string& fileName) const {
    std::lock_guard lock(mutex_);
    const auto found = suffixHints_.find(FoldCase(fileName));
    return found == suffixHints_.end() ? 1 : found->second;
}

void DownloadList::SetSuffixHint(const std::string& fileName, unsigned k) {
    std::lock_guard lock(mutex_);
    suffixHints_[FoldCase(fileName)] = k;
}

std::filesystem::path DownloadList::AlbumFolder() const {
    std::lock_guard lock(mutex_);
    return albumFolder_;
}

void DownloadList::SetAlbumFolder(std::filesystem::path folder) {
    std::lock_guard lock(mutex_);
    albumFolder_ = std::move(folder);
}

bool DownloadList::AlbumFolderOpen() const {
    std::lock_guard lock(mutex_);
    return albumFolderOpen_;
}

void DownloadList::SetAlbumFolderOpen(bool open) {
    std::lock_guard lock(mutex_);
    albumFolderOpen_ = open;
}

std::size_t DownloadList::Offered() const {
    std::lock_guard lock(mutex_);
    return offered_;
}

std::size_t DownloadList::Skipped() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

std::string DownloadList::FirstOffered() const {
    std::lock_guard lock(mutex_);
    return firstOffered_;
}

void DownloadList::NoteOffered(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (offered_++ == 0) {
        firstOffered_ = address;
    }
}

void DownloadList::Skip(const std::string& fileName) {
    std::lock_guard lock(mutex_);
    ++skipped_;
    byName_.emplace(FoldCase(fileName), static_cast<std::size_t>(-1));
}

}  // namespace brenvik
