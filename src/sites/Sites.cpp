#include "sites/Sites.h"

#include <mutex>

#include "download/AdapterRegistry.h"
#include "sites/Babytree.h"
#include "sites/Baidu.h"
#include "sites/Hupu.h"
#include "sites/Instagram.h"
#include "sites/Moko.h"
#include "sites/Netease.h"
#include "sites/Pchome.h"
#include "sites/Pconline.h"
#include "sites/PhotoCommunities.h"
#include "sites/QqGroup.h"
#include "sites/Qzone.h"
#include "sites/Renren.h"
#include "sites/Shop.h"
#include "sites/Sina.h"
#include "sites/Topit.h"
#include "sites/Tweibo.h"
#include "sites/Zol.h"

namespace brenvik {

const std::vector<SiteEntry>& SiteTable() {
    static const std::vector<SiteEntry> table = {
        {0, "QQ空间/QQ群/腾讯微博"},
        {1, "百度相册/贴吧"},
        {2, "网易相册"},
        {3, "人人网"},
        {4, "新浪博客/微博"},
        {5, "56相册"},
        {6, "POCO"},
        {7, "又拍"},
        {8, "51相册"},
        {9, "ZOL"},
        {10, "PChome"},
        {11, "淘宝/天猫/1688"},
        {12, "美空"},
        {13, "宝宝树"},
        {14, "太平洋摄影"},
        {15, "虎扑"},
        {16, "京东/ZOL商品"},
        {17, "Instagram"},
        {18, "堆糖/花瓣"},
        {19, "Lofter"},
        {20, "topit"},
    };
    return table;
}

namespace {

AdapterRegistry<AlbumLister, AlbumListFn>& Registry() {
    static AdapterRegistry<AlbumLister, AlbumListFn> registry;
    return registry;
}

}  // namespace

void RegisterAlbumLister(AlbumLister id, AlbumListFn fn) {
    Registry().Register(id, fn);
}

AlbumListFn FindAlbumLister(AlbumLister id) {
    return Registry().Find(id);
}

void RegisterAllSites() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterQzone();
        RegisterBaidu();
        RegisterNetease();
        RegisterSina();
        RegisterZol();
        RegisterPchome();
        RegisterMoko();
        RegisterBabytree();
        RegisterPconline();
        RegisterHupu();
        RegisterInstagram();
        RegisterShops();
        RegisterQqGroup();
        RegisterTweibo();
        RegisterRenren();
        RegisterTopit();
        RegisterSite56();
        RegisterPoco();
        RegisterYupoo();
        RegisterSite51();
        RegisterDuitang();
        RegisterHuaban();
    });
}

}  // namespace brenvik
