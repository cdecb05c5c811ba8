#include "net/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

constexpr std::string_view kTempPrefix = ".brenvik-";
constexpr std::string_view kTempSuffix = ".part";
// Earlier versions put "<target>.part<pid>-<n>" beside the target.
constexpr std::string_view kLegacyMarker = ".part";
constexpr std::size_t kMaxNameBytes = 255;
constexpr unsigned kMaxNumberedNames = 100000;

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "<pid>-<n>" -> pid.
bool PidAndCounter(std::string_view text, long& pid) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos || !AllDigits(text.substr(0, dash)) ||
        !AllDigits(text.substr(dash + 1)) || dash > 9) {
        return false;
    }
    pid = std::strtol(std::string(text.substr(0, dash)).c_str(), nullptr, 10);
    return pid > 0;
}

bool ProcessRuns(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Moves without replacing: false with errno EEXIST when the name is taken.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without the flag: a hard link fails on a taken name just the same.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string CutName(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

// True when both open files are regular files with the same bytes. Reads from the start
// whatever their offsets.
bool SameContentOf(int fa, int fb) {
    struct stat sa {
    }, sb{};
    if (::fstat(fa, &sa) != 0 || ::fstat(fb, &sb) != 0 || !S_ISREG(sa.st_mode) ||
        !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size) {
        return false;
    }
    char ba[65536];
    char bb[65536];
    for (off_t at = 0;;) {
        const ssize_t na = ::pread(fa, ba, sizeof ba, at);
        if (na <= 0) {
            return na == 0;
        }
        ssize_t got = 0;
        while (got < na) {
            const ssize_t nb = ::pread(fb, bb + got, static_cast<std::size_t>(na - got), at + got);
            if (nb <= 0) {
                return false;
            }
            got += nb;
        }
        if (std::char_traits<char>::compare(ba, bb, static_cast<std::size_t>(na)) != 0) {
            return false;
        }
        at += na;
    }
}

// Same bytes as an open file under a name (a link there is never followed).
bool SameContentAs(int fd, const std::filesystem::path& name) {
    const int other = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (other < 0) {
        return false;
    }
    const bool same = SameContentOf(fd, other);
    ::close(other);
    return same;
}

// A regular file (a link is not followed) of no bytes: what a power cut can leave of an
// image that was never flushed, holding nothing to lose.
bool IsEmptyFile(const std::filesystem::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// Where both ways of keeping a finished file meet: the target, else "name (1).ext",
// "name (2).ext", ... `place` puts the file at a free name (false with errno EEXIST when
// the name is taken), `replace` puts it over an empty file, `same` compares it with a
// taken name's bytes.
template <typename Place, typename Replace, typename Same>
KeptFile KeepAtFreeName(const std::filesystem::path& target, Place place, Replace replace,
                        Same same) {
    KeptFile kept;
    for (unsigned k = 0; k < kMaxNumberedNames; ++k) {
        const std::filesystem::path candidate = k == 0 ? target : NumberedName(target, k);
        if (place(candidate)) {
            kept.ok = true;
            kept.path = candidate;
            return kept;
        }
        if (errno != EEXIST) {
            break;
        }
        if (IsEmptyFile(candidate) && replace(candidate)) {
            kept.ok = true;
            kept.path = candidate;
            return kept;
        }
        if (same(candidate)) {
            kept.ok = true;
            kept.alreadyThere = true;
            kept.path = candidate;
            return kept;
        }
    }
    return kept;
}

}  // namespace

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    return target.parent_path() / (std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                                   std::to_string(counter++) + std::string(kTempSuffix));
}

bool IsTemporaryName(const std::string& name, long& pid) {
    const std::string_view view(name);
    if (view.starts_with(kTempPrefix) && view.ends_with(kTempSuffix)) {
        return PidAndCounter(
            view.substr(kTempPrefix.size(), view.size() - kTempPrefix.size() - kTempSuffix.size()),
            pid);
    }
    const std::size_t legacy = view.rfind(kLegacyMarker);
    return legacy != std::string_view::npos && legacy > 0 &&
           PidAndCounter(view.substr(legacy + kLegacyMarker.size()), pid);
}

int SweepStaleTemporaries(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        long pid = 0;
        const std::string name = entry->d_name;
        if (!IsTemporaryName(name, pid) || ProcessRuns(pid)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
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

std::filesystem::path NumberedName(const std::filesystem::path& target, unsigned k) {
    const std::string name = target.filename().string();
    const std::size_t dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const std::string ext = hasExt ? name.substr(dot) : "";
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string number = " (" + std::to_string(k) + ")";
    const std::size_t room = kMaxNameBytes - std::min(kMaxNameBytes, number.size() + ext.size());
    return target.parent_path() / (CutName(stem, room) + number + ext);
}

bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
    const int fa = ::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fa < 0) {
        return false;
    }
    const bool same = SameContentAs(fa, b);
    ::close(fa);
    return same;
}

KeptFile KeepWithoutLoss(const std::filesystem::path& file, const std::filesystem::path& target) {
    const KeptFile kept = KeepAtFreeName(
        target, [&](const auto& name) { return RenameNoReplace(file, name); },
        [&](const auto& name) { return std::rename(file.c_str(), name.c_str()) == 0; },
        [&](const auto& name) { return SameContent(file, name); });
    if (!kept.ok || kept.alreadyThere) {
        ::unlink(file.c_str());
    }
    return kept;
}

UnnamedFile::UnnamedFile(const std::filesystem::path& folder) {
    fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
        return;
    }
    // File systems (and kernels) without unnamed files: a temporary name of our own.
    named_ = TemporaryBeside(folder / "x");
    fd_ = CreateTemporary(named_);
    if (fd_ < 0) {
        error_ = errno;
        named_.clear();
    }
}

UnnamedFile::~UnnamedFile() {
    Close();
}

void UnnamedFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!named_.empty()) {
        ::unlink(named_.c_str());
        ForgetTemporary(named_);
        named_.clear();
    }
}

std::uintmax_t UnnamedFile::Size() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

// A name for the unnamed file; false with errno EEXIST when the name is taken.
bool UnnamedFile::LinkAt(const std::filesystem::path& name) const {
    // Through /proc any user may link an unnamed file; AT_EMPTY_PATH (without /proc)
    // needs a privilege.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0) {
        return false;
    }
    return ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Over an empty file: renaming needs a name, so the file is linked to a temporary one
// first (which a failure removes).
bool UnnamedFile::TakePlaceOf(const std::filesystem::path& name) const {
    const std::filesystem::path temp = TemporaryBeside(name);
    if (!LinkAt(temp)) {
        return false;
    }
    if (std::rename(temp.c_str(), name.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

KeptFile UnnamedFile::Keep(const std::filesystem::path& target) {
    KeptFile kept;
    if (!named_.empty()) {
        kept = KeepWithoutLoss(named_, target);  // it has its name or is gone either way
        ForgetTemporary(named_);
        named_.clear();
    } else if (fd_ >= 0) {
        kept = KeepAtFreeName(
            target, [this](const auto& name) { return LinkAt(name); },
            [this](const auto& name) { return TakePlaceOf(name); },
            [this](const auto& name) { return SameContentAs(fd_, name); });
    }
    Close();
    return kept;
}

bool AppendNoFollow(const std::filesystem::path& file, std::string_view bytes, mode_t mode) {
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // One write per call, so parallel appenders never interleave inside a line.
    ok = ok && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = ::close(fd) == 0 && ok;
    return ok;
}

}  // namespace brenvik
