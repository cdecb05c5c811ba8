// What one download job did, album by album, in the terms a person acts on: which albums
// are complete, had nothing new, were stopped, declined or failed, and for every photo that
// failed its file name, address and reason. Both front ends show it; neither works it out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brenvik {

// Queued: handed to an aria2 daemon, which downloads it on its own.
enum class AlbumResult { Complete, NothingNew, Stopped, Declined, Failed, Queued };

struct FailedPhoto {
    std::string file;
    std::string address;
    std::string reason;
};

struct AlbumOutcome {
    std::string name;
    AlbumResult result = AlbumResult::Complete;
    int photos = 0;      // rows collected for download
    int saved = 0;       // images that ended as files
    int skipped = 0;     // saved before, or outside the size limits
    int failed = 0;      // images tried that ended without a file
    int queued = 0;      // handed to an aria2 daemon without waiting for the files
    std::string reason;  // why an album failed as a whole (no photo list, say)
    std::vector<FailedPhoto> failures;
};

struct DownloadJobOutcome {
    bool started = false;       // false: the save path was missing or unusable
    bool stopped = false;       // the user stopped the job
    int albums = 0;             // albums handled
    int images = 0;             // rows collected over all albums
    int saved = 0;              // images that ended as files
    int failed = 0;             // images tried that ended without a file
    int skipped = 0;            // images left out by the size limits
    int skippedSaved = 0;       // photos left out because an earlier run saved them
    int listed = 0;             // photos written to address lists instead of downloaded
    int queued = 0;             // photos handed to an aria2 daemon, not waited for
    int unsupported = 0;        // albums whose kind no photo-list adapter serves
    bool folderFailed = false;  // an album folder could not be made under the save path
    int listsFailed = 0;        // address lists (list-only mode) that could not be written
    bool diskFailed = false;    // the disk refused a save (full, read-only, failing): job ended
    std::filesystem::path lastAlbumFolder;
    std::vector<AlbumOutcome> albumOutcomes;
};

// The word scripts read: complete, nothing-new, stopped, declined, failed, queued.
const char* ResultWord(AlbumResult result);

// True when a photo or a whole album failed (what exit status 1 means).
bool AnythingFailed(const DownloadJobOutcome& outcome);

// One line with the counts: "下载完毕：3个相册，已保存120张，跳过40张，失败2张" or
// "已终止：已保存143/600张". A stop is never counted as failures.
std::string SummaryLine(const DownloadJobOutcome& outcome);

// One line per failed photo ("失败：name  address  reason") and per failed album.
std::vector<std::string> FailureLines(const DownloadJobOutcome& outcome);

// The albums' outcomes as a JSON array: name, outcome word, counts, and every failed
// photo as {"file","address","reason"}.
std::string AlbumOutcomesJson(const DownloadJobOutcome& outcome);

}  // namespace brenvik
