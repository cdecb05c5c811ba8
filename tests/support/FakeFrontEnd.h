// A front end that records what the core showed and answers questions as told.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "session/FrontEnd.h"
#include "session/Session.h"
#include "download/JobOutcome.h"
#include "session/Lists.h"

namespace brenvik::test {

class FakeFrontEnd : public FrontEnd {
  public:
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex);
        messages.push_back(text);
    }
    void Notice(const std::string& text) override {
        std::lock_guard lock(mutex);
        infos.push_back(text);
    }
    bool AskYesNo(const std::string& text) override {
        std::lock_guard lock(mutex);
        questions.push_back(text);
        return answer;
    }
    void OpenLogin(const std::string& address) override {
        std::lock_guard lock(mutex);
        logins.push_back(address);
    }
    void SetControlText(int controlId, const std::string& text) override {
        std::lock_guard lock(mutex);
        controls[controlId] = text;
        controlHistory.emplace_back(controlId, text);
    }
    void AlbumAdded(const AlbumRecord& album) override {
        {
            std::lock_guard lock(mutex);
            rows.push_back(album);
        }
        if (onAlbumAdded) {
            onAlbumAdded();
        }
    }
    void WorkerNotice(int seconds, int count) override {
        std::lock_guard lock(mutex);
        notices.emplace_back(seconds, count);
    }

    void ListingLook(bool listing) override {
        std::lock_guard lock(mutex);
        listingLooks.push_back(listing);
    }
    void AutoDownload() override {
        std::lock_guard lock(mutex);
        ++autoDownloads;
    }
    void DownloadLook(bool downloading) override {
        std::lock_guard lock(mutex);
        looks.push_back(downloading);
    }
    void OpenFolder(const std::string& folder) override {
        std::lock_guard lock(mutex);
        openedFolders.push_back(folder);
    }
    void DownloadFinished(const DownloadJobOutcome& outcome) override {
        std::lock_guard lock(mutex);
        finished.push_back(outcome);
    }
    std::string Control(int id) {
        std::lock_guard lock(mutex);
        return controls[id];
    }

    std::mutex mutex;
    std::function<void()> onAlbumAdded;  // runs on the job's thread after each row
    bool answer = false;
    std::vector<std::string> messages;
    std::vector<std::string> infos;  // notices that held nothing up
    std::vector<DownloadJobOutcome> finished;
    std::vector<std::string> questions;
    std::vector<std::string> logins;
    std::map<int, std::string> controls;
    std::vector<std::pair<int, std::string>> controlHistory;
    std::vector<AlbumRecord> rows;
    std::vector<std::pair<int, int>> notices;
    std::vector<bool> looks;
    std::vector<bool> listingLooks;
    int autoDownloads = 0;
    std::vector<std::string> openedFolders;
};

// Stops the running job as soon as the given number of album rows or photos arrived, as
// the stop button does between two of them.
class StopAfter : public FakeFrontEnd {
  public:
    void AlbumAdded(const AlbumRecord& album) override {
        FakeFrontEnd::AlbumAdded(album);
        if (session && ++albums == rowLimit) {
            session->listingState = kListingStopAsked;
        }
    }
    void SetControlText(int controlId, const std::string& text) override {
        FakeFrontEnd::SetControlText(controlId, text);
        if (session && controlId == kControlProgress &&
            text == "已获取到" + std::to_string(photoLimit) + "张图片信息") {
            session->downloadState = kDownloadStopAsked;
        }
    }
    Session* session = nullptr;
    int rowLimit = 0;
    int photoLimit = 0;
    int albums = 0;
};

}  // namespace brenvik::test
