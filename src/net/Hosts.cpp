#include "net/Hosts.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "net/TextKit.h"
#include "net/Ini.h"

namespace brenvik {

const std::vector<HostRole>& BuiltInHosts() {
    static const std::vector<HostRole> table = {
        // Qzone, QQ groups, Tencent Weibo
        {"qq.fragment", "qq.com/", "QQ domain with a slash, classifies typed addresses"},
        {"qzone.route", "r.qzone.qq.com", "Qzone route service (album host per account)"},
        {"qzone.user", "user.qzone.qq.com", "Qzone user host"},
        {"qzone.list", "h5.qzone.qq.com", "Qzone list host when the route lookup fails"},
        {"qqgroup.photo", "qungz.photo.store.qq.com", "QQ group photo host"},
        {"qqgroup.home", "qun.qzone.qq.com", "QQ group home host"},
        {"tweibo.fragment", "t.qq.com", "Tencent Weibo domain fragment"},
        {"qqgroup.fragment", "qun.qq.com", "QQ group domain fragment"},
        {"tweibo.web", "t.qq.com", "Tencent Weibo home page"},
        {"tweibo.api", "api.t.qq.com", "Tencent Weibo API host"},
        // Baidu albums and Tieba
        {"baidu.fragment", "baidu.com", "Baidu domain fragment"},
        {"baidu.album", "xiangce.baidu.com", "Baidu album host"},
        {"baidu.login", "passport.baidu.com", "Baidu login page"},
        {"tieba.web", "tieba.baidu.com", "Tieba host"},
        {"tieba.fragment", "tieba.baidu.com/", "Tieba domain with a slash"},
        {"tieba.picture", "imgsrc.baidu.com", "Tieba picture host"},
        // NetEase albums and Lofter
        {"netease.fragment", "163.com", "NetEase domain fragment"},
        {"netease.slash.fragment", "163.com/", "NetEase domain with a slash"},
        {"netease.photo.fragment", "pp.163.com", "NetEase photo-community (pp) domain fragment"},
        {"netease.album", "photo.163.com", "NetEase album host"},
        {"netease.pp", "pp.163.com", "NetEase pp host"},
        {"netease.resource", "s1.ph.126.net", "NetEase resource host"},
        {"netease.image.blog", "bimg.126.net", "NetEase blog-image domain (img<N>.<domain>)"},
        {"netease.image.photo", "ph.126.net", "NetEase photo-image domain (img<N>.<domain>)"},
        {"lofter.fragment", "lofter.com", "Lofter domain fragment"},
        {"lofter.web", "www.lofter.com", "Lofter host"},
        // Renren and topit
        {"renren.fragment", "renren.com", "Renren domain fragment"},
        {"renren.main", "www.renren.com", "Renren main host"},
        {"renren.photo", "photo.renren.com", "Renren photo host"},
        {"renren.page", "page.renren.com", "Renren public-page host"},
        {"renren.page.fragment", "page.renren.com", "Renren public-page host fragment"},
        {"renren.zhan.fragment", "zhan.renren.com", "Renren station host fragment"},
        {"renren.zhan", "zhan.renren.com", "Renren station host"},
        {"topit.fragment", ".topit.", "topit fragment (the site name between two dots)"},
        {"topit.web", "www.topit.me", "topit host"},
        // Sina blog and Weibo
        {"sina.fragment", "sina.com", "Sina domain fragment"},
        {"sina.blog.photo", "photo.blog.sina.com.cn", "Sina blog photo service"},
        {"sina.blog", "blog.sina.com.cn", "Sina blog host (articles named by path only)"},
        {"weibo.fragment", "weibo.com/", "Weibo domain with a slash"},
        {"weibo.home", "weibo.com", "Weibo home site"},
        {"weibo.photo", "photo.weibo.com", "Weibo photo host"},
        {"weibo.image", "ww1.sinaimg.cn", "Weibo image host"},
        // Gallery sites
        {"56.fragment", "56.com", "56 domain fragment"},
        {"56.photo", "photo.56.com", "56 photo host"},
        {"poco.fragment", "poco.cn", "poco domain fragment"},
        {"poco.web", "www.poco.cn", "poco host"},
        {"yupoo.fragment", "yupoo.com", "yupoo domain fragment"},
        {"yupoo.web", "www.yupoo.com", "yupoo www host"},
        {"yupoo.v", "v.yupoo.com", "yupoo v-host"},
        {"51.fragment", "51.com", "51 domain fragment"},
        {"51.home", "home.51.com", "51 home host"},
        {"duitang.fragment", "duitang.com", "duitang domain fragment"},
        {"duitang.web", "www.duitang.com", "duitang host"},
        {"huaban.fragment", "huaban.com", "huaban domain fragment"},
        {"huaban.web", "huaban.com", "huaban host"},
        {"huaban.image", "hbimg.huabanimg.com", "huaban image host"},
        {"zol.fragment", "zol.com", "ZOL domain fragment"},
        {"zol.photo", "bbs.zol.com.cn", "ZOL photo host"},
        {"zol.detail.fragment", "detail.zol.com.cn", "ZOL product-detail fragment"},
        {"pchome.fragment", "pchome.com.tw", "PChome domain fragment"},
        {"pchome.web", "photo.pchome.com.tw", "PChome host"},
        {"moko.fragment", "moko.cc", "moko domain fragment"},
        {"moko.slash.fragment", "moko.cc/", "moko domain with a slash"},
        {"moko.web", "www.moko.cc", "moko host"},
        {"babytree.fragment", "babytree.com", "babytree domain fragment"},
        {"babytree.web", "www.babytree.com", "babytree host"},
        {"babytree.home", "home.babytree.com", "babytree home host"},
        {"pconline.fragment", "pconline.com.cn", "PConline domain fragment"},
        {"pconline.web", "photo.pconline.com.cn", "PConline photo host"},
        {"pconline.personal.fragment", "my.pconline.com.cn", "PConline personal-photo host"},
        {"hupu.fragment", "hupu.com", "Hupu domain fragment"},
        {"hupu.user", "my.hupu.com", "Hupu user host"},
        // Shops
        {"1688.fragment", "1688.com", "1688 domain fragment"},
        {"1688.slash.fragment", "1688.com/", "1688 domain with a slash"},
        {"taobao.fragment", "taobao.com", "Taobao domain fragment"},
        {"taobao.home", "www.taobao.com", "Taobao home page"},
        {"taobao.item", "item.taobao.com", "Taobao item host"},
        {"taobao.package", "hws.m.taobao.com", "Taobao package host"},
        {"tmall.fragment", "tmall.com/", "Tmall domain with a slash"},
        {"tmall.detail", "detail.tmall.com", "Tmall detail host"},
        {"jd.fragment", "jd.com", "JD domain fragment"},
        {"jd.item.fragment", "item.jd.com", "JD item-host fragment"},
        {"jd.item", "item.jd.com", "JD item host"},
        // Login pages of the login menu
        {"netease.login", "reg.163.com", "NetEase registration and login page"},
        {"56.web", "www.56.com", "56 home host (login page)"},
        {"taobao.login", "login.taobao.com", "Taobao login host"},
        {"hupu.passport", "passport.hupu.com", "Hupu passport host"},
        {"login.default", "www.qq.com", "start page of the custom login"},
        // Instagram
        {"instagram.fragment", "instagram.com", "Instagram domain fragment"},
        {"instagram.web", "www.instagram.com", "Instagram host"},
        {"instagram.photo", "photos-a.ak.instagram.com", "Instagram photo host"},
    };
    return table;
}

HostTable& HostTable::Shared() {
    static HostTable table;
    return table;
}

HostTable::HostTable() {
    ResetToBuiltIn();
}

void HostTable::ResetToBuiltIn() {
    std::unique_lock lock(mutex_);
    hosts_.clear();
    for (const auto& entry : BuiltInHosts()) {
        hosts_.emplace(entry.role, entry.host);
    }
}

std::string HostTable::Get(std::string_view role) const {
    std::shared_lock lock(mutex_);
    const auto found = hosts_.find(std::string(role));
    return found == hosts_.end() ? std::string() : found->second;
}

void HostTable::Set(std::string_view role, std::string host) {
    std::unique_lock lock(mutex_);
    hosts_[std::string(role)] = std::move(host);
}

std::vector<std::string> HostTable::LoadOverrides(const std::filesystem::path& file) {
    std::vector<std::string> problems;
    const IniFile ini(file);
    if (!ini.Exists()) {
        return problems;
    }
    for (const auto& line : ini.BadLines()) {
        problems.push_back(file.filename().string() + ": 无法识别的行: " + line);
    }
    for (std::string role : ini.Keys(kHostOverrideSection)) {
        const std::string host = ini.GetString(kHostOverrideSection, role, "");
        role = LowerAscii(role);
        if (Get(role).empty()) {
            problems.push_back(file.filename().string() + ": 未知的主机项: " + role);
        } else if (host.empty()) {
            problems.push_back(file.filename().string() + ": 主机项为空: " + role);
        } else {
            Set(role, host);
        }
    }
    return problems;
}

std::string Host(std::string_view role) {
    return HostTable::Shared().Get(role);
}

}  // namespace brenvik
