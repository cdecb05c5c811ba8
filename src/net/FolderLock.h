// An advisory lock on a folder that several processes share (the home with soft.dat and
// cookies.txt). Each holder reads the newest file, merges its own changes and writes it
// back while holding the lock, so two runs on one home never undo each other's changes.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

namespace brenvik {

// How long a lock is waited for in silence before the user is told whose it is.
inline constexpr auto kLockQuietWait = std::chrono::seconds(1);

// What a wait for a folder's lock may do: tell the user once after kLockQuietWait that the
// folder is in use (`waiting`), and end when the user stops (`stopAsked`). Process-wide;
// the front ends set it.
struct FolderLockWait {
    std::function<void(const std::filesystem::path& folder)> waiting;
    std::function<bool()> stopAsked;
};
void SetFolderLockWait(FolderLockWait wait);

class FolderLock {
  public:
    // Blocks until the folder's lock is held, or a stop ends the wait (Abandoned). The
    // lock is taken on the folder itself, so it leaves no file behind and works in a
    // read-only folder too. A folder that cannot be opened is used without a lock.
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    // A stop ended the wait: whatever the lock guards must not be written now.
    bool Abandoned() const { return abandoned_; }

  private:
    bool WaitForLock(const std::filesystem::path& folder);

    int fd_ = -1;
    bool abandoned_ = false;
};

}  // namespace brenvik
