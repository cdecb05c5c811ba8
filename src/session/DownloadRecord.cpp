#include "session/DownloadRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <mutex>

#include "net/AtomicFile.h"
#include "net/TextKit.h"
#include "settings/Settings.h"

namespace brenvik {
namespace {

// Lines wait for at most this many images before the folder is synced and they are written.
constexpr std::size_t kLinesPerSync = 64;
// Far more than the record of any album (some 80,000 addresses): a larger file is not a
// record this program wrote, and only its first line is read; every address is held in
// memory twice, so it is never read whole.
constexpr std::uintmax_t kMaxRecordBytes = std::uintmax_t{8} << 20;
// The most of a first line read from such a file.
constexpr std::size_t kMaxFirstLineBytes = 64 * 1024;

// Puts every image written to the folder's file system on disk.
bool SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
}

std::string LineOf(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return FromCodePage(line, kCodePageGbk);
}

}  // namespace

void DownloadRecord::Open(const std::filesystem::path& albumFolder) {
    std::lock_guard lock(mutex_);
    FlushLocked();
    file_ = albumFolder / kFirstAddressFile;
    first_.clear();
    order_.clear();
    saved_.clear();
    pending_.clear();
    std::ifstream in(file_, std::ios::binary);
    std::string line;
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(file_, ec); !ec && size > kMaxRecordBytes) {
        line.resize(kMaxFirstLineBytes);
        in.read(line.data(), static_cast<std::streamsize>(line.size()));
        line.resize(static_cast<std::size_t>(in.gcount()));
        first_ = LineOf(line.substr(0, line.find('\n')));
        return;
    }
    if (!in || !std::getline(in, line)) {
        return;
    }
    first_ = LineOf(line);
    while (std::getline(in, line)) {
        std::string address = LineOf(line);
        if (!address.empty() && saved_.insert(address).second) {
            order_.push_back(std::move(address));
        }
    }
}

void DownloadRecord::Close() {
    std::lock_guard lock(mutex_);
    FlushLocked();
    file_.clear();
    first_.clear();
    order_.clear();
    saved_.clear();
    pending_.clear();
}

void DownloadRecord::Swap(DownloadRecord& other) {
    if (&other == this) {
        return;
    }
    std::scoped_lock lock(mutex_, other.mutex_);
    file_.swap(other.file_);
    first_.swap(other.first_);
    order_.swap(other.order_);
    saved_.swap(other.saved_);
    pending_.swap(other.pending_);
}

std::string DownloadRecord::FirstAddress() const {
    std::lock_guard lock(mutex_);
    return first_;
}

bool DownloadRecord::Contains(const std::string& address) const {
    std::lock_guard lock(mutex_);
    return saved_.contains(address);
}

bool DownloadRecord::Add(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (file_.empty() || address.empty() || address.find_first_of("\r\n") != std::string::npos ||
        saved_.contains(address)) {
        return false;
    }
    saved_.insert(address);
    order_.push_back(address);
    pending_.push_back(address);
    return pending_.size() < kLinesPerSync || FlushLocked();
}

bool DownloadRecord::Flush() {
    std::lock_guard lock(mutex_);
    return FlushLocked();
}

bool DownloadRecord::FlushLocked() {
    if (file_.empty() || pending_.empty()) {
        return true;
    }
    if (!SyncFolder(file_.parent_path())) {
        return false;
    }
    // Each line starts with its line end: the first line (without one, as it always was
    // written) stays the first line, and a line cut short by a crash stays on its own.
    std::string lines;
    for (const auto& address : pending_) {
        lines += "\r\n" + ToGbk(address);
    }
    if (!AppendNoFollow(file_, lines)) {
        return false;
    }
    pending_.clear();
    return true;
}

bool DownloadRecord::Complete(const std::string& firstAddress) {
    std::lock_guard lock(mutex_);
    if (file_.empty()) {
        return false;
    }
    // The images the lines claim go to disk before the lines do.
    if (!SyncFolder(file_.parent_path())) {
        return false;
    }
    // The first line is the site's address: no line break of its may add a line that
    // would claim a photo never saved.
    std::string content = ToGbk(EscapeAddressControls(firstAddress));
    for (const auto& address : order_) {
        content += "\r\n" + ToGbk(address);
    }
    if (!WriteFileAtomically(file_, content)) {
        return false;
    }
    pending_.clear();
    first_ = EscapeAddressControls(firstAddress);
    return true;
}

}  // namespace brenvik
