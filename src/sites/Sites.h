// The sites Brenvik serves: their selector order, short names, and the album-list
// adapters each family registers. Photo-list adapters register in download/ListTypes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvik {

class Session;

inline constexpr int kSiteCount = 21;

struct SiteEntry {
    int index;
    std::string_view displayName;  // the site selector's text
};

// The site selector's entries in index order.
const std::vector<SiteEntry>& SiteTable();

enum class AlbumLister {
    QzoneV2,
    QzoneV3,
    TweiboAlbums,
    QqGroupAlbums,
    TiebaForumAlbums,
    TiebaPostAlbum,
    BaiduAlbums,
    NeteaseCommunityAlbums,
    NeteaseAlbums,
    RenrenV7Albums,
    RenrenAlbumPage,
    RenrenZhanAlbums,
    RenrenPublicPage,
    SinaBlogArticles,
    WeiboAlbums,
    SinaBlogPhotos,
    Albums56,
    PocoAlbums,
    PocoActivityList,
    YupooAlbums,
    Albums51,
    ShopItem,
    ZolAlbums,
    PchomeAlbums,
    Shop1688,
    TaobaoShop,
    MokoAlbums,
    BabytreeFirstForm,
    BabytreeSecondForm,
    PconlineAlbums,
    HupuAlbums,
    JdItem,
    InstagramAlbums,
    DuitangAlbums,
    HuabanBoard,
    LofterAlbums,
    TopitAlbums,
};

// An album-list adapter: the prepared input and the session it fills.
using AlbumListFn = void (*)(Session& session, const std::string& input);
void RegisterAlbumLister(AlbumLister id, AlbumListFn fn);
AlbumListFn FindAlbumLister(AlbumLister id);

// Registers every site family's adapters (album lists and photo lists). Idempotent.
void RegisterAllSites();

}  // namespace brenvik
