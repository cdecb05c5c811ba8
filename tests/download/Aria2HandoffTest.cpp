// An album handed to a real aria2c that is waited for: a preferred address that fails is
// queued again with its fallback, and only what the daemon completed is recorded.
#include <gtest/gtest.h>

#include "download/AlbumJobTest.h"
#include "support/LocalAria2.h"

namespace brenvik {
namespace {

class Aria2HandoffTest : public test::AlbumJobTest {
  protected:
    Aria2HandoffTest() {
        images.Serve("", "/big.jpg", "original", "image/jpeg");
        images.Serve("", "/small.jpg", "preview", "image/jpeg");  // every other path: 404
        RunChoices choices;
        choices.aria2 = Aria2Daemon{aria2.Rpc(), "pw", "", true};
        session.SetRunChoices(choices);
    }
    std::string At(const std::string& path) const { return images.Base() + path; }

    test::TestServer images;
    test::LocalAria2 aria2{"pw", home.Path()};
};

TEST_F(Aria2HandoffTest, AFailedPreferredAddressFallsBackAndOnlyCompletedPhotosAreRecorded) {
    const int album = AddTestAlbum("Pairs", {{At("/big.jpg") + "\r\n" + At("/small.jpg"), "one"},
                                             {At("/gone.jpg") + "\r\n" + At("/small.jpg"), "two"},
                                             {At("/missing.jpg"), "three"}});
    const DownloadJobOutcome outcome = Run({album});
    EXPECT_EQ(test::ReadFile(save / "Pairs" / "one.jpg"), "original") << "no mirror of a preview";
    EXPECT_EQ(test::ReadFile(save / "Pairs" / "two.jpg"), "preview");
    EXPECT_EQ(outcome.failed, 1);
    const std::string record = test::ReadFile(save / "Pairs" / "pic.zvt");
    EXPECT_NE(record.find("\r\n" + At("/gone.jpg")), std::string::npos) << "two, by its address";
    EXPECT_EQ(record.find(At("/missing.jpg")), std::string::npos) << "three never arrived";
}

}  // namespace
}  // namespace brenvik
