// The download workers of one album: up to the site's thread count of workers take the
// rows in order, one image at a time, while the calling thread shows the progress.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/HostGuard.h"
#include "download/JobOutcome.h"

namespace brenvik {

class Session;
class DownloadList;
class DownloadRecord;

inline constexpr const char* kProgressFormat = "已下载%d/%d......";

// The site's download parameters for this run.
struct WorkerSettings {
    std::uint16_t threads = 5;
    std::uint16_t timeoutSeconds = 30;
    std::uint16_t minK = 0;
    std::uint16_t maxK = 0;
    const std::atomic<bool>* stop = nullptr;  // a stop asks no fallback any more
    // Requests at one image host at once; 0 (or more than `threads`): the thread count.
    std::uint16_t connectionsPerHost = 0;
    int attemptsPerAddress = 2;  // tries of each image address, the first included
};

struct WorkerOutcome {
    int images = 0;   // rows of the download list
    int saved = 0;    // images that ended as a file
    int failed = 0;   // images tried that ended without a file
    int skipped = 0;  // images outside the size limits: left out on purpose, not failed
    int stopped = 0;  // images a stop broke off: the user's doing, not failures
    int seconds = 0;
    // Every failed image, in row order, with its reason.
    std::vector<FailedPhoto> failures;
    // Hosts that refused kFailuresBeforeGivingUp requests in a row: the album's photos
    // there were not asked for any more (and count as failed).
    std::vector<GivenUpHost> givenUp;
    // The disk failed a save (IsDiskError): its error number and the folder; no further
    // row was handed out after it.
    int diskError = 0;
    std::filesystem::path diskPath;
};

// The worker threads of a job: they stay from one album to the next instead of being
// started anew for each album.
class WorkerCrew {
  public:
    WorkerCrew() = default;
    ~WorkerCrew();
    WorkerCrew(const WorkerCrew&) = delete;
    WorkerCrew& operator=(const WorkerCrew&) = delete;

    // Runs `work` once on each of `count` threads, starting the threads the crew lacks;
    // returns how many runs there are (fewer when no more threads could be started). The
    // runs of the previous Start must have ended.
    std::size_t Start(std::size_t count, std::function<void()> work);
    // Waits until every run ended or the time passed; true when all ended.
    bool WaitAllEnded(std::chrono::milliseconds time);

  private:
    void Serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable ended_;
    std::vector<std::thread> threads_;
    std::shared_ptr<const std::function<void()>> work_;
    std::size_t unclaimed_ = 0;  // runs no thread took yet
    std::size_t running_ = 0;    // runs not ended yet
    bool closing_ = false;
};

// Downloads every row of the session's download list; returns when all were tried or a
// stop was asked. On a stop no worker takes another row and the running ones are waited
// for, so the list never changes under a worker.
WorkerOutcome DownPicFunc(Session& session, const WorkerSettings& settings);
// The same for an album handed over with its own list and record, while the session's
// list already collects the next album.
// The workers run on `crew` when given (else on threads of their own).
WorkerOutcome DownPicFunc(Session& session, DownloadList& list, DownloadRecord& record,
                          const WorkerSettings& settings, WorkerCrew* crew = nullptr);

enum class ImageResult { Saved, SizeSkipped, Failed, Stopped };
struct ImageOutcome {
    ImageResult result = ImageResult::Failed;
    std::filesystem::path file;  // where the image is, when saved
    std::string reason;          // why it failed ("HTTP 404", "连接超时")
    // The error number when the image failed because its folder's disk did (full, out of
    // quota, read-only, failing): no fault of the server's; 0 otherwise.
    int diskError = 0;
};

// True for the error numbers that mean the disk, not the server, failed a save.
bool IsDiskError(int error);

// The reason given for the photos of a host that was given up.
inline constexpr const char* kHostGivenUpReason = "服务器连续拒绝访问，未再请求";
inline constexpr const char* kNoFileReason = "无法在相册文件夹中创建文件";

// One worker's image: the preferred address, then the fallback after any failure but a
// size-limit rejection (and after a small first body when the fallback is topit's). Each
// address is tried settings.attemptsPerAddress times; every request goes through the guard when
// there is one, so a given-up host is not asked. Bodies are written into files without a name in
// the target's folder (nothing half-written is ever seen there, even after a kill) and the whole
// body is then put at the target without loss: a file of other content keeps its name.
ImageOutcome DownloadOneImage(const std::string& entry, const std::string& headers,
                              const std::filesystem::path& target, const WorkerSettings& settings,
                              HostGuard* guard = nullptr);

}  // namespace brenvik
