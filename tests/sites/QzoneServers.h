// Local HTTPS servers playing Qzone: the route service, the album list hosts, the photo
// list and view hosts, and two image hosts. Pages are built from the markers the Qzone
// adapters read, in GBK or UTF-8, gzip or plain, as the real services send them.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "sites/Qzone.h"
#include "support/TestServer.h"

namespace brenvik::test {

struct QzonePhoto {
    std::string name;
    std::string desc;
    std::string raw;  // full-size address ("" to use origin_url)
    std::string originUrl;
    bool rawUpload = false;
    std::string pre;  // preview address
};

struct QzoneAlbum {
    std::string id;
    std::string name;
    std::string priv;  // "1" public, "3" private, "5" encrypted
    std::vector<QzonePhoto> photos;
    int pages = 1;  // pages of the photo list that carry the photos (ids get "_page")
};

class QzoneServers {
  public:
    static constexpr const char* kQq = "12345";
    static constexpr const char* kSkey = "@abcSKEY";

    QzoneServers() : server(/*https=*/true) {
        server.On("r.qzone.qq.com", "/GetRoute",
                  [this](const httplib::Request&, httplib::Response& res) {
                      if (routeDown) {
                          res.status = 503;
                          return;
                      }
                      res.set_content(RouteAnswer(), "application/json");
                  });
        server.On("user.qzone.qq.com", "/q/route.store/GetRoute",
                  [this](const httplib::Request&, httplib::Response& res) {
                      ++fallbackRouteRequests;
                      res.set_content(RouteAnswer(), "application/json");
                  });
        server.On(
            "alist.photo.qq.com", "/fcgi-bin/fcg_list_album_v2",
            [this](const httplib::Request& req, httplib::Response& res) { AlbumListV2(req, res); });
        for (const char* host : {"alist.photo.qq.com", "xalist.photo.qq.com"}) {
            server.On(host, "/fcgi-bin/fcg_list_album_v3",
                      [this, host](const httplib::Request& req, httplib::Response& res) {
                          Record(v3Hosts, host);
                          if (std::string(host) == "alist.photo.qq.com" && v3FirstPassEmpty) {
                              res.set_content("shine1_Callback({\"code\":0,\"data\":{}})",
                                              "text/plain");
                              return;
                          }
                          res.set_content("shine1_Callback(" + AlbumsJson(req) + ")",
                                          "application/x-javascript; charset=utf-8");
                      });
        }
        server.On("szplist.photo.qq.com", "/fcgi-bin/cgi_list_photo",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      PhotoList(req, res, "topicId");
                  });
        server.On("sznu.photo.qq.com", "/cgi-bin/common/cgi_view_album_v2",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      PhotoList(req, res, "albumId");
                  });
        server.On("user.qzone.qq.com", "/p/plist.photo/fcgi-bin/cgi_list_photo",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      ++plistRequests;
                      PhotoList(req, res, "topicId");
                  });
        for (const char* host : {"b1.qpic.cn", "a1.qpic.cn"}) {
            for (const char* path : {"/img", "/r/img", "/b/img"}) {
                server.On(host, path, [this](const httplib::Request& req, httplib::Response& res) {
                    const std::string id = req.get_param_value("id");
                    ++imageRequests;
                    server.Stall(std::chrono::milliseconds(imageDelayMs.load()));
                    if (brokenImages.count(id)) {
                        res.status = 404;
                        res.set_content("not found", "text/html");
                        return;
                    }
                    res.set_content(ImageBytes(id), "image/jpeg");
                });
            }
        }
    }

    static std::string ImageBytes(const std::string& id) {
        std::string bytes = "\xFF\xD8\xFF\xE0 image " + id + " ";
        bytes.resize(3000, 'q');
        return bytes;
    }
    // The login cookies a browser would hold after logging in to Qzone.
    static void PutLoginCookies() {
        CookieStore::Shared().Put(std::string(".qq.com\tTRUE\t/\tFALSE\t0\tskey\t") + kSkey);
        CookieStore::Shared().Put(".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345");
    }

    std::string Image(const std::string& host, const std::string& id) const {
        return "https:\\/\\/" + host + "\\/img?id=" + id;
    }

    // Connect-to rules for every host the adapters reach.
    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const char* host :
             {"r.qzone.qq.com", "user.qzone.qq.com", "alist.photo.qq.com", "xalist.photo.qq.com",
              "szplist.photo.qq.com", "sznu.photo.qq.com", "b1.qpic.cn", "a1.qpic.cn"}) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }

    std::string RouteAnswer() const {
        return "{\"idcno\":\"10\",\"xa\":{\"nu\":\"xanu.photo.qq.com\",\"p\":\"xanewp.photo.qq."
               "com\","
               "\"s\":\"xastatic.photo.qq.com\"},\"default\":\"sz\",\"sz\":{\"nu\":\"sznu.photo.qq."
               "com\","
               "\"p\":\"sznewp.photo.qq.com\",\"s\":\"szstatic.photo.qq.com\"}}";
    }

    // The list services answer only the owner's own pages: the token of the login, and the
    // owner's home page as Referer.
    bool LoggedInFromHome(const httplib::Request& req) const {
        return req.get_param_value("g_tk") == std::to_string(QzoneToken(kSkey)) &&
               req.get_header_value("Referer") ==
                   "https://user.qzone.qq.com/" + (req.has_param("hostUin")
                                                       ? req.get_param_value("hostUin")
                                                       : std::string(kQq));
    }

    std::string AlbumsJson(const httplib::Request& req) const {
        if (!LoggedInFromHome(req)) {
            return "{\"code\":-3000,\"msg\" : \"对不起，您需要登录\"}";
        }
        std::string json = "{\"code\":0,\"data\":{\"albumList\":[";
        for (const auto& album : albums) {
            json += "{\"id\" : \"" + album.id + "\", \"name\" : \"" + album.name +
                    "\", \"pre\" : \"https:\\/\\/a1.qpic.cn\\/cover\\/" + album.id +
                    "\", \"priv\" : " + album.priv +
                    ", \"total\" : " + std::to_string(album.photos.size()) +
                    ", \"createtime\" : 1},";
        }
        return json + "{\"id\" : \"nameless\", \"pre\" : \"x\", \"priv\" : 1, \"total\" : 0,}]}}";
    }

    void AlbumListV2(const httplib::Request& req, httplib::Response& res) {
        ++v2Requests;
        if (throttle) {
            res.set_content(
                ToGbk(
                    "_Callback({\"code\":-1,\"msg\" : \"对不起，您的操作过于频繁，请稍后再试\"})"),
                "application/x-javascript");
            return;
        }
        if (v2Empty) {
            // A body that decodes to no text at all.
            res.set_content(std::string(1, '\0'), "text/plain");
            return;
        }
        const std::string text = "_Callback(" + AlbumsJson(req) + ")";
        const std::string body = v2Utf8 ? text : ToGbk(text);
        if (req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos) {
            res.set_header("Content-Encoding", "gzip");
            res.set_content(Gzip(body), "application/x-javascript");
        } else {
            res.set_content(body, "application/x-javascript");
        }
    }

    const QzoneAlbum* FindAlbum(const std::string& id) const {
        for (const auto& album : albums) {
            if (album.id == id) {
                return &album;
            }
        }
        return nullptr;
    }

    void PhotoList(const httplib::Request& req, httplib::Response& res, const char* idKey) {
        const QzoneAlbum* album = FindAlbum(req.get_param_value(idKey));
        Record(pageStarts, req.has_param("pageStart") ? req.get_param_value("pageStart") : "view");
        if (!album || !LoggedInFromHome(req) ||
            req.get_param_value("uin").find('o') != std::string::npos) {
            res.set_content("shine0_Callback({\"code\":-1})", "text/plain");
            return;
        }
        if (album->priv == "5" && !passwordGiven) {
            res.set_content(
                ToGbk("shine0_Callback({\"code\":-4404,\"message\":\"对不起，您需要输入密码\"})"),
                "text/plain");
            return;
        }
        const int start =
            req.has_param("pageStart") ? std::stoi(req.get_param_value("pageStart")) : 0;
        const int page = start / (req.get_param_value("pageNum") == "400" ? 400 : 500);
        std::string json = "shine0_Callback({\"code\":0,\"data\":{\"photoList\":[";
        if (page < album->pages) {
            const std::string mark = page == 0 ? "" : "_" + std::to_string(page);
            for (const auto& p : album->photos) {
                json += "{\"batchId\" : \"1\", \"name\" : \"" + p.name + mark +
                        "\", \"desc\" : \"" + p.desc +
                        "\", \"raw_upload\" : " + (p.rawUpload ? "1" : "0") + ", \"raw\" : \"" +
                        p.raw + (p.raw.empty() ? "" : mark) + "\", \"origin_url\" : \"" +
                        p.originUrl + "\", \"pre\" : \"" + p.pre + mark + "\"},";
            }
        }
        res.set_content(ToGbk(json + "]}})"), "application/x-javascript");
    }

    void Record(std::vector<std::string>& into, const std::string& what) {
        std::lock_guard lock(mutex);
        into.push_back(what);
    }
    std::vector<std::string> Recorded(const std::vector<std::string>& from) {
        std::lock_guard lock(mutex);
        return from;
    }

    TestServer server;
    std::mutex mutex;
    std::vector<QzoneAlbum> albums;
    std::set<std::string> brokenImages;
    std::atomic<int> imageDelayMs{0};
    std::atomic<int> imageRequests{0};
    std::atomic<int> v2Requests{0};
    std::atomic<int> plistRequests{0};
    std::atomic<int> fallbackRouteRequests{0};
    std::vector<std::string> v3Hosts;
    std::vector<std::string> pageStarts;
    bool routeDown = false;
    bool throttle = false;
    bool v2Empty = false;
    bool v2Utf8 = false;  // the version-2 album list in UTF-8 instead of GBK
    bool v3FirstPassEmpty = false;
    bool passwordGiven = false;
};

}  // namespace brenvik::test
