#include "net/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

namespace brenvik {
namespace {

// How often a held lock is tried again (and a stop looked for).
constexpr auto kLockPoll = std::chrono::milliseconds(50);

std::mutex& WaitMutex() {
    static std::mutex mutex;
    return mutex;
}

FolderLockWait& TheWait() {
    static FolderLockWait wait;
    return wait;
}

FolderLockWait CurrentWait() {
    std::lock_guard lock(WaitMutex());
    return TheWait();
}

}  // namespace

void SetFolderLockWait(FolderLockWait wait) {
    std::lock_guard lock(WaitMutex());
    TheWait() = std::move(wait);
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
    fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    if (!WaitForLock(folder)) {
        ::close(fd_);
        fd_ = -1;
    }
}

// flock locks belong to the open file description, so threads of one process that each
// open the folder exclude each other just as two processes do. The lock is asked without
// blocking, so a stop can end the wait and the user learns why nothing happens.
bool FolderLock::WaitForLock(const std::filesystem::path& folder) {
    const FolderLockWait wait = CurrentWait();
    const auto start = std::chrono::steady_clock::now();
    bool told = false;
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (wait.stopAsked && wait.stopAsked()) {
            abandoned_ = true;
            return false;
        }
        if (!told && wait.waiting && std::chrono::steady_clock::now() - start >= kLockQuietWait) {
            told = true;
            wait.waiting(folder.empty() ? std::filesystem::current_path() : folder);
        }
        std::this_thread::sleep_for(kLockPoll);
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

}  // namespace brenvik
