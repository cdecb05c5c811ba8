// The download job over albums whose photos the test lists: a stand-in adapter hands each
// album's addresses and names to the job, which saves below a folder of the test's own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "download/ListTypes.h"
#include "support/FakeFrontEnd.h"
#include "support/TestServer.h"

namespace brenvik::test {

inline constexpr int kTestSite = 5;  // its list type takes any sub-kind

struct TestPhoto {
    std::string url;
    std::string name;
};

class AlbumJobTest : public ::testing::Test {
  protected:
    AlbumJobTest() : session(home.Path(), front) {
        current = this;
        session.ready = true;
        session.siteIndex = kTestSite;
        RegisterPhotoLister(PhotoLister::Photos56, &AlbumJobTest::ListPhotos);
        SetThreads(5);
    }
    ~AlbumJobTest() override { current = nullptr; }

    int AddTestAlbum(const std::string& name, std::vector<TestPhoto> list) {
        AlbumRecord record;
        record.name = name;
        AddAlbum(session, record);
        const int index = static_cast<int>(session.albums.Size()) - 1;
        photos[index] = std::move(list);
        return index;
    }
    void SetThreads(std::uint16_t threads, std::uint16_t minK = 0) {
        DownloadParams params = session.DownParams(kTestSite);
        params.threads = threads;
        params.minK = minK;
        session.SetDownParams(kTestSite, params);
    }
    void SetFlags(std::uint16_t flags) {
        SaveOptions rules = session.SaveRules(kTestSite);
        rules.flags = flags;
        session.SetSaveRules(kTestSite, rules);
    }
    // The save path as a user may type it, with spaces around.
    DownloadJobOutcome Run(const std::vector<int>& selected) {
        return RunDownloadJob(session, selected, "  " + save.Path().string() + "  ");
    }

    ScopedPhotoListers isolated;  // the stand-in adapter stays this test's own
    TempDir home;
    TempDir save;
    FakeFrontEnd front;
    Session session;
    std::map<int, std::vector<TestPhoto>> photos;

  private:
    static void ListPhotos(Session& s, int albumIndex) {
        for (const auto& photo : current->photos[albumIndex]) {
            AddPhoto(s, photo.url, photo.name, "", albumIndex);
            if (PhotoListShouldStop(s)) {
                return;
            }
        }
    }
    static inline AlbumJobTest* current = nullptr;
};

}  // namespace brenvik::test
