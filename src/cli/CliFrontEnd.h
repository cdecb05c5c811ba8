// The command line's side of the front-end interface: messages and progress on stderr,
// questions answered as the options say.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "session/FrontEnd.h"
#include "net/PageFetcher.h"

namespace brenvik::cli {

// A site's hint as the command line says it: a login comes from a browser's cookies
// (--cookies-from-browser, --cookies), not from the window's login menu.
std::string ForTheCommandLine(std::string text);

class CliFrontEnd : public FrontEnd {
  public:
    CliFrontEnd(bool answerYes, bool quiet);

    void ShowMessage(const std::string& text) override;
    void Notice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void OpenLogin(const std::string& address) override;
    void SetControlText(int controlId, const std::string& text) override;
    void AlbumAdded(const AlbumRecord& album) override;
    void WorkerNotice(int seconds, int count) override;
    void ListingLook(bool listing) override;
    void AutoDownload() override;
    void DownloadLook(bool downloading) override;
    void OpenFolder(const std::string& folder) override;
    void DownloadFinished(const DownloadJobOutcome& outcome) override;

    int MessagesShown() const;

    // -v: one line for every request, with the reason of a failure.
    void ShowExchange(const ExchangeReport& report);
    // Which of several inputs the lines that follow belong to.
    void StartInput(std::size_t number, std::size_t count, const std::string& address);

  private:
    using Clock = std::chrono::steady_clock;

    void Line(const std::string& text);
    void EndProgressLine();
    void ShowProgress(const std::string& text);
    std::string PhotoProgress(int done, int total) const;

    mutable std::mutex mutex_;
    bool answerYes_;
    bool quiet_;
    bool terminal_;
    bool progressOpen_ = false;
    int messages_ = 0;
    std::string album_;
    int albumNumber_ = 0;
    int albumCount_ = 0;
    Clock::time_point lastProgress_{};
    Clock::time_point jobStart_{};
    Clock::time_point albumStart_{};
    std::uint64_t jobStartBytes_ = 0;
};

}  // namespace brenvik::cli
