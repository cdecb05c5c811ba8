#include "download/PhotoListsAhead.h"

#include <system_error>
#include <utility>

#include "download/Collect.h"
#include "net/TransferStop.h"
#include "session/PageWatch.h"
#include "session/Session.h"

namespace brenvik {
namespace {

// A new album's list runs, unless a stop was asked: that stays asked.
void StartAlbumState(Session& session) {
    int state = session.downloadState;
    while (state != kDownloadStopAsked &&
           !session.downloadState.compare_exchange_weak(state, kDownloadRunning)) {
    }
}

}  // namespace

PhotoListsAhead::PhotoListsAhead(Session& session, std::filesystem::path base,
                                 std::vector<int> albums, ListFn list)
    : session_(session),
      base_(std::move(base)),
      albums_(std::move(albums)),
      list_(std::move(list)) {
    if (albums_.empty()) {
        return;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to spare: Take lists each album itself, one after the other.
    }
}

PhotoListsAhead::~PhotoListsAhead() {
    Abandon();
    if (slot_) {
        Discard(*slot_);
    }
    // The list that a stop broke off is nobody's.
    RemoveIfEmpty(session_.downloads);
    session_.record.Close();
}

void PhotoListsAhead::Abandon() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::unique_ptr<ListedAlbum> PhotoListsAhead::Take(int number) {
    awaited_ = number;
    if (!thread_.joinable()) {
        PageWatch pages;
        const bool listable = number <= static_cast<int>(albums_.size()) && !abandoned_ &&
                              session_.downloadState != kDownloadStopAsked;
        return listable ? ListOne(number, pages) : nullptr;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return slot_ != nullptr || ended_; });
    std::unique_ptr<ListedAlbum> listed = std::move(slot_);
    lock.unlock();
    changed_.notify_all();
    return listed;
}

void PhotoListsAhead::Finished() {
    {
        std::lock_guard lock(mutex_);
        ++finished_;
    }
    changed_.notify_all();
}

void PhotoListsAhead::Run() {
    // The pages of the next album end as soon as the user stops the job, or the job ends.
    const StopScope stop(
        [this] { return session_.downloadState == kDownloadStopAsked || abandoned_; });
    PageWatch pages;
    for (std::size_t i = 0; i < albums_.size() && WaitForTurn(i); ++i) {
        std::unique_ptr<ListedAlbum> listed = ListOne(static_cast<int>(i) + 1, pages);
        const bool stopped = listed->stopped;
        {
            std::lock_guard lock(mutex_);
            slot_ = std::move(listed);
            ++handed_;
        }
        changed_.notify_all();
        if (stopped) {
            break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

// One album ahead at most. Two albums that share a folder share its record ("pic.zvt")
// and its names: the second is listed only once the first is saved, as a run one album
// at a time would list it.
bool PhotoListsAhead::WaitForTurn(std::size_t i) {
    const std::string folder = AlbumFolderName(session_, albums_[i]);
    std::unique_lock lock(mutex_);
    const bool sharesFolder = i > 0 && folder == lastFolder_;
    changed_.wait(
        lock, [&] { return abandoned_ || (!slot_ && (!sharesFolder || finished_ == handed_)); });
    lastFolder_ = folder;
    return !abandoned_ && session_.downloadState != kDownloadStopAsked;
}

std::unique_ptr<ListedAlbum> PhotoListsAhead::ListOne(int number, PageWatch& pages) {
    auto listed = std::make_unique<ListedAlbum>();
    listed->albumIndex = albums_[static_cast<std::size_t>(number - 1)];
    SetCollectProgressTest([this, number] { return awaited_ == number; });
    session_.downloads.Clear();
    session_.downloads.SetAlbumFolder(base_);
    session_.record.Close();
    StartAlbumState(session_);
    pages.Restart();
    list_(*listed, pages);
    SetCollectProgressTest(nullptr);
    session_.downloads.Swap(listed->list);
    session_.record.Swap(listed->record);
    return listed;
}

void PhotoListsAhead::Discard(ListedAlbum& listed) const {
    listed.record.Close();
    RemoveIfEmpty(listed.list);
}

// The folder of an album that was listed but never saved goes again when nothing is in it.
void PhotoListsAhead::RemoveIfEmpty(const DownloadList& list) const {
    const std::filesystem::path folder = list.AlbumFolder();
    if (!list.AlbumFolderOpen() || folder.empty() || folder == base_) {
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_empty(folder, ec) && !ec) {
        std::filesystem::remove(folder, ec);
    }
}

}  // namespace brenvik
