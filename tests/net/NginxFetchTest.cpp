// The fetcher against a real nginx: gzip and chunked bodies and redirect chains as
// production servers send them.
#include <fstream>

#include <gtest/gtest.h>

#include "net/PageFetcher.h"
#include "support/Nginx.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

class NginxFetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::Nginx::Available()) {
            GTEST_SKIP() << "nginx is not installed";
        }
        page_ = "<html><body>";
        for (int i = 0; i < 4000; ++i) {
            page_ +=
                "<li data-id=\"" + std::to_string(i) + "\">相册 " + std::to_string(i) + "</li>";
        }
        page_ += "</body></html>";
        std::ofstream(root_ / "albums.html", std::ios::binary) << page_;
        for (int i = 0; i < 3 * 1024 * 1024; ++i) {
            image_ += static_cast<char>((static_cast<unsigned>(i) * 7919u) >> 3);
        }
        std::ofstream(root_ / "photo.jpg", std::ios::binary) << image_;
        nginx_ = std::make_unique<test::Nginx>(root_.Path(),
                                               "location = /old { return 301 /older; }\n"
                                               "location = /older { return 302 /albums.html; }\n");
        ASSERT_TRUE(nginx_->Running());
    }

    test::TempDir root_;
    test::TempDir out_;
    std::unique_ptr<test::Nginx> nginx_;
    std::string page_;
    std::string image_;
};

TEST_F(NginxFetchTest, GzipChunkedPageDecodesToTheFile) {
    URLRequest request(nginx_->Base() + "/albums.html", "", 10000);
    request.headers = "Accept-Encoding: gzip, deflate";
    request.startMarker = "<body>";  // applied in GetText for compressed bodies
    request.endMarker = "</body>";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_TRUE(response.gzip);
    EXPECT_NE(response.rawHeaders.find("Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_LT(response.body.size(), page_.size() / 3);
    std::string text;
    response.GetText(text, kDecodeInflate | kDecodeUtf8);
    EXPECT_EQ("<html><body>" + text + "</body></html>", page_);
}

TEST_F(NginxFetchTest, PlainPageTrimmedWhileReading) {
    URLRequest request(nginx_->Base() + "/albums.html", "", 10000);
    request.startMarker = "data-id=\"3998\">";
    request.endMarker = "</body>";
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_FALSE(response.gzip);
    EXPECT_EQ(response.body, "相册 3998</li><li data-id=\"3999\">相册 3999</li>");
}

TEST_F(NginxFetchTest, RedirectChainReachesThePage) {
    URLRequest request(nginx_->Base() + "/old", "", 10000);
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, 0));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, page_);
}

TEST_F(NginxFetchTest, ImageSavedByteForByte) {
    URLRequest request(nginx_->Base() + "/photo.jpg", out_ / "photo.jpg", 10000);
    request.attempts = 2;
    FetchResponse response;
    ASSERT_TRUE(Fetch(request, response, kFetchWorker));
    std::ifstream in(out_ / "photo.jpg", std::ios::binary);
    const std::string saved(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(saved == image_);
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"photo.jpg"});

    URLRequest missing(nginx_->Base() + "/none.jpg", out_ / "none.jpg", 10000);
    missing.minSizeKiB = 1;
    missing.pauseSeconds = 0;
    EXPECT_FALSE(Fetch(missing, response, kFetchWorker));
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"photo.jpg"});
}

}  // namespace
}  // namespace brenvik
