#include "download/DownloadRecord.h"

#include <fstream>

#include "net/AtomicFile.h"
#include "net/StringCtrl.h"
#include "settings/Settings.h"

namespace brenvik {
namespace {

std::string LineOf(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return FromCodePage(line, kCodePageGbk);
}

}  // namespace

void DownloadRecord::Open(const std::filesystem::path& albumFolder) {
    std::lock_guard lock(mutex_);
    file_ = albumFolder / kFirstAddressFile;
    first_.clear();
    order_.clear();
    saved_.clear();
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
    file_.clear();
    first_.clear();
    order_.clear();
    saved_.clear();
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
    // Each line starts with its line end: the first line (without one, as it always was
    // written) stays the first line, and a line cut short by a crash stays on its own.
    if (!AppendNoFollow(file_, "\r\n" + ToGbk(address))) {
        return false;
    }
    saved_.insert(address);
    order_.push_back(address);
    return true;
}

bool DownloadRecord::Complete(const std::string& firstAddress) {
    std::lock_guard lock(mutex_);
    if (file_.empty()) {
        return false;
    }
    std::string content = ToGbk(firstAddress);
    for (const auto& address : order_) {
        content += "\r\n" + ToGbk(address);
    }
    if (!WriteFileAtomically(file_, content)) {
        return false;
    }
    first_ = firstAddress;
    return true;
}

}  // namespace brenvik
