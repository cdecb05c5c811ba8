#include "download/ListTypes.h"

#include <climits>

#include "download/AdapterRegistry.h"

namespace brenvik {
namespace {

constexpr int kOtherSubKinds = INT_MIN;

struct ListTypeRow {
    int site;
    int subKind;  // kOtherSubKinds: every value not listed for the site
    std::vector<PhotoLister> chain;
};

using P = PhotoLister;

const std::vector<ListTypeRow>& Table() {
    static const std::vector<ListTypeRow> table = {
        {0, 0, {P::QzonePhotos, P::QzoneFallbackPhotos}},
        {0, 1, {P::QqGroupPhotos}},
        {0, 2, {P::TweiboPhotos}},
        {0, kOtherSubKinds, {}},
        {1, 0, {P::BaiduAlbumPhotos}},
        {1, 1, {P::TiebaAlbumPhotos}},
        {1, kOtherSubKinds, {P::TiebaPostPictures}},
        {2, 1, {P::NeteaseCommunityPhotos}},
        {2, kOtherSubKinds, {P::NeteaseAlbumPhotos}},
        {3, 0, {P::RenrenPagedPhotos, P::RenrenClassicPhotos, P::RenrenPrivatePhotos}},
        {3, 10, {P::RenrenZhanPictures}},
        {3, kOtherSubKinds, {}},
        {4, 0, {P::SinaBlogAlbumPhotos}},
        {4, 1, {P::SinaBlogArticlePictures}},
        {4, 2, {P::WeiboAlbumPhotos}},
        {4, kOtherSubKinds, {}},
        {5, kOtherSubKinds, {P::Photos56}},
        {6, 0, {P::PocoAlbumPhotos}},
        {6, 1, {P::PocoActivityPhotos}},
        {6, kOtherSubKinds, {}},
        {7, kOtherSubKinds, {P::YupooAlbumPhotos}},
        {8, kOtherSubKinds, {P::Photos51}},
        {9, 1, {P::ShopDetailPictures}},
        {9, kOtherSubKinds, {P::ZolAlbumPhotos}},
        {10, kOtherSubKinds, {P::PchomeAlbumPhotos}},
        {11, 2, {P::Item1688Pictures}},
        {11, kOtherSubKinds, {P::TaobaoItemPictures}},
        {12, kOtherSubKinds, {P::MokoAlbumPhotos}},
        {13, 0, {P::BabytreeFirstFormPhotos}},
        {13, kOtherSubKinds, {P::BabytreeSecondFormPhotos}},
        {14, kOtherSubKinds, {P::PconlineAlbumPhotos}},
        {15, kOtherSubKinds, {P::HupuAlbumPhotos}},
        {16, 1, {P::ShopDetailPictures}},
        {16, kOtherSubKinds, {P::JdItemPictures}},
        {17, kOtherSubKinds, {P::InstagramMedia}},
        {18, 0, {P::DuitangAlbumPhotos}},
        {18, kOtherSubKinds, {P::HuabanBoardPins}},
        {19, kOtherSubKinds, {P::LofterPictures}},
        {20, kOtherSubKinds, {P::TopitAlbumPhotos}},
    };
    return table;
}

AdapterRegistry<PhotoLister, PhotoListFn>& Registry() {
    static AdapterRegistry<PhotoLister, PhotoListFn> registry;
    return registry;
}

}  // namespace

ListTypeChoice ChoosePhotoListers(int siteIndex, int subKind) {
    ListTypeChoice choice;
    if (siteIndex < 0 || siteIndex > kHighestSiteIndex) {
        return choice;
    }
    choice.known = true;
    const ListTypeRow* other = nullptr;
    for (const auto& row : Table()) {
        if (row.site != siteIndex) {
            continue;
        }
        if (row.subKind == subKind) {
            choice.chain = row.chain;
            return choice;
        }
        if (row.subKind == kOtherSubKinds) {
            other = &row;
        }
    }
    if (other) {
        choice.chain = other->chain;
    }
    return choice;
}

void RegisterPhotoLister(PhotoLister id, PhotoListFn fn) {
    Registry().Register(id, fn);
}

PhotoListFn FindPhotoLister(PhotoLister id) {
    return Registry().Find(id);
}

ScopedPhotoListers::ScopedPhotoListers() : saved_(Registry().Snapshot()) {
    Registry().Restore({});
}

ScopedPhotoListers::~ScopedPhotoListers() {
    Registry().Restore(std::move(saved_));
}

}  // namespace brenvik
