// An advisory lock on a folder that several processes share (the home with soft.dat and
// cookies.txt). Each holder reads the newest file, merges its own changes and writes it
// back while holding the lock, so two runs on one home never undo each other's changes.
#pragma once

#include <filesystem>

namespace brenvik {

class FolderLock {
  public:
    // Blocks until the folder's lock is held. The lock is taken on the folder itself, so
    // it leaves no file behind and works in a read-only folder too. A folder that cannot
    // be opened is used without a lock.
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace brenvik
