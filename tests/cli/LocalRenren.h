// A Renren account played by local servers for the command-line tests of the address
// lists and the changed-site diagnostics: the site's pages over HTTPS under their real
// names, the pictures on a plain loopback server that only answers a request carrying
// the album's Referer and the picture host's cookie, as hot-link guards do.
#pragma once

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik::test {

inline std::string PictureBytes(const std::string& path) {
    std::string bytes = "\xFF\xD8\xFF\xE0" + path;
    bytes.resize(3000, 'p');
    return bytes;
}

class LocalRenren {
  public:
    static constexpr const char* kAlbumReferer = "https://photo.renren.com/photo/42/album-101/";

    LocalRenren() : site(/*https=*/true) {
        site.On("www.renren.com", "/zhangsan", [this](const auto& req, auto& res) {
            Note(req.path);
            res.set_content("<script>var profile_owner = 42;</script>", "text/html");
        });
        site.On("photo.renren.com", "*", [this](const httplib::Request& req, auto& res) {
            Note(req.path);
            if (const int status = Status(); status != 200) {
                res.status = status;
                return;
            }
            if (req.path.find("/albumlist/v7") != std::string::npos && !gzipList.empty()) {
                res.set_header("Content-Encoding", "gzip");
                res.set_content(gzipList, "text/html");
            } else if (req.path.find("/albumlist/v7") != std::string::npos) {
                res.set_content(listChanged ? ChangedPage() : AlbumList(), "text/html");
            } else if (req.path.find("/bypage/ajax/v7") != std::string::npos) {
                const bool first = req.get_param_value("page") == "1";
                res.set_content(photosChanged ? ChangedPage() : first ? Photos() : "", "text/html");
            } else {
                res.set_content(ChangedPage(), "text/html");
            }
        });
        pictures.On("127.0.0.1", "*", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            pictureRequests.push_back(req.path + " <- " + req.get_header_value("Referer") + " | " +
                                      req.get_header_value("Cookie"));
            if (req.get_header_value("Referer") != kAlbumReferer ||
                req.get_header_value("Cookie").find("pass=ok") == std::string::npos) {
                res.status = 403;
                return;
            }
            res.set_content(PictureBytes(req.path), "image/jpeg");
        });
    }

    // The picture address the photo list gives for photo i.
    std::string Picture(int i) const {
        return pictures.Base() + "/101/" + std::to_string(i) + ".jpg";
    }

    std::vector<std::string> Routes() const {
        return {site.RouteFor("www.renren.com"), site.RouteFor("photo.renren.com")};
    }

    // A cookies.txt with the login cookie and the picture host's cookie.
    void WriteCookies(const std::filesystem::path& file) const {
        std::ofstream out(file, std::ios::trunc);
        out << "# Netscape HTTP Cookie File\n"
            << ".renren.com\tTRUE\t/\tFALSE\t0\tt\trr0042\n"
            << "127.0.0.1\tFALSE\t/\tFALSE\t0\tpass\tok\n";
    }

    std::vector<std::string> Pages() {
        std::lock_guard lock(mutex);
        return pages;
    }
    std::vector<std::string> PictureRequests() {
        std::lock_guard lock(mutex);
        return pictureRequests;
    }
    void SetStatus(int status) {
        std::lock_guard lock(mutex);
        status_ = status;
    }

    // The markup the site answers with after a redesign: a page, but none of the markers.
    static std::string ChangedPage() {
        return "<html><body><div class=\"new-gallery\" data-v=\"2\">相册</div></body></html>";
    }

    bool listChanged = false;
    bool photosChanged = false;
    std::string gzipList;          // when set, the album list's compressed body as it is
    std::string firstPictureTail;  // site text appended to the first photo's address
    TestServer site;
    TestServer pictures;
    std::mutex mutex;
    std::vector<std::string> pages;
    std::vector<std::string> pictureRequests;

  private:
    std::string AlbumList() const {
        return "<html><head><title>人人网 - 张三的相册</title></head><script>nx.data = "
               "{'albumList': [{\"cover\":\"\",\"albumName\":\"旅行\",\"albumId\":\"101\","
               "\"sourceControl\":0,\"photoCount\":3,\"x\":1},{\"cover\":\"\",\"albumName\":"
               "\"家\",\"albumId\":\"102\",\"sourceControl\":0,\"photoCount\":1,\"x\":1},]};"
               "</script><script>var albumId = \"999\";</script></html>";
    }
    std::string Photos() const {
        std::string json = "{\"photoList\":[";
        for (int i = 0; i < 3; ++i) {
            std::string address = Picture(i) + (i == 0 ? firstPictureTail : "");
            std::string escaped;
            for (const char c : address) {
                escaped += c == '/' ? std::string("\\/") : std::string(1, c);
            }
            json += "{\"position\":" + std::to_string(i) + ",\"url\":\"" + escaped + "\"},";
        }
        return json + "]}";
    }
    void Note(const std::string& path) {
        std::lock_guard lock(mutex);
        pages.push_back(path);
    }
    int Status() {
        std::lock_guard lock(mutex);
        return status_;
    }
    int status_ = 200;
};

// brenvik-cli as a user runs it against the local Renren account: a data folder of its own,
// the account's cookies, a save path; the account's address comes last.
class LocalRenrenCliTest : public ::testing::Test {
  protected:
    LocalRenrenCliTest() { site.WriteCookies(home / "cookies-in.txt"); }
    std::vector<std::string> Command(std::vector<std::string> extra) const {
        extra.insert(extra.begin(),
                     {"--home", Data().string(), "--cookies", (home / "cookies-in.txt").string(),
                      "-o", save.Path().string()});
        extra.push_back("https://www.renren.com/zhangsan");
        return CliCommand(BRENVIK_CLI_PATH, site.Routes(), extra);
    }
    std::filesystem::path Data() const { return home / "data"; }
    std::filesystem::path Album() const { return save.Path() / "张三" / "旅行"; }

    LocalRenren site;
    TempDir home;
    TempDir save;
};

}  // namespace brenvik::test
