#include "session/DownloadRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "net/AtomicFile.h"
#include "net/TextKit.h"
#include "settings/Settings.h"

namespace brenvik {
namespace {

// Lines wait for at most this many images before the folder is synced and they are written.
constexpr std::size_t kLinesPerSync = 64;

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
    std::string content = ToGbk(firstAddress);
    for (const auto& address : order_) {
        content += "\r\n" + ToGbk(address);
    }
    if (!WriteFileAtomically(file_, content)) {
        return false;
    }
    pending_.clear();
    first_ = firstAddress;
    return true;
}

}  // namespace brenvik
