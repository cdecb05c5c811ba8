#include "download/DownProc.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "app/Session.h"
#include "net/TransferStop.h"
#include "net/URLSource2.h"

namespace brenvik {
namespace {

constexpr unsigned kWorkerOperationTimeoutMs = 20000;
constexpr std::size_t kTopitSmallBody = 600;
constexpr auto kSingleThreadPause = std::chrono::milliseconds(2000);

bool WantsFallback(const std::string& fallback, const CURLSource& first) {
    if (fallback.empty()) {
        return false;
    }
    if (first.received == 0) {
        return true;
    }
    const std::size_t topit = fallback.find(".topitme.");
    return topit != std::string::npos && topit > 0 && first.received < kTopitSmallBody;
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

}  // namespace

bool DownloadOneImage(const std::string& entry, const std::string& headers,
                      const std::string& savePath, const WorkerSettings& settings) {
    const std::size_t split = entry.find("\r\n");
    const std::string address = entry.substr(0, split);
    const std::string fallback = split == std::string::npos ? "" : entry.substr(split + 2);

    URLRequest request(address, savePath, settings.timeoutSeconds * 1000u);
    request.operationTimeoutMs = kWorkerOperationTimeoutMs;
    request.headers = headers;
    request.minSizeKiB = settings.minK;
    request.maxSizeKiB = settings.maxK;
    request.attempts = 2;
    request.pauseSeconds = 1;
    request.rejectErrorStatus = true;
    CURLSource response;
    bool saved = Fetch(request, response, kFetchWorker);
    if (WantsFallback(fallback, response)) {
        request.address = fallback;
        saved = Fetch(request, response, kFetchWorker);
    }
    return saved;
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

    SlotMailbox mailbox;
    std::atomic<int> saved{0};
    std::vector<std::optional<std::thread>> slots(t);
    const auto startWorker = [&](std::size_t slot, std::size_t row) {
        const auto work = [&, slot, row] {
            const StopScope stop([&session] { return session.stopFlag.load(); });
            const std::string target = (folder / rows[row].fileName).string();
            if (DownloadOneImage(rows[row].url, rows[row].headers, target, settings)) {
                ++saved;
            }
            ++session.doneCount;
            mailbox.Post(slot);
        };
        try {
            slots[slot].emplace(work);
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
        if (slots[slot] && slots[slot]->joinable()) {
            slots[slot]->join();
        }
        slots[slot].reset();
        const bool stopping = session.stopFlag;
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
    outcome.failed = session.doneCount - saved;
    outcome.seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count());
    session.Front().WorkerNotice(outcome.seconds, static_cast<int>(n));
    session.downloadBusy = false;
    return outcome;
}

}  // namespace brenvik
