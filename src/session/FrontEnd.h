// Everything the core tells or asks the user goes through this one interface: the
// desktop window and the command line each implement it. Job threads call it; an
// implementation hands the calls to its own thread as it needs.
#pragma once

#include <string>

namespace brenvik {

struct AlbumRecord;
struct DownloadJobOutcome;

// Controls whose texts the core sets.
enum ControlId : int {
    kControlSavePath = 1000,
    kControlAddress = 1001,
    kControlProgress = 1006,
    kControlJobStatus = 1009,
    kControlAlbumFrame = 1011,
};

inline constexpr const char* kMessageCaption = "提示";

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // A message box.
    virtual void ShowMessage(const std::string& text) = 0;
    // Information that needs no answer and must never hold a job up (a changed site, a
    // host given up): the status line and the log, never a box.
    virtual void Notice(const std::string& text) = 0;
    // A yes/no question; blocks until answered.
    virtual bool AskYesNo(const std::string& text) = 0;
    // Opens the login browser on the address; blocks until the user closes it.
    virtual void OpenLogin(const std::string& address) = 0;
    // A status text in one of the window's controls.
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    // A new album row at the end of the table.
    virtual void AlbumAdded(const AlbumRecord& album) = 0;
    // The workers of one album finished: elapsed seconds and image count.
    virtual void WorkerNotice(int seconds, int count) = 0;
    // The album-list job started (true) or ended (false): enable or disable controls.
    virtual void ListingLook(bool listing) = 0;
    // The listing asks for every album to be downloaded at once, as the download button does.
    virtual void AutoDownload() = 0;
    // The download job entered (true) or left (false) the downloading look.
    virtual void DownloadLook(bool downloading) = 0;
    // Opens a folder in the system's file manager.
    virtual void OpenFolder(const std::string& folder) = 0;
    // The download job ended: what became of every album and every failed photo. Called
    // before the last status line is set.
    virtual void DownloadFinished(const DownloadJobOutcome& outcome) = 0;
};

}  // namespace brenvik
