// Which photo-list adapter serves an album, by the pair (site index, sub-kind) that the
// listing recorded. Some pairs name a chain: the next adapter runs only while the
// previous one added nothing.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace brenvik {

class Session;

enum class PhotoLister {
    QzonePhotos,
    QzoneFallbackPhotos,
    QqGroupPhotos,
    TweiboPhotos,
    BaiduAlbumPhotos,
    TiebaAlbumPhotos,
    TiebaPostPictures,
    NeteaseCommunityPhotos,
    NeteaseAlbumPhotos,
    RenrenPagedPhotos,
    RenrenClassicPhotos,
    RenrenPrivatePhotos,
    RenrenZhanPictures,
    SinaBlogAlbumPhotos,
    SinaBlogArticlePictures,
    WeiboAlbumPhotos,
    Photos56,
    PocoAlbumPhotos,
    PocoActivityPhotos,
    YupooAlbumPhotos,
    Photos51,
    ShopDetailPictures,
    ZolAlbumPhotos,
    PchomeAlbumPhotos,
    Item1688Pictures,
    TaobaoItemPictures,
    MokoAlbumPhotos,
    BabytreeFirstFormPhotos,
    BabytreeSecondFormPhotos,
    PconlineAlbumPhotos,
    HupuAlbumPhotos,
    JdItemPictures,
    InstagramMedia,
    DuitangAlbumPhotos,
    HuabanBoardPins,
    LofterPictures,
    TopitAlbumPhotos,
};

inline constexpr int kHighestSiteIndex = 20;
inline constexpr const char* kListTypeError = "Error ListType Code.";

// The chain for a pair: empty when the pair has no adapter; `known` is false for a site
// index outside 0..20.
struct ListTypeChoice {
    bool known = false;  // false: the site index is out of range
    std::vector<PhotoLister> chain;
};
ListTypeChoice ChoosePhotoListers(int siteIndex, int subKind);

// Adapters register themselves; the download job looks them up.
using PhotoListFn = void (*)(Session& session, int albumIndex);
void RegisterPhotoLister(PhotoLister id, PhotoListFn fn);
PhotoListFn FindPhotoLister(PhotoLister id);

// While one lives the registry starts empty; at its end the registrations from before
// come back and those made meanwhile are gone. Lets tests register stand-ins without
// changing what other tests of the same process see.
class ScopedPhotoListers {
  public:
    ScopedPhotoListers();
    ~ScopedPhotoListers();
    ScopedPhotoListers(const ScopedPhotoListers&) = delete;
    ScopedPhotoListers& operator=(const ScopedPhotoListers&) = delete;

  private:
    std::map<PhotoLister, PhotoListFn> saved_;
};

}  // namespace brenvik
