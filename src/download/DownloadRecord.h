// What an album folder already holds, kept in its "pic.zvt": the first line is the first
// address of the album's last complete download (as it always was, so older folders
// still work); every further line is an address saved into the folder. Lines are added
// the moment an image is saved, so a run ended by a stop, a crash or a dead image
// resumes where it ended.
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

    std::string FirstAddress() const;
    bool Contains(const std::string& address) const;
    // Notes an address saved into the folder, on disk at once. Known addresses are not
    // written twice.
    bool Add(const std::string& address);
    // A complete download: the first line becomes the address, the recorded lines stay.
    bool Complete(const std::string& firstAddress);

  private:
    mutable std::mutex mutex_;
    std::filesystem::path file_;
    std::string first_;
    std::vector<std::string> order_;
    std::unordered_set<std::string> saved_;
};

}  // namespace brenvik
