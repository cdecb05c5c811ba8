// One local HTTPS server playing ZOL albums, PChome, moko, babytree, PConline, Hupu and
// Instagram: their list pages, photo pages and picture hosts. Pages are built from the
// markers the adapters read and sent in each site's character set (GBK, Big5 or UTF-8).
// Pictures answer on every path and are recorded, so tests can tell which addresses
// were fetched.
#pragma once

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "net/TextKit.h"
#include "support/TestServer.h"

namespace brenvik::test {

// A name that tries to climb out of the save path.
inline constexpr const char* kHostileName = "../../逃出";

inline std::string PictureBytes(const std::string& where) {
    std::string bytes = "\xFF\xD8\xFF\xE0 " + where + " ";
    bytes.resize(2048, 'p');
    return bytes;
}

inline std::string ToBig5(const std::string& utf8) {
    iconv_t cd = iconv_open("BIG5", "UTF-8");
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

enum class Charset { Utf8, Gbk, Big5 };

class GalleryServers {
  public:
    static constexpr const char* kHupuCookie = "hupu_login=ok";

    GalleryServers() : server(/*https=*/true) {
        On("bbs.zol.com.cn", [this](const auto& req, auto& res) { Zol(req, res); });
        On("photo.pchome.com.tw", [this](const auto& req, auto& res) { Pchome(req, res); });
        On("www.moko.cc", [this](const auto& req, auto& res) { Moko(req, res); });
        On("home.babytree.com", [this](const auto& req, auto& res) { BabytreeJson(req, res); });
        On("www.babytree.com", [this](const auto& req, auto& res) { BabytreePages(req, res); });
        On("photo.pconline.com.cn", [this](const auto& req, auto& res) { Pconline(req, res); });
        On("my.hupu.com", [this](const auto& req, auto& res) { Hupu(req, res); });
        On("www.instagram.com", [this](const auto& req, auto& res) { Instagram(req, res); });
        for (const char* host : PictureHosts()) {
            On(host, [](const httplib::Request& req, httplib::Response& res) {
                res.set_content(PictureBytes(req.path), "image/jpeg");
            });
        }
    }

    static std::vector<const char*> PageHosts() {
        return {"bbs.zol.com.cn",   "photo.pchome.com.tw",   "www.moko.cc", "home.babytree.com",
                "www.babytree.com", "photo.pconline.com.cn", "my.hupu.com", "www.instagram.com"};
    }
    static std::vector<const char*> PictureHosts() {
        return {"img.zol.com.cn",           "img.moko.cc", "pic.babytree.com",
                "img.pconline.com.cn",      "i1.hupu.com", "scontent.instagram.com",
                "photos-a.ak.instagram.com"};
    }
    std::vector<std::string> Routes() const {
        std::vector<std::string> routes;
        for (const char* host : PageHosts()) {
            routes.push_back(server.RouteFor(host));
        }
        for (const char* host : PictureHosts()) {
            routes.push_back(server.RouteFor(host));
        }
        return routes;
    }

    // "host/path" of every picture request (PChome pictures live on its page host).
    std::multiset<std::string> PicturesFetched() const {
        std::multiset<std::string> fetched;
        const auto hosts = PictureHosts();
        for (const auto& r : server.Requests()) {
            const bool pictureHost = std::find(hosts.begin(), hosts.end(), r.host) != hosts.end();
            if (pictureHost || (r.host == "photo.pchome.com.tw" && r.path.ends_with(".jpg"))) {
                fetched.insert(r.host + r.path);
            }
        }
        return fetched;
    }
    std::vector<std::string> PagesOf(const std::string& host) const {
        std::vector<std::string> pages;
        for (const auto& r : server.Requests()) {
            if (r.host == host) {
                pages.push_back(r.path);
            }
        }
        return pages;
    }

    TestServer server;
    bool repeatPages = false;  // every page number answers with page 1
    bool hupuMaintenance = false;
    std::atomic<int> zolPages{0};
    std::set<std::string> zolBrokenPages;  // answered with an empty page

  private:
    using Req = httplib::Request;
    using Res = httplib::Response;

    void On(const char* host, Handler handler) { server.On(host, "*", std::move(handler)); }

    static void Send(Res& res, const std::string& page, Charset charset, bool gzip = false) {
        std::string bytes = charset == Charset::Gbk    ? ToGbk(page)
                            : charset == Charset::Big5 ? ToBig5(page)
                                                       : page;
        const char* type = charset == Charset::Gbk    ? "text/html; charset=GBK"
                           : charset == Charset::Big5 ? "text/html; charset=big5"
                                                      : "text/html; charset=utf-8";
        if (gzip) {
            res.set_header("Content-Encoding", "gzip");
            bytes = Gzip(bytes);
        }
        res.set_content(bytes, type);
    }
    int PageNumber(int page) const { return repeatPages ? 1 : page; }

    // --- ZOL: "/<user>/album_<p>.html", album pages "<key><p>.html" ---------------------
    void Zol(const Req& req, Res& res) {
        ++zolPages;
        const std::string& path = req.path;
        if (zolBrokenPages.count(path)) {
            res.set_content("", "text/html");
            return;
        }
        if (path.starts_with("/dan/album_")) {
            const int page = PageNumber(std::stoi(path.substr(11)));
            std::string html = "<html><title>丹丹的全部相册</title><ul>";
            if (page == 1) {
                html +=
                    "<li id=\"pic_1\"><a href=\"/dan/photo_11_1.html\" title=\"春天\"><img "
                    "src=\"https://img.zol.com.cn/cover/11.jpg\"></a><span class=\"K_11\">3张"
                    "</span></li><li id=\"pic_0\"><a title=\"无地址\"></a></li>";
                html += "</ul><a class=\"nor\">下一页</a>";
            } else if (page == 2) {
                html += std::string("<li id=\"pic_2\"><a href=\"/dan/photo_12_1.html\" title=\"") +
                        kHostileName +
                        "\"><img src=\"https://img.zol.com.cn/cover/12.jpg\"></a><span "
                        "class=\"K_11\">1张</span></li></ul>";
            }
            Send(res, html + "</html>", Charset::Gbk, /*gzip=*/true);
            return;
        }
        std::string html = "<div>";
        if (path == "/dan/photo_11_1.html") {
            html +=
                "<li id=\"pic_a\"><img src=\"https://img.zol.com.cn/t_s120x90/g1/a1_120x90.jpg\" "
                "title=\"花\"></li><li id=\"pic_b\"><img "
                "src=\"https://img.zol.com.cn/t_s120x90/g1/a2_120x90.jpg\" title=\"\"></li>"
                "<a class=\"nor\">下一页</a>";
        } else if (path == "/dan/photo_11_2.html") {
            html += "<li id=\"pic_c\"><img src=\"https://img.zol.com.cn/g1/a3.jpg\" title=\"草\">";
        } else if (path == "/dan/photo_12_1.html") {
            html +=
                "<li id=\"pic_d\"><img src=\"https://img.zol.com.cn/t_s60x60/g2/b1_60x60.png\" "
                "title=\"/etc/passwd\">";
        }
        Send(res, html + "</div>", Charset::Gbk);
    }

    // --- PChome (Big5): "/<user>*<p>", album pages "<key>*<p>" -------------------------
    void Pchome(const Req& req, Res& res) {
        const std::string& path = req.path;
        if (path.ends_with(".jpg")) {
            res.set_content(PictureBytes(path), "image/jpeg");
            return;
        }
        if (path.starts_with("/ellen*")) {
            const int page = PageNumber(std::stoi(path.substr(7)));
            std::string html = "<body>";
            if (page == 1) {
                html +=
                    "<div class=\"MarkSet\"><a href=\"/ellen/album1\"><script>Img[/ellen/a1/"
                    "cover.jpg]</script><span>旅遊</span> 共3張</a></div>"
                    "<a href=\"/ellen*2\">下一頁&gt;</a>";
            } else if (page == 2) {
                html += std::string("<div class=\"MarkSet\"><a href=\"/ellen/album2\"><span>") +
                        kHostileName + "</span> 共1張</a></div>";
            }
            html +=
                "<div id=\"MainListSection\"></div><div class=\"MarkSet\"><a "
                "href=\"/ellen/hidden\"><span>不是相簿</span></a></div>";
            Send(res, html + "</body>", Charset::Big5);
            return;
        }
        std::string items;
        if (path == "/ellen/album1*1") {
            items =
                "{Icon:'/ellen/a1/p1s.jpg',PK:101,DataSet[日出]'},"
                "{Icon:'/ellen/a1/p2s.jpg',PK:102,DataSet[]'}";
        } else if (path == "/ellen/album1*2") {
            items = "{Icon:'/ellen/a1/p3s.jpg',PK:103,DataSet[夕陽]'}";
        } else if (path == "/ellen/album2*1") {
            items = "{Icon:'/ellen/a2/q1s.jpg',PK:201,DataSet[..\\..\\壞]'}";
        }
        std::string html = "<script>var PhotoList = [" + items + "]; var PageInfo = {};</script>";
        if (path == "/ellen/album1*1") {
            html += "<a href=\"/ellen/album1*2\">下一頁&gt;</a>";
        }
        Send(res, html, Charset::Big5);
    }

    // --- moko: user page, category lists "<list>/<p>.html", album pages ----------------
    void Moko(const Req& req, Res& res) {
        const std::string& path = req.path;
        std::string html;
        if (path == "/post/kate/list.html") {
            html =
                "<div class=\"imgUserLogo\"><img title=\"Kate's home\"></div>"
                "<div class=\"mwC\"><a href=\"/post/kate/category/1/1.html\">作品</a>"
                "<a href=\"/post/kate/new/1.html\">最新</a></div><div class=\"sBox\">"
                "<a href=\"/post/kate/category/99/1.html\">never</a></div>";
        } else if (path.starts_with("/post/kate/category/1/")) {
            const int page = PageNumber(std::stoi(path.substr(22)));
            html = "<title>Kate's 作品</title>";
            if (page == 1) {
                html +=
                    "<div class=\"show\"><a href=\"/post/kate/1001.html\" title=\"海边\"><img "
                    "src=\"https://img.moko.cc/thumb/c1001.jpg\" src2=\"https://img.moko.cc/c/"
                    "1001.jpg\"></a><span class=\"mC\">2</span></div>"
                    "<a href=\"/post/kate/category/1/2.html\" class=\"b bC\">&gt;</a>";
            } else if (page == 2) {
                html += std::string(
                            "<li class=\"twShow\"><a href=\"/post/kate/1002.html\" "
                            "title=\"") +
                        kHostileName +
                        "\"><img src2=\"https://img.moko.cc/c/1002.jpg\"/>(1)</a></li>";
            }
        } else if (path.starts_with("/post/kate/new/")) {
            html = "<title>Kate's 最新</title><p>nothing yet</p>";
        } else if (path == "/post/kate/1001.html") {
            html =
                "<div class=\"picBox\"><img src=\"https://img.moko.cc/thumb/1.jpg\" "
                "src2=\"https://img.moko.cc/big/1.jpg\"></div><div class=\"picBox\"><img "
                "src=\"https://img.moko.cc/thumb/2.jpg\" src2=\"https://img.moko.cc/big/2.jpg\">"
                "</div>";
        } else if (path == "/post/kate/1002.html") {
            html = "<div class=\"picBox\"><img src2=\"https://img.moko.cc/big/3.jpg\"></div>";
        }
        Send(res, html, Charset::Utf8);
    }

    // --- babytree JSON form: "/<user>/photo/list?pg=", "/<user>/albumAjax/<id>?format=json"
    void BabytreeJson(const Req& req, Res& res) {
        const std::string& path = req.path;
        if (path == "/u42/photo/list") {
            const int page = PageNumber(std::stoi(req.get_param_value("pg")));
            std::string html = "<title>小宝的相册</title><script>var album_list = [";
            if (page == 1) {
                html +=
                    "{\"id\":501,\"title\":\"\\u6625\\u5929\",\"album_url\":\"https:\\/\\/"
                    "home.babytree.com\\/u42\\/album\\/501\",\"sum\":2,\"x\":\"\",\"cover_url\":"
                    "\"https:\\/\\/pic.babytree.com\\/c\\/501.jpg\"}";
            } else if (page == 2) {
                html += std::string("{\"id\":502,\"title\":\"") + kHostileName +
                        "\",\"album_url\":\"https:\\/\\/home.babytree.com\\/u42\\/album\\/"
                        "502\",\"sum\":1,\"x\":\"\"}";
            }
            html += "];</script><div class=\"pager\">";
            if (page == 1) {
                html += "<a href=\"?pg=2\">下一页</a>";
            }
            html +=
                "</div><span style=\"vertical-align:middle\"></span>"
                "<script>var album_list = [{\"id\":999,\"album_url\":\"never\"}]</script>";
            Send(res, html, Charset::Utf8, /*gzip=*/true);
            return;
        }
        if (path.starts_with("/u43/")) {
            Send(res, "<title>二宝的相册</title><p>没有相册</p>", Charset::Utf8);
            return;
        }
        std::string json = "{\"list\":[";
        const int page = PageNumber(std::stoi(req.get_param_value("pg")));
        if (path == "/u42/albumAjax/501" && page == 1) {
            json +=
                "{\"href\":\"x\",\"img\":\"https:\\/\\/pic.babytree.com\\/foto3\\/thumbs\\/"
                "2015\\/a_sm.jpg\",\"title\":\"\\u82b1\"},{\"href\":\"y\",\"img\":\"https:\\/\\/"
                "pic.babytree.com\\/thumbs\\/b_sm.jpg\",\"title\":\"\"}";
        } else if (path == "/u42/albumAjax/502" && page == 1) {
            json +=
                "{\"href\":\"z\",\"img\":\"https:\\/\\/pic.babytree.com\\/thumbs\\/c_sm.jpg\","
                "\"title\":\"\"}";
        }
        Send(res, json + "]} <div class=\"mytree-tooltips\">\"href\" img\":\"never\"</div>",
             Charset::Utf8);
    }

    // --- babytree page form: "/user/showuser.php?uid=u<id>&view=...", photo pages --------
    void BabytreePages(const Req& req, Res& res) {
        if (req.path == "/photo/detail") {
            const std::string id = req.get_param_value("id");
            // Without "show=big" the page would show the thumbnail only.
            const std::string picture = req.get_param_value("show") == "big"
                                            ? "https://pic.babytree.com/big/" + id + ".jpg"
                                            : "https://pic.babytree.com/t/" + id + "_s.jpg";
            Send(res, "<div><img src=\"" + picture + "\"></div>", Charset::Utf8);
            return;
        }
        if (req.get_param_value("uid") != "u43") {
            Send(res, "<title>错误</title>", Charset::Utf8);
            return;
        }
        const int page = PageNumber(std::stoi(req.get_param_value("pg")));
        std::string html = "<title>二宝的相册</title><ul>";
        if (req.get_param_value("view") == "album_list") {
            if (page == 1) {
                html +=
                    "<li class=\"thumb\"><a href=\"/user/showuser.php?uid=u43&amp;tab=photo&amp;"
                    "view=photo_list&amp;album_id=7\"><img src=\"https://pic.babytree.com/c/"
                    "7.jpg\"></a><strong>游玩</strong>(3)</li>";
            } else if (page == 2) {
                html += std::string(
                            "<li class=\"thumb\"><a href=\"/user/showuser.php?uid=u43&amp;"
                            "view=photo_list&amp;album_id=8\"><img src=\"x\"></a><strong>") +
                        kHostileName + "</strong>(1)</li>";
            }
        } else {
            const std::string album = req.get_param_value("album_id");
            if (album == "7" && page == 1) {
                html +=
                    "<li class=\"thumb\"><a href=\"/photo/detail?id=71#detail\"><img "
                    "src=\"https://pic.babytree.com/t/71_s.jpg\" alt=\"滑梯\"></a></li>"
                    "<li class=\"thumb\"><a href=\"/photo/detail?id=72#detail\"><img "
                    "src=\"https://pic.babytree.com/t/72_s.jpg\" alt=\"\"></a></li>";
            } else if (album == "7" && page == 2) {
                html +=
                    "<li class=\"thumb\"><a href=\"/photo/detail?id=73#detail\"><img "
                    "src=\"https://pic.babytree.com/t/73_s.jpg\" alt=\"秋千\"></a></li>";
            } else if (album == "8" && page == 1) {
                html +=
                    "<li class=\"thumb\"><a href=\"/photo/detail?id=81#detail\"><img "
                    "src=\"https://pic.babytree.com/t/81_s.jpg\" alt=\"\"></a></li>";
            }
        }
        html += "</ul><ul class=\"pager\">";
        if (page == 1) {
            html += "<li><a href=\"?pg=2\">&gt;</a></li>";
        }
        html +=
            "</ul><span style=\"vertical-align:middle;\"></span><li class=\"thumb\"><a "
            "href=\"/never\"><strong>never</strong></a></li>";
        Send(res, html, Charset::Utf8);
    }

    // --- PConline (GBK): "/<user>/myphoto_p<p>_n15.html", album pages ------------------
    void Pconline(const Req& req, Res& res) {
        const std::string& path = req.path;
        std::string html;
        if (path.starts_with("/pcuser/myphoto_p")) {
            const int page = PageNumber(std::stoi(path.substr(17)));
            html = "<title>【照片】老王_太平洋摄影部落</title>";
            if (page == 1) {
                html +=
                    "<div class=\"picbox\"><a href=\"https://photo.pconline.com.cn/photo/"
                    "1001.html\" title=\"秋\"><img src=\"https://img.pconline.com.cn/c/1001.jpg\">"
                    "</a></div><a href=\"/pcuser/myphoto_p2_n15.html\">下一页</a>";
            } else if (page == 2) {
                html += std::string("<div class=\"picbox\"><a href=\"/photo/1002.html\" title=\"") +
                        kHostileName + "\"><img src=\"x.jpg\"></a></div>";
            }
        } else if (path == "/photo/list_1001.html") {
            html =
                "<div class=\"picture\"><img src=\"https://img.pconline.com.cn/p/1_mthumb.jpg\">"
                "</div><div class=\"picture\"><img src=\"https://img.pconline.com.cn/p/"
                "2_mthumb.jpg\"></div><div class=\"artOutWrap\"><div class=\"picture\"><img "
                "src=\"https://img.pconline.com.cn/p/never.jpg\"></div>";
        } else if (path == "/photo/list_1002.html") {
            html =
                "<div class=\"picture\"><img src=\"https://img.pconline.com.cn/p/3_mthumb.jpg\">";
        }
        Send(res, html, Charset::Gbk);
    }

    // --- Hupu (GBK, login cookie): "/<user>/photo-<p>", "/<key>-<p>.html" ----------------
    void Hupu(const Req& req, Res& res) {
        const std::string& path = req.path;
        if (hupuMaintenance) {
            Send(res,
                 "<p>当前页面正在维护中</p><ul class=\"album_list\"><li><a href=\"/bob/photo/"
                 "a99.html\" title=\"x\"></a></li></ul>",
                 Charset::Gbk);
            return;
        }
        if (req.get_header_value("Cookie").find(kHupuCookie) == std::string::npos) {
            Send(res, "<p>请登录</p>", Charset::Gbk);
            return;
        }
        std::string html;
        if (path.starts_with("/bob/photo-")) {
            const int page = PageNumber(std::stoi(path.substr(11)));
            html = "<ul class=\"album_list\">";
            if (page == 1) {
                html +=
                    "<li><a href=\"/bob/photo/a11.html\" title=\"比赛\"><img "
                    "src=\"https://i1.hupu.com/c/11.jpg\"></a>(共3张)</li></ul>"
                    "<a id=\"j_next\" href=\"/bob/photo-2\">下一页</a>";
            } else if (page == 2) {
                html += std::string(
                            "<li><a href=\"https://my.hupu.com/bob/photo/a12-1.html\" "
                            "title=\"") +
                        kHostileName + "\"><img src=\"x\"></a>(共1张)</li></ul>";
            }
        } else if (path == "/bob/photo/a11.html") {
            html =
                "<div class=\"albumlist\"><img src=\"https://i1.hupu.com/c/11.jpg\" alt=\"比赛\">"
                "<span>共3张</span></div>";
        } else if (path == "/bob/photo/a11-1.html") {
            html =
                "<ul class=\"albumlist_list\"><li><img src=\"https://i1.hupu.com/p/11_1small.jpg\" "
                "title=\"扣篮\"></li><li><img src=\"https://i1.hupu.com/p/11_2small.jpg\" "
                "title=\"\"></li></ul><a class=\"next\">下一页</a>";
        } else if (path == "/bob/photo/a11-2.html") {
            html =
                "<ul class=\"albumlist_list\"><li><img src=\"https://i1.hupu.com/p/11_3small.jpg\" "
                "title=\"三分\"></li></ul>";
        } else if (path == "/bob/photo/a12-1.html") {
            html =
                "<ul class=\"albumlist_list\"><li><img src=\"https://i1.hupu.com/p/12_1small.jpg\" "
                "title=\"\"></li></ul>";
        }
        Send(res, html, Charset::Gbk);
    }

    // --- Instagram: the user page, then "/<user>/media?max_id=<cursor>" ---------------
    void Instagram(const Req& req, Res& res) {
        {
            std::lock_guard lock(mutex);
            instagramAgents.push_back(req.get_header_value("User-Agent"));
            instagramLanguages.push_back(req.get_header_value("Accept-Language"));
        }
        const std::string pic = "https:\\/\\/scontent.instagram.com\\/";
        std::string json;
        if (req.path == "/someone") {
            json =
                "<script>window._sharedData = {\"user\":{\"media\":{\"nodes\":[{\"comments\":"
                "{\"count\":1},\"caption\":\"\\u6d77\",\"display_src\":\"" +
                pic + "hphotos-xaf1\\/t51\\/1.jpg\"},{\"comments\":{\"count\":0},\"caption\":\"" +
                kHostileName + "\",\"display_src\":\"" + pic +
                "hphotos-xaf1\\/t51\\/2.jpg\"},{\"comments\":{\"count\":0},\"caption\":\"视频\"}"
                "],\"page_info\":{\"end_cursor\":\"C2\"}}}}</script>";
        } else if (req.path == "/someone/media") {
            const std::string cursor = req.get_param_value("max_id");
            json = "{\"items\":[";
            if (cursor == "C2") {
                json += "{\"images\":{\"low_resolution\":{\"url\":\"" + pic +
                        "l\\/3.jpg\",\"width\":320},\"thumbnail\":{\"url\":\"" + pic +
                        "t\\/3.jpg\",\"width\":150},\"standard_resolution\":{\"url\":\"" + pic +
                        "s\\/3.jpg\",\"width\":640}},\"alt_media_url\":null,\"caption\":{\"text\":"
                        "\"\\u5c71\"},\"type\":\"image\",\"id\":\"M3\"},"
                        "{\"images\":{\"thumbnail\":{\"url\":\"" +
                        pic + "t\\/4.jpg\",\"width\":150},\"low_resolution\":{\"url\":\"" + pic +
                        "l\\/4.jpg\",\"width\":320}},\"type\":\"image\",\"id\":\"M4\"}";
            } else if (cursor == "M4") {
                // A service that hands out the same cursor again.
                json += "{\"images\":{\"standard_resolution\":{\"url\":\"" + pic +
                        "s\\/5.jpg\",\"width\":640}},\"type\":\"image\",\"id\":\"M4\"}";
            }
            json += "]}";
        }
        Send(res, json, Charset::Utf8);
    }

  public:
    std::mutex mutex;
    std::vector<std::string> instagramAgents;
    std::vector<std::string> instagramLanguages;
};

}  // namespace brenvik::test
