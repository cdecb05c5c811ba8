// What an album folder already holds, kept in its "pic.zvt": the first line is the first
// address of the album's last complete download (as it always was, so older folders
// still work); every further line is an address saved into the folder, so a run ended by
// a stop, a crash or a dead image resumes where it ended.
//
// A line may only claim an image that is on disk: images are not synced one by one (that
// would cost more than the download), so lines wait until the folder's file system has
// been synced, which happens every few dozen images and when the album ends. A crash
// loses at most the lines of images saved since; those are fetched again, and identical
// files are not written twice.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace brenvik {

class DownloadRecord {
  public:
    // Reads the folder's record; a missing file is an empty record.
    void Open(const std::filesystem::path& albumFolder);
    // Forgets the folder: later additions go nowhere.
    void Close();
    // Trades folders and lines with the other record (an album handed to the workers
    // takes its record along).
    void Swap(DownloadRecord& other);

    std::string FirstAddress() const;
    bool Contains(const std::string& address) const;
    // Notes an address saved into the folder; it is written with the next sync. Known
    // addresses are not written twice.
    bool Add(const std::string& address);
    // Syncs the folder's images and writes the lines waiting for that.
    bool Flush();
    // A complete download: the first line becomes the address, the recorded lines stay.
    bool Complete(const std::string& firstAddress);

  private:
    bool FlushLocked();

    mutable std::mutex mutex_;
    std::filesystem::path file_;
    std::string first_;
    std::vector<std::string> order_;
    std::unordered_set<std::string> saved_;
    std::vector<std::string> pending_;  // saved, not yet written
};

}  // namespace brenvik
