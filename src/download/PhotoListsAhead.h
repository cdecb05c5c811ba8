// The photo lists of a download job, collected one album ahead of the workers: while the
// workers save album k, a thread of its own lists album k+1, so a run of many albums
// takes little longer than its lists alone. Still one list at a time, one album after
// the other, with the site's pauses; the adapters fill the session's download list as
// always, and each finished list is handed over whole with its album folder's record.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/JobOutcome.h"
#include "session/DownloadRecord.h"
#include "session/Lists.h"

namespace brenvik {

class PageWatch;
class Session;

// One album whose photo list was collected, on its way to the workers.
struct ListedAlbum {
    int albumIndex = -1;
    bool supported = true;  // some photo-list adapter serves the site
    bool stopped = false;   // a stop ended its list
    AlbumOutcome outcome;   // name, photos, skipped; the result when nothing is left to save
    DownloadList list;
    DownloadRecord record;  // what its folder held, and what the workers add to it
};

class PhotoListsAhead {
  public:
    // Collects the album's photos into the session's download list (which the caller
    // finds cleared and set to `base`) and fills in what the list decides. Runs on the
    // listing thread, whose pages `pages` watches.
    using ListFn = std::function<void(ListedAlbum&, PageWatch& pages)>;

    PhotoListsAhead(Session& session, std::filesystem::path base, std::vector<int> albums,
                    ListFn list);
    // Ends the listing and leaves no trace of albums listed but never taken.
    ~PhotoListsAhead();
    PhotoListsAhead(const PhotoListsAhead&) = delete;
    PhotoListsAhead& operator=(const PhotoListsAhead&) = delete;

    // The list of album `number` (1 for the first), once collected; its photo counts show
    // from now on. Null when the listing ended before it (a stop).
    std::unique_ptr<ListedAlbum> Take(int number);
    // The job is through with the album it took last (its record is closed): an album
    // that shares its folder may be listed now.
    void Finished();
    // Ends the listing at once: the job ends early.
    void Abandon();

  private:
    void Run();
    // Waits until album i may be listed; false when the listing must end.
    bool WaitForTurn(std::size_t i);
    std::unique_ptr<ListedAlbum> ListOne(int number, PageWatch& pages);
    void Discard(ListedAlbum& listed) const;
    void RemoveIfEmpty(const DownloadList& list) const;

    Session& session_;
    const std::filesystem::path base_;
    const std::vector<int> albums_;
    const ListFn list_;
    std::atomic<int> awaited_{0};  // the album the job waits for or downloads
    std::atomic<bool> abandoned_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<ListedAlbum> slot_;  // listed, not yet taken
    int handed_ = 0;                     // albums put in the slot
    int finished_ = 0;                   // albums the job is through with
    bool ended_ = false;                 // the listing thread ended
    std::string lastFolder_;             // the folder level of the album listed last
    std::thread thread_;
};

}  // namespace brenvik
