#include "download/DownProc.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/Session.h"
#include "download/Collect.h"
#include "net/AtomicFile.h"
#include "net/TransferStop.h"
#include "net/URLSource2.h"

namespace brenvik {
namespace {

constexpr unsigned kWorkerOperationTimeoutMs = 20000;
constexpr std::size_t kTopitSmallBody = 600;
constexpr auto kSingleThreadPause = std::chrono::milliseconds(2000);
constexpr int kAttemptsPerAddress = 2;
constexpr auto kPauseBetweenAttempts = std::chrono::seconds(1);

// The fallback is asked after any failure of the first address (nothing, a stall, a
// reset, a short body) except a size-limit rejection, which the fallback would meet too;
// and after a small first body when the fallback is topit's.
bool WantsFallback(const std::string& fallback, bool firstSaved, bool sizeRejected,
                   std::size_t firstReceived) {
    if (fallback.empty()) {
        return false;
    }
    if (!firstSaved) {
        return !sizeRejected;
    }
    const std::size_t topit = fallback.find(".topitme.");
    return topit != std::string::npos && topit > 0 && firstReceived < kTopitSmallBody;
}

bool NonEmptyFile(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec) && std::filesystem::file_size(file, ec) > 0 &&
           !ec;
}

void RemoveFile(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
}

HostGuard::Result ResultOf(bool ok, const CURLSource& response) {
    if (ok || response.sizeRejected) {
        return HostGuard::Result::Succeeded;  // the host answered; our limits said no
    }
    return StopAskedOnThisThread() ? HostGuard::Result::Stopped : HostGuard::Result::Failed;
}

// The tries of one address, each let through by the host's guard. The pause between them
// is taken outside the guard, so a waiting worker holds none of the host's connections.
bool FetchThroughGuard(const URLRequest& request, CURLSource& response, HostGuard* guard) {
    const std::string host = HostKey(request.address);
    for (int attempt = 1; attempt <= kAttemptsPerAddress; ++attempt) {
        if (guard && !guard->Enter(host)) {
            return false;
        }
        const bool ok = Fetch(request, response, kFetchWorker);
        if (guard) {
            guard->Leave(host, ResultOf(ok, response), response.status);
        }
        // The same limits would reject the body again.
        if (ok || response.sizeRejected || StopAskedOnThisThread()) {
            return ok;
        }
        if (attempt < kAttemptsPerAddress && !SleepUnlessStopped(kPauseBetweenAttempts)) {
            return false;
        }
    }
    return false;
}

// A row none of whose addresses may be asked any more.
bool Unreachable(const HostGuard& guard, const std::string& entry) {
    const auto [address, fallback] = SplitEntry(entry);
    return guard.GivenUp(HostKey(address)) &&
           (fallback.empty() || guard.GivenUp(HostKey(fallback)));
}

// Finished workers report their slot here; the coordinator waits on it.
class SlotMailbox {
  public:
    void Post(std::size_t slot) {
        {
            std::lock_guard lock(mutex_);
            finished_.push_back(slot);
        }
        cv_.notify_one();
    }
    std::size_t Take() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return !finished_.empty(); });
        const std::size_t slot = finished_.front();
        finished_.pop_front();
        return slot;
    }
    // Waits the pause unless a stop arrives first; false when stopped.
    bool Pause(std::chrono::milliseconds time, const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        return !cv_.wait_for(lock, time, [&] { return stop.load(); });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::size_t> finished_;
};

// The thread of one worker slot, kept for the slot's next image: starting a thread for
// every image cost about as much as a small image's transfer from a fast server.
class SlotThread {
  public:
    SlotThread() = default;
    SlotThread(const SlotThread&) = delete;
    SlotThread& operator=(const SlotThread&) = delete;
    ~SlotThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Runs the job on the slot's thread once its last job ended; throws std::system_error
    // when the thread cannot start.
    void Run(std::function<void()> job) {
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { Loop(); });
        }
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(job);
        }
        cv_.notify_one();
    }

  private:
    void Loop() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return quit_ || job_; });
                if (!job_) {
                    return;
                }
                job = std::exchange(job_, nullptr);
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void()> job_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

ImageOutcome DownloadOneImage(const std::string& entry, const std::string& headers,
                              const std::filesystem::path& target, const WorkerSettings& settings,
                              HostGuard* guard) {
    const auto [address, fallback] = SplitEntry(entry);

    // Bodies land in temporary files of their own; only a whole, non-empty body is
    // then put at the target, and never over a file of other content.
    const std::filesystem::path firstBody = TemporaryBeside(target);
    URLRequest request(address, firstBody, settings.timeoutSeconds * 1000u);
    request.operationTimeoutMs = kWorkerOperationTimeoutMs;
    request.headers = headers;
    request.minSizeKiB = settings.minK;
    request.maxSizeKiB = settings.maxK;
    request.attempts = 1;  // FetchThroughGuard tries again, each try through the guard
    request.pauseSeconds = 0;
    request.rejectErrorStatus = true;
    CURLSource first;
    const bool firstSaved = FetchThroughGuard(request, first, guard) && NonEmptyFile(firstBody);
    bool sizeRejected = !firstSaved && first.sizeRejected;
    std::filesystem::path body = firstSaved ? firstBody : std::filesystem::path();
    const bool stopping = settings.stop && settings.stop->load();
    if (!stopping && WantsFallback(fallback, firstSaved, sizeRejected, first.received)) {
        const std::filesystem::path secondBody = TemporaryBeside(target);
        request.address = fallback;
        request.savePath = secondBody;
        CURLSource second;
        if (FetchThroughGuard(request, second, guard) && NonEmptyFile(secondBody)) {
            body = secondBody;
        } else {
            // A first body that was saved stays saved (topit's small images).
            RemoveFile(secondBody);
            sizeRejected = !firstSaved && second.sizeRejected;
        }
    }
    if (body != firstBody) {
        RemoveFile(firstBody);
    }
    ImageOutcome outcome;
    if (body.empty()) {
        outcome.result = sizeRejected ? ImageResult::SizeSkipped : ImageResult::Failed;
        return outcome;
    }
    const KeptFile kept = KeepWithoutLoss(body, target);
    if (kept.ok) {
        outcome.result = ImageResult::Saved;
        outcome.file = kept.path;
    }
    return outcome;
}

WorkerOutcome DownPicFunc(Session& session, const WorkerSettings& settings) {
    WorkerOutcome outcome;
    session.doneCount = 0;
    const std::vector<DownloadRow> rows = session.downloads.Rows();
    const std::filesystem::path folder = session.downloads.AlbumFolder();
    const std::size_t n = rows.size();
    const std::size_t threads = std::clamp<std::size_t>(settings.threads, 1, 15);
    const std::size_t t = std::min(threads, n);
    outcome.images = static_cast<int>(n);
    if (t == 0) {
        return outcome;
    }
    session.downloadBusy = true;
    const auto start = std::chrono::steady_clock::now();

    const std::size_t perHost = settings.connectionsPerHost == 0
                                    ? threads
                                    : std::min<std::size_t>(settings.connectionsPerHost, threads);
    HostGuard guard(perHost);
    SlotMailbox mailbox;
    std::atomic<int> saved{0};
    std::atomic<int> skipped{0};
    std::vector<SlotThread> slots(t);
    const auto startWorker = [&](std::size_t slot, std::size_t row) {
        const auto work = [&, slot, row] {
            const StopScope stop([&session] { return session.stopFlag.load(); });
            const ImageOutcome image = DownloadOneImage(
                rows[row].url, rows[row].headers, folder / rows[row].fileName, settings, &guard);
            if (image.result == ImageResult::Saved) {
                ++saved;
                session.record.Add(PreferredAddress(rows[row].url));
                // A name taken by a file of other content gave way to "name (k).ext".
                const std::string name = image.file.filename().string();
                if (name != rows[row].fileName) {
                    session.downloads.SetFileName(row, name);
                }
            } else if (image.result == ImageResult::SizeSkipped) {
                ++skipped;
            }
            ++session.doneCount;
            mailbox.Post(slot);
        };
        try {
            slots[slot].Run(work);
        } catch (const std::system_error&) {
            // A worker that cannot start counts as done, so the run still ends.
            ++session.doneCount;
            mailbox.Post(slot);
        }
    };
    for (std::size_t s = 0; s < t; ++s) {
        startWorker(s, s);
    }
    std::size_t next = t;
    int shown = -1;
    std::size_t running = t;
    while (running > 0) {
        const std::size_t slot = mailbox.Take();
        --running;
        const bool stopping = session.stopFlag;
        // Photos only a given-up host holds fail at once: no worker, no pause.
        while (!stopping && next < n && Unreachable(guard, rows[next].url)) {
            ++session.doneCount;
            ++next;
        }
        if (!stopping && next < n) {
            if (threads == 1 && !mailbox.Pause(kSingleThreadPause, session.stopFlag)) {
                continue;
            }
            startWorker(slot, next++);
            ++running;
        }
        const int done = session.doneCount;
        if (done != shown || done == static_cast<int>(n)) {
            char text[64];
            std::snprintf(text, sizeof text, kProgressFormat, done, static_cast<int>(n));
            session.Front().SetControlText(kControlProgress, text);
            shown = done;
        }
    }
    outcome.saved = saved;
    outcome.skipped = skipped;
    outcome.failed = session.doneCount - saved - skipped;
    outcome.givenUp = guard.GivenUpHosts();
    outcome.seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count());
    session.Front().WorkerNotice(outcome.seconds, static_cast<int>(n));
    session.downloadBusy = false;
    return outcome;
}

}  // namespace brenvik
