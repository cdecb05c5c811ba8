// User-visible texts of the album-list job, kept together.
#pragma once

#include <cerrno>

namespace brenvik::msg {

// Texts of our own for the messages whose wording the site tables leave open.
inline constexpr const char* kEmptyAddress = "请输入QQ号、用户名或网址后再获取相册";
inline constexpr const char* kNeedHttpAddress = "请输入完整的网址(以http://或https://开头)";
inline constexpr const char* kSiteNotSupportedYet = "暂不支持该网站的相册获取，敬请期待新版本";
inline constexpr const char* kJdAddressHint = "请输入京东商品网址或ZOL商品网址";
inline constexpr const char* kTaobaoNoAlbum =
    "没有获取到宝贝，请确认输入的是淘宝/天猫店铺网址或宝贝网址";
inline constexpr const char* kShopOwnerMissing =
    "没有获取到店铺名称，请确认输入的是1688店铺或商品的网址";
inline constexpr const char* kShopNameMissing = "没有获取到商品名称，请确认输入的商品网址正确";
inline constexpr const char* kDuitangHint = "没有找到堆糖用户^请输入堆糖用户主页或专辑的网址";
inline constexpr const char* kHuabanHint = "请输入花瓣画板的网址^(网址中含有/boards/)";
inline constexpr const char* kBadAddress = "输入网址有误";

// The job's own texts.
inline constexpr const char* kListing = "正在获取相册列表，请稍等...";
inline constexpr const char* kAlbumFrameFormat = "相册列表(共%d个)";
inline constexpr const char* kListDoneFormat = "获取相册列表完成，共%d个";
inline constexpr const char* kListStoppedFormat = "已终止获取相册列表，已获取%d个";
inline constexpr const char* kListFailedFormat = "获取相册列表失败：%s";
inline constexpr const char* kWaitingForHostFormat = "正在等待 %s 响应……";
inline constexpr const char* kQzoneNeedsNumber = "请直接输入QQ号进行下载";

// What a branch shows when its adapters found nothing.
inline constexpr const char* kQzoneNoAlbum =
    "没有获取到相册，原因如下：\n\n1、可能是因为空间不是公开的，你哪个号能进入他的空间，就先在"
    "下载器的登录菜单里登录了那个号后再点获取相册\n\n2、下载QQ空间相册请直接输入QQ号进行下载";
inline constexpr const char* kTweiboNoAlbum =
    "没有获取到相册，可按以下步骤操作：\n\n1、请先在下载器的登录菜单里登录你的腾讯微博帐号(登录时"
    "勾上下次自动登录)\n\n2、输入你要下载的那个人的微博主页网址后，点获取相册列表";
inline constexpr const char* kQqGroupNoAlbum =
    "没有获取到相册，可按以下步骤操作：\n\n1、你哪个号加入了你要下载的QQ群，就先在下载器的登录菜单"
    "里登录那个QQ号\n\n2、输入你要下载的QQ群号后，点获取相册列表";
inline constexpr const char* kRenrenNoAlbum =
    "错误原因：\n1.你没有登录你的人人帐号(在登录菜单里登录,登录时需要勾上下次自动登录)\n2.你没有"
    "该相册的访问权限.";
inline constexpr const char* kRenrenZhanNoAlbum =
    "1、没有获取到相册，需要你在登录菜单里登录一个人人帐号(登录时勾上下次自动登录)后重新获取";
inline constexpr const char* kSinaNoAlbum =
    "没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录";
inline constexpr const char* kYupooNoAlbum =
    "没有获取到相册，如果你输入的网址正确，可能是因为被杀毒软件阻止了\r\n\r\n请按以下步骤操作\r\n\r"
    "\n1、将下载器添加到杀毒软件信任列表里\r\n2、重新打开下载器";
inline constexpr const char* kHupuNoAlbum =
    "请先在登录菜单里登录虎扑帐号后重试(登录时勾上下次自动登录)";

// A page larger than any page may be (a decompression bomb among them), given up.
inline constexpr const char* kPageTooLarge = "页面过大，已放弃: ";

// Another run holds the data folder's lock; said once after a second of waiting.
inline constexpr const char* kHomeInUseFormat =
    "数据目录 %s 正被另一个运行中的下载器使用，等它结束后继续……";

// A save the disk refused, by its error number: the disk's fault, never the server's.
struct DiskErrorText {
    int error;
    const char* text;
};
inline constexpr DiskErrorText kDiskErrorTexts[] = {
    {ENOSPC, "磁盘空间不足"}, {EDQUOT, "磁盘配额已用完"},        {EROFS, "磁盘为只读，无法写入"},
    {EIO, "磁盘读写出错"},    {EFBIG, "文件超过磁盘允许的大小"},
};
// What follows the text: the folder where saving failed.
inline constexpr const char* kDiskErrorPathSeparator = ": ";

}  // namespace brenvik::msg
