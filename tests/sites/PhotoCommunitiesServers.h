// One local HTTPS server playing the six gallery sites (56, poco, yupoo, 51, duitang,
// huaban) and their image hosts. Pages are built from the markers the adapters read and
// sent in GBK, gzip-compressed where a site compresses. Image hosts check the Referer a
// site demands and count every request, so tests see what was fetched and how often.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/TextKit.h"
#include "support/TestServer.h"

namespace brenvik::test {

class CommunityServers {
  public:
    CommunityServers() : server(/*https=*/true) {
        Serve56();
        ServePoco();
        ServeYupoo();
        Serve51();
        ServeDuitang();
        ServeHuaban();
        for (const char* host : kImageHosts) {
            server.On(host, "*", [this, host](const httplib::Request& req, httplib::Response& res) {
                Image(host, req, res);
            });
        }
    }

    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const char* host : {"photo.56.com", "www.poco.cn", "www.yupoo.com", "home.51.com",
                                 "www.duitang.com", "huaban.com"}) {
            routes.push_back(server.RouteFor(host));
        }
        for (const char* host : kImageHosts) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }

    static std::string ImageBytes(const std::string& address) {
        std::string bytes = "\xFF\xD8\xFF\xE0 " + address + " ";
        bytes.resize(1500, 'i');
        return bytes;
    }

    // How often each image address ("host/path") was asked for.
    std::map<std::string, int> ImageRequests() {
        std::lock_guard lock(mutex);
        return images;
    }
    std::vector<std::string> HuabanMax() {
        std::lock_guard lock(mutex);
        return huabanMax;
    }
    std::vector<std::string> BadReferers() {
        std::lock_guard lock(mutex);
        return badReferers;
    }
    std::vector<std::chrono::steady_clock::time_point> DuitangListTimes() {
        std::lock_guard lock(mutex);
        return duitangListTimes;
    }

    TestServer server;
    std::mutex mutex;
    std::map<std::string, int> images;
    std::vector<std::string> badReferers;
    std::vector<std::chrono::steady_clock::time_point> duitangListTimes;
    std::vector<std::string> huabanMax;

  private:
    static constexpr const char* kImageHosts[] = {"img.56.com",      "img.poco.cn",
                                                  "pic.yupoo.com",   "img.51.com",
                                                  "img.duitang.com", "hbimg.huabanimg.com"};

    enum Charset { kGbk, kUtf8 };
    static const char* ContentType(Charset charset) {
        return charset == kGbk ? "text/html; charset=gbk" : "application/json; charset=utf-8";
    }

    // In the site's character set, compressed when asked for and the site compresses.
    static void Reply(const httplib::Request& req, httplib::Response& res, const std::string& text,
                      bool gzip, Charset charset = kGbk) {
        const std::string body = charset == kGbk ? ToGbk(text) : text;
        if (gzip && req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos) {
            res.set_header("Content-Encoding", "gzip");
            res.set_content(Gzip(body), ContentType(charset));
            return;
        }
        // Keep the test server from compressing a page the site sends plain.
        const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        res.set_content(body, ContentType(charset));
    }

    void NoteReferer(const std::string& what, const httplib::Request& req,
                     const std::string& expected) {
        if (req.get_header_value("Referer") != expected) {
            std::lock_guard lock(mutex);
            badReferers.push_back(what + " got '" + req.get_header_value("Referer") + "'");
        }
    }

    void Image(const std::string& host, const httplib::Request& req, httplib::Response& res) {
        const std::string address = host + req.path;
        {
            std::lock_guard lock(mutex);
            ++images[address];
        }
        // 56 and 51 refuse pictures asked for without their page as Referer.
        std::string referer;
        if (host == "img.56.com") {
            // "/p/<album>/<page>/<n>.jpg" shows on that album's photo page.
            Pieces parts;
            SplitAll(req.path, "/", parts);
            referer =
                "https://photo.56.com/photo/album/?do=Plist&did=" + parts[2] + "&page=" + parts[3];
        } else if (host == "img.51.com") {
            // "/b/<album>/<n>.jpg"
            Pieces parts;
            SplitAll(req.path, "/", parts);
            referer = "https://home.51.com/carol/photo/album/" + parts[2];
        }
        if (!referer.empty() && req.get_header_value("Referer") != referer) {
            NoteReferer(address, req, referer);
            res.status = 403;
            res.set_content("forbidden", "text/html");
            return;
        }
        res.set_content(ImageBytes(address), "image/jpeg");
    }

    // --- 56: albums A1 and A2 on page 1, A3 on every later page (the site repeats its
    // last page, next-page link included) -----------------------------------------------
    void Serve56() {
        server.On(
            "photo.56.com", "/photo/album/index.php",
            [](const httplib::Request& req, httplib::Response& res) {
                if (req.get_param_value("user") != "bob" ||
                    req.get_param_value("perPage") != "20") {
                    Reply(req, res, "<ul class=\"album_list\"></ul>", true);
                    return;
                }
                const bool first = req.get_param_value("page") == "1";
                std::string page = "<div class=\"album_list\"><ul>";
                const auto album = [](const std::string& id, const std::string& name, int count) {
                    return "<li><a onclick=\"chackAlbum('" + id +
                           "')\"><img src=\"https://img.56.com/c/" + id + ".jpg\" title=\"" + name +
                           "\"></a><i width=\"140\">" + std::to_string(count) + "</i></li>";
                };
                page += first ? album("A1", "旅行", 3) + album("A2", "../../逃逸", 1)
                              : album("A3", "家", 1);
                Reply(req, res, page + "</ul><a href=\"x\">下一页</a>", true);
            });
        server.On(
            "photo.56.com", "/photo/album/",
            [](const httplib::Request& req, httplib::Response& res) {
                const std::string did = req.get_param_value("did");
                const std::string p = req.get_param_value("page");
                // Every page after the first is the second page again.
                const std::string shownOn = p == "1" ? "1" : "2";
                const auto photo = [&](const std::string& n, const std::string& label) {
                    return "<div class=\"img\"><img src='https://img.56.com/p/" + did + "/" +
                           shownOn + "/" + n + ".jpg'><label><b>" + label + "</b></label></div>";
                };
                std::string page;
                if (did == "A1") {
                    page = p == "1" ? photo("1", "晴天") + photo("2", "阴天") : photo("3", "雨天");
                    page += "<a href=\"y\">下一页</a>";
                } else if (did == "A2") {
                    page = photo("1", "../../../出界");
                }
                Reply(req, res, page, true);
            });
    }

    // --- poco: albums h1, h2 (password) on page 1, h3 on page 2; plain GBK -------------
    void ServePoco() {
        server.On("www.poco.cn", "*", [](const httplib::Request& req, httplib::Response& res) {
            const std::string& path = req.path;
            const auto album = [](const std::string& kind, const std::string& hash,
                                  const std::string& name) {
                return "<div class=\"img_box\"><a onclick=\"show('" + kind + "', '" + hash +
                       "')\"><img src=\"https://img.poco.cn/" + hash + "_cover_165.jpg\" title=\"" +
                       name + "\"></a></div>";
            };
            std::string page;
            if (path == "/album/album_show_all.htx&user_id=42&p=1") {
                page = "<script>{userName:'摄影师'}</script>" + album("open", "h1", "海边") +
                       album("pwd", "h2", "私人") + "<a title=\"下一页\">&gt;</a>";
            } else if (path == "/album/album_show_all.htx&user_id=42&p=2") {
                page = album("open", "h3", "山");
            } else if (path == "/act/act_list.htx&user_id=42&act_type_id=0&p=1") {
                page =
                    "{userName:'摄影师'}<h3 class=\"title\"><a href=\"/act/post-1.html\">帖一</a>"
                    "</h3><h3 class=\"title\"><a href=\"/act/post-2.html\">帖二</a></h3>";
            } else if (path == "/act/post-1.html") {
                page =
                    "<img src='https://img.poco.cn/post1_small.jpg'>"
                    "{originPhoto:'https://img.poco.cn/post1_a.jpg'},"
                    "{originPhoto:'https://img.poco.cn/post1_b.jpg'}";
            } else if (path == "/act/post-2.html") {
                page = "<img src='https://img.poco.cn/post2_a.jpg'>";
            } else if (path == "/album/album_show_photo_list.php") {
                const std::string hash = req.get_param_value("set_hash");
                const std::string p = req.get_param_value("p");
                const auto photo = [&](const std::string& n, const std::string& title) {
                    return "<li class=\"img_box\"><img src=\"https://img.poco.cn/" + hash + "_" +
                           n + "_165.jpg\" title=\" " + title + " \"></li>";
                };
                if (hash == "h1") {
                    page = p == "1"
                               ? photo("1", "浪") + photo("2", "") + "<a title=\"下一页\">&gt;</a>"
                               : photo("3", "沙");
                } else if (hash == "h3") {
                    page = photo("1", "峰");
                }
            }
            Reply(req, res, page, false);
        });
    }

    // --- yupoo: bob's albums 11 and 12 (one layout), 13 (the other) --------------------
    void ServeYupoo() {
        server.On(
            "www.yupoo.com", "*", [this](const httplib::Request& req, httplib::Response& res) {
                const std::string& path = req.path;
                const std::string list = "/photos/bob/albums/";
                std::string page;
                if (path == list + "page1/" || path == list + "page2/" || path == list + "page3/") {
                    NoteReferer("yupoo list", req, "https://www.yupoo.com" + list);
                    page = "<title>又拍网 - bob的相册</title><div id=\"albumsList\">";
                    if (path == list + "page1/") {
                        page +=
                            "<div class=\"set-case\"><a href=\"/photos/bob/albums/11/\"><img "
                            "src_data=\"https://pic.yupoo.com/bob/c11/square.jpg\" alt=\"春天\"/>"
                            "</a><b>3</b></div><div class=\"set-case\"><a href=\"/photos/bob/"
                            "albums/12/\"><img "
                            "src_data=\"https://pic.yupoo.com/bob/c12/square.jpg\" "
                            "alt=\"夏天\"/></a><b>1</b></div>";
                    } else if (path == list + "page2/") {
                        page +=
                            "<li class=\"SetCase\"><a href=\"/photos/bob/albums/13/\"><img "
                            "src=\"https://pic.yupoo.com/bob/c13/square.jpg\" alt=\"秋天\"/></a>"
                            "<strong>0</strong></li>";
                    }
                    page +=
                        "</div><div id=\"footer\"></div><div class=\"set-case\"><a "
                        "href=\"/never/\">";
                } else if (path.starts_with(list) && path.ends_with("/zoom/original/")) {
                    const std::string album = path.substr(list.size(), 2);
                    NoteReferer("yupoo zoom", req, "https://www.yupoo.com" + list + album + "/");
                    const std::string id = path.substr(list.size() + 3, 2);
                    page =
                        "<img src=\"https://pic.yupoo.com/logo.png\"><a>原图</a><img src=\"https://"
                        "pic.yupoo.com/bob/" +
                        id + "/small.jpg\"><script>{title:'题" + id + "', description:'" +
                        (id == "p2" ? "" : "图" + id) + "'}</script>";
                } else if (path.starts_with(list + "11/page") ||
                           path.starts_with(list + "12/page")) {
                    const std::string album = path.substr(list.size(), 2);
                    NoteReferer("yupoo photos", req, "https://www.yupoo.com" + list + album + "/");
                    const bool first = path.starts_with(list + album + "/page1/");
                    if (album == "11") {
                        // Every page after the first repeats the second.
                        page =
                            first
                                ? "<p class=\"adescription\">春天的<br />照片</p>photos['p1'] = {};"
                                  "photos['p2'] = {};"
                                : "photos['p3'] = {};";
                    } else if (first) {
                        page = "photos['p4'] = {};";
                    }
                }
                Reply(req, res, page, true);
            });
    }

    // --- 51: carol's albums 7 and 8; 9 whose data view and 6 whose album page are always
    // busy (with content behind the busy text that must not be used) ------------------
    void Serve51() {
        server.On(
            "home.51.com", "/carol/photo", [](const httplib::Request& req, httplib::Response& res) {
                std::string page = "<div class=\"p_main\">";
                for (const auto& [id, name] : std::vector<std::pair<std::string, std::string>>{
                         {"7", "旅行"}, {"8", "聚会"}, {"9", "忙"}, {"6", "挤"}}) {
                    page += "<div class=\"pic\">" + name + "</div><a href=\"/carol/photo/album/" +
                            id + "\"><img src=\"https://img.51.com/c/" + id + ".jpg\"></a>(共2张)";
                }
                Reply(req, res, page, true);
            });
        server.On("home.51.com", "*", [](const httplib::Request& req, httplib::Response& res) {
            const std::string album = "/carol/photo/album/";
            if (req.path.starts_with(album)) {
                const std::string id = req.path.substr(album.size());
                Reply(req, res,
                      std::string(id == "6" ? "<p>请稍候再试</p>" : "") +
                          "<ul class=\"photo_item_list\"><a href=\"/carol/item/" + id +
                          "001.htm\">",
                      true);
            }
        });
        server.On("home.51.com", "/carol/photo/getdataview/",
                  [](const httplib::Request& req, httplib::Response& res) {
                      const std::string id = req.get_param_value("id");
                      const std::string album = id.substr(0, 1);
                      std::string rows = "{\"rows\":[";
                      for (const char* n : {"1", "2"}) {
                          rows += "{\"photo_id\":" + std::string(n) + ",\"photo_name\":\"\\u56fe" +
                                  n + "\",\"big_photo\":\"https:\\/\\/img.51.com\\/b\\/" + album +
                                  "\\/" + n + ".jpg\"},";
                      }
                      Reply(req, res, (id == "9001" ? "系统繁忙，请稍候再试" : "") + rows + "]}",
                            true);
                  });
    }

    // --- duitang: user 77's albums 55, 56 (page 1) and 57 (page 2) ---------------------
    void ServeDuitang() {
        server.On("www.duitang.com", "/people/",
                  [](const httplib::Request& req, httplib::Response& res) {
                      const bool known = req.get_param_value("user_id") == "77";
                      Reply(req, res,
                            "<div class=\"dt-header-btm\"><a href=\"/people/?user_id=" +
                                std::string(known ? "77" : "") + "\">主页</a></div>",
                            false, kUtf8);
                  });
        server.On("www.duitang.com", "/album/",
                  [](const httplib::Request& req, httplib::Response& res) {
                      Reply(req, res,
                            "<div class=\"dt-header-btm\"><a href=\"/people/?user_id=77\"></a>"
                            "</div><h1 class=\"album-title\">专辑" +
                                req.get_param_value("id") + "</h1><span class=\"count\">2个</span>",
                            false, kUtf8);
                  });
        server.On(
            "www.duitang.com", "*", [this](const httplib::Request& req, httplib::Response& res) {
                const std::string& path = req.path;
                std::string page;
                if (path.starts_with("/album/list/")) {
                    {
                        std::lock_guard lock(mutex);
                        duitangListTimes.push_back(std::chrono::steady_clock::now());
                    }
                    NoteReferer("duitang list", req, "https://www.duitang.com/people/?user_id=77");
                    const auto album = [](const std::string& id, const std::string& name) {
                        return "{\"like_count\":3,\"count\":2,\"pics\":[\"https://img.duitang.com/"
                               "c" +
                               id + ".thumb.224_0.jpeg\"],\"id\":" + id + ",\"name\":\"" + name +
                               "\"},";
                    };
                    if (path == "/album/list/1/24/") {
                        page = album("55", "猫") + album("56", "..\\\\狗");
                    } else if (path == "/album/list/2/24/") {
                        page = album("57", "鸟");
                    }
                    page = "{\"object_list\":[" + page + "]}";
                } else if (path.starts_with("/album/") &&
                           path.find("/masn/p/") != std::string::npos) {
                    const std::string album = path.substr(7, 2);
                    NoteReferer("duitang photos", req,
                                "https://www.duitang.com/album/" + album + "/");
                    const bool first = path.find("/masn/p/1/") != std::string::npos;
                    const auto photo = [&](const std::string& n) {
                        return "{\"photo_id\":" + n + ",\"isrc\":\"https://img.duitang.com/" +
                               album + "_" + n + ".thumb.700_0.jpeg\",\"msg\":\"图" + n + "\"},";
                    };
                    page = "{\"object_list\":[" + (first ? photo("1") : photo("2")) +
                           "],\"has_next\":" + (first ? "true" : "false") + "}";
                }
                Reply(req, res, page, true, kUtf8);
            });
    }

    // --- huaban: boards 900 and 901, pins after the board's own page --------------------
    void ServeHuaban() {
        const auto pins = [](const std::string& board, int from, int to) {
            std::string json = "\"pins\":[";
            for (int n = from; n <= to; ++n) {
                json += "{\"pin_id\":" + board + std::to_string(n) + ",\"file\":{\"key\":\"" +
                        board + "k" + std::to_string(n) + "\"},\"raw_text\":\"钉" +
                        std::to_string(n) + "\"},";
            }
            return json + "]";
        };
        server.On("huaban.com", "*",
                  [this, pins](const httplib::Request& req, httplib::Response& res) {
                      const std::string board = req.path.substr(8, 3);
                      if (req.path == "/boards/" + board) {
                          Reply(req, res,
                                "<script>app.page[\"board\"] = {\"board_id\":" + board +
                                    ",\"title\":\"画板" + board +
                                    "\",\"pin_count\":40,\"user\":{\"username\":\"花花\"}," +
                                    pins(board, 1, 2) + "};</script>",
                                false, kUtf8);
                          return;
                      }
                      NoteReferer("huaban pins", req, "https://huaban.com/boards/" + board + "/");
                      {
                          std::lock_guard lock(mutex);
                          huabanMax.push_back(req.get_param_value("max"));
                      }
                      // After pin 2 come 3 and 4, and the site repeats them for any later pin.
                      Reply(req, res, "{" + pins(board, 3, 4) + "}", true, kUtf8);
                  });
    }
};

}  // namespace brenvik::test
