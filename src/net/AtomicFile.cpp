#include "net/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace brenvik {
namespace {

struct TemporaryRecord {
    std::mutex mutex;
    std::set<std::string> files;
    bool exiting = false;
};

TemporaryRecord& Temporaries() {
    // Never destroyed: writers on other threads may still use it while the process ends.
    static auto* record = new TemporaryRecord();
    return *record;
}

}  // namespace

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = target;
    temp += ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return temp;
}

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                         mode_t mode) {
    const std::filesystem::path temp = TemporaryBeside(target);
    const int fd = CreateTemporary(temp, mode);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        ok = false;
    }
    ForgetTemporary(temp);
    return ok;
}

int CreateTemporary(const std::filesystem::path& temp, mode_t mode) {
    TemporaryRecord& record = Temporaries();
    // Created under the lock, so no file can appear after the exit's sweep.
    std::lock_guard lock(record.mutex);
    if (record.exiting) {
        return -1;
    }
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
        record.files.insert(temp.string());
    }
    return fd;
}

void ForgetTemporary(const std::filesystem::path& temp) {
    TemporaryRecord& record = Temporaries();
    std::lock_guard lock(record.mutex);
    record.files.erase(temp.string());
}

void RemoveTemporariesForExit() {
    TemporaryRecord& record = Temporaries();
    std::lock_guard lock(record.mutex);
    record.exiting = true;
    for (const std::string& file : record.files) {
        ::unlink(file.c_str());
    }
    record.files.clear();
}

}  // namespace brenvik
