#include "download/DownloadWorkers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "download/Collect.h"
#include "net/AtomicFile.h"
#include "net/PageFetcher.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "session/Session.h"

namespace brenvik {
namespace {

constexpr unsigned kWorkerOperationTimeoutMs = 20000;
constexpr std::size_t kTopitSmallBody = 600;
constexpr auto kSingleThreadPause = std::chrono::milliseconds(2000);
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

HostGuard::Result ResultOf(bool ok, const FetchResponse& response) {
    if (ok || response.sizeRejected) {
        return HostGuard::Result::Succeeded;  // the host answered; our limits said no
    }
    // A full or failing disk is no fault of the host's: it counts neither way.
    if (StopAskedOnThisThread() || response.writeError != 0) {
        return HostGuard::Result::Stopped;
    }
    return HostGuard::Result::Failed;
}

// The tries of one address, each let through by the host's guard. The pause between them
// is taken outside the guard, so a waiting worker holds none of the host's connections.
bool FetchThroughGuard(const URLRequest& request, FetchResponse& response, HostGuard* guard,
                       int attempts) {
    const std::string host = HostKey(request.address);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (guard && !guard->Enter(host)) {
            return false;
        }
        const bool ok = Fetch(request, response, kFetchWorker);
        if (guard) {
            guard->Leave(host, ResultOf(ok, response), response.status);
        }
        // The same limits would reject the body again, the same disk refuse it.
        if (ok || response.sizeRejected || response.writeError != 0 || StopAskedOnThisThread()) {
            return ok;
        }
        if (attempt < attempts && !SleepUnlessStopped(kPauseBetweenAttempts)) {
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

// Why the tries of an image gave nothing: the fetcher's cause, or the guard's refusal to
// ask a given-up host.
std::string ReasonOf(const FetchResponse& response) {
    return response.problem == FetchProblem::None ? kHostGivenUpReason
                                                  : ProblemText(response.problem, response.status);
}

// Hands the album's rows out in order to the workers that ask. Rows that only a given-up
// host holds are passed over and count as done at once: no request, no pause.
class RowDispenser {
  public:
    RowDispenser(const std::vector<DownloadRow>& rows, const HostGuard& guard,
                 std::atomic<int>& done, const std::atomic<bool>& stop,
                 std::function<void(std::size_t)> passedOver)
        : rows_(rows),
          guard_(guard),
          done_(done),
          stop_(stop),
          passedOver_(std::move(passedOver)) {}

    // The next row to download; false when none is left or a stop was asked.
    bool Next(std::size_t& row) {
        std::lock_guard lock(mutex_);
        while (!stop_ && !halted_ && next_ < rows_.size()) {
            const std::size_t candidate = next_++;
            if (!Unreachable(guard_, rows_[candidate].url)) {
                row = candidate;
                return true;
            }
            passedOver_(candidate);
            ++done_;
        }
        return false;
    }
    // No row is handed out any more (nothing more can be saved).
    void Halt() {
        std::lock_guard lock(mutex_);
        halted_ = true;
    }

  private:
    const std::vector<DownloadRow>& rows_;
    const HostGuard& guard_;
    std::atomic<int>& done_;
    const std::atomic<bool>& stop_;
    const std::function<void(std::size_t)> passedOver_;
    std::mutex mutex_;
    std::size_t next_ = 0;
    bool halted_ = false;
};

// The error number of a failed save when the disk caused it, else 0.
int DiskErrorOf(int error) {
    return IsDiskError(error) ? error : 0;
}

}  // namespace

bool IsDiskError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EIO || error == EFBIG;
}

ImageOutcome DownloadOneImage(const std::string& entry, const std::string& headers,
                              const std::filesystem::path& target, const WorkerSettings& settings,
                              HostGuard* guard) {
    const auto [address, fallback] = SplitEntry(entry);

    // Bodies land in files without a name; only a whole, non-empty body then takes the
    // target's name, and never over a file of other content.
    const std::filesystem::path folder = target.parent_path();
    UnnamedFile firstBody(folder);
    URLRequest request(address, {}, settings.timeoutSeconds * 1000u);
    request.saveDescriptor = firstBody.Descriptor();
    request.operationTimeoutMs = kWorkerOperationTimeoutMs;
    request.headers = headers;
    request.minSizeKiB = settings.minK;
    request.maxSizeKiB = settings.maxK;
    request.attempts = 1;  // FetchThroughGuard tries again, each try through the guard
    request.pauseSeconds = 0;
    request.rejectErrorStatus = true;
    ImageOutcome outcome;
    if (request.saveDescriptor < 0) {
        outcome.diskError = DiskErrorOf(firstBody.Error());
        outcome.reason = kNoFileReason;
        return outcome;  // no file can be made in the folder
    }
    FetchResponse first;
    const bool firstSaved = FetchThroughGuard(request, first, guard, settings.attemptsPerAddress) &&
                            firstBody.Size() > 0;
    if (first.writeError != 0) {
        outcome.diskError = DiskErrorOf(first.writeError);
        outcome.reason = ReasonOf(first);
        return outcome;  // the fallback would meet the same disk
    }
    bool sizeRejected = !firstSaved && first.sizeRejected;
    UnnamedFile* body = firstSaved ? &firstBody : nullptr;
    const bool stopping = settings.stop && settings.stop->load();
    std::optional<UnnamedFile> secondBody;
    if (!stopping && WantsFallback(fallback, firstSaved, sizeRejected, first.received)) {
        secondBody.emplace(folder);
        request.address = fallback;
        request.saveDescriptor = secondBody->Descriptor();
        FetchResponse second;
        if (request.saveDescriptor >= 0 &&
            FetchThroughGuard(request, second, guard, settings.attemptsPerAddress) &&
            secondBody->Size() > 0) {
            body = &*secondBody;
        } else if (const int error =
                       request.saveDescriptor < 0 ? secondBody->Error() : second.writeError;
                   DiskErrorOf(error) != 0) {
            outcome.diskError = error;
            outcome.reason = ProblemText(
                error == ENOSPC ? FetchProblem::DiskFull : FetchProblem::WriteFailed, 0);
            return outcome;
        } else if (!firstSaved) {
            // A first body that was saved stays saved (topit's small images).
            sizeRejected = second.sizeRejected;
        }
    }
    if (!body) {
        const bool stopped =
            (settings.stop && settings.stop->load()) || first.problem == FetchProblem::Stopped;
        outcome.result = sizeRejected ? ImageResult::SizeSkipped
                         : stopped    ? ImageResult::Stopped
                                      : ImageResult::Failed;
        outcome.reason = ReasonOf(first);
        return outcome;
    }
    const KeptFile kept = body->Keep(target);
    if (kept.ok) {
        outcome.result = ImageResult::Saved;
        outcome.file = kept.path;
    } else {
        outcome.diskError = DiskErrorOf(errno);
        outcome.reason = ProblemText(FetchProblem::WriteFailed, 0);
    }
    return outcome;
}

WorkerOutcome DownPicFunc(Session& session, const WorkerSettings& settings) {
    return DownPicFunc(session, session.downloads, session.record, settings);
}

WorkerCrew::~WorkerCrew() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

std::size_t WorkerCrew::Start(std::size_t count, std::function<void()> work) {
    std::size_t runs = 0;
    {
        std::lock_guard lock(mutex_);
        while (threads_.size() < count) {
            try {
                threads_.emplace_back([this] { Serve(); });
            } catch (const std::system_error&) {
                break;  // the threads there are take the rows
            }
        }
        runs = std::min(count, threads_.size());
        work_ = std::make_shared<const std::function<void()>>(std::move(work));
        unclaimed_ = runs;
        running_ = runs;
    }
    wake_.notify_all();
    return runs;
}

bool WorkerCrew::WaitAllEnded(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, time, [this] { return running_ == 0; });
}

void WorkerCrew::Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || unclaimed_ > 0; });
        if (closing_) {
            return;
        }
        --unclaimed_;
        std::shared_ptr<const std::function<void()>> work = work_;
        lock.unlock();
        (*work)();
        work.reset();
        lock.lock();
        if (--running_ == 0) {
            ended_.notify_all();
        }
    }
}

WorkerOutcome DownPicFunc(Session& session, DownloadList& list, DownloadRecord& record,
                          const WorkerSettings& settings, WorkerCrew* crew) {
    // The progress line is brought up to date this often, not after every image: each
    // update would wake this thread, and a run of small images pays for every wake.
    constexpr auto kProgressInterval = std::chrono::milliseconds(100);
    WorkerOutcome outcome;
    session.doneCount = 0;
    const std::vector<DownloadRow> rows = list.Rows();
    const std::filesystem::path folder = list.AlbumFolder();
    const std::size_t n = rows.size();
    const std::size_t threads = std::clamp<std::size_t>(settings.threads, 1, 15);
    const std::size_t t = std::min(threads, n);
    outcome.images = static_cast<int>(n);
    if (t == 0) {
        return outcome;
    }
    session.SetSavingFolder(folder);
    session.downloadBusy = true;
    const auto start = std::chrono::steady_clock::now();

    const std::size_t perHost = settings.connectionsPerHost == 0
                                    ? threads
                                    : std::min<std::size_t>(settings.connectionsPerHost, threads);
    HostGuard guard(perHost);
    std::mutex failuresMutex;
    std::vector<std::pair<std::size_t, FailedPhoto>> failures;
    const auto fail = [&](std::size_t row, std::string reason) {
        std::lock_guard lock(failuresMutex);
        failures.push_back(
            {row, {rows[row].fileName, PreferredAddress(rows[row].url), std::move(reason)}});
    };
    RowDispenser dispenser(rows, guard, session.doneCount, session.stopFlag,
                           [&](std::size_t row) { fail(row, kHostGivenUpReason); });
    std::atomic<int> saved{0};
    std::atomic<int> skipped{0};
    std::atomic<int> stopped{0};
    std::mutex diskMutex;
    // The first disk failure ends the album: nothing more can be saved where it failed.
    const auto NoteDiskError = [&](int error) {
        std::lock_guard lock(diskMutex);
        if (outcome.diskError == 0) {
            outcome.diskError = error;
            outcome.diskPath = folder;
        }
        dispenser.Halt();
    };
    const auto downloadRow = [&](std::size_t row) {
        const ImageOutcome image = DownloadOneImage(rows[row].url, rows[row].headers,
                                                    folder / rows[row].fileName, settings, &guard);
        if (image.result == ImageResult::Saved) {
            ++saved;
            record.Add(PreferredAddress(rows[row].url));
            // A name taken by a file of other content gave way to "name (k).ext".
            const std::string name = image.file.filename().string();
            if (name != rows[row].fileName) {
                list.SetFileName(row, name);
            }
        } else if (image.result == ImageResult::SizeSkipped) {
            ++skipped;
        } else if (image.result == ImageResult::Stopped) {
            ++stopped;
        } else {
            if (image.diskError != 0) {
                NoteDiskError(image.diskError);
            }
            fail(row, image.reason);
        }
        ++session.doneCount;
    };
    const auto drain = [&] {
        const StopScope stop([&session] { return session.stopFlag.load(); });
        bool first = true;
        for (std::size_t row = 0; dispenser.Next(row); first = false) {
            // One worker alone goes easy on the site: a pause between its images.
            if (threads == 1 && !first && !SleepUnlessStopped(kSingleThreadPause)) {
                break;
            }
            downloadRow(row);
        }
    };
    std::optional<WorkerCrew> ownCrew;
    WorkerCrew& workers = crew ? *crew : ownCrew.emplace();
    if (workers.Start(t, drain) == 0) {
        drain();  // not a single thread could start: this one does the work
    }
    int shown = -1;
    for (bool ended = false; !ended;) {
        ended = workers.WaitAllEnded(kProgressInterval);
        const int done = session.doneCount;
        if (done != shown) {
            char text[64];
            std::snprintf(text, sizeof text, kProgressFormat, done, static_cast<int>(n));
            session.Front().SetControlText(kControlProgress, text);
            shown = done;
        }
    }
    outcome.saved = saved;
    outcome.skipped = skipped;
    outcome.stopped = stopped;
    std::sort(failures.begin(), failures.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [row, photo] : failures) {
        outcome.failures.push_back(std::move(photo));
    }
    outcome.failed = static_cast<int>(outcome.failures.size());
    outcome.givenUp = guard.GivenUpHosts();
    outcome.seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count());
    session.Front().WorkerNotice(outcome.seconds, static_cast<int>(n));
    session.downloadBusy = false;
    return outcome;
}

}  // namespace brenvik
