#include "app/Classify.h"

#include <array>
#include <cstdio>

#include "session/Messages.h"
#include "net/Hosts.h"
#include "net/TextKit.h"
#include "net/PageFetcher.h"
#include "sites/AdapterKit.h"
#include "sites/Hupu.h"

namespace brenvik {
namespace {

using L = AlbumLister;

bool Contains(const std::string& text, std::string_view marker) {
    return text.find(marker) != std::string::npos;
}

bool HasRole(const std::string& text, const char* role) {
    const std::string fragment = Host(role);
    return !fragment.empty() && Contains(text, fragment);
}

bool HasRoleAfterStart(const std::string& text, const char* role) {
    const std::string fragment = Host(role);
    return !fragment.empty() && FoundAfterStart(text, fragment);
}

ListPlan Plan(std::vector<ListStep> chain, std::string input, const char* noAlbum = "") {
    ListPlan plan;
    plan.chain = std::move(chain);
    plan.input = std::move(input);
    plan.noAlbumMessage = noAlbum;
    return plan;
}

ListPlan Refuse(std::string message, int subKind = -1) {
    ListPlan plan;
    plan.message = std::move(message);
    plan.subKind = subKind;
    return plan;
}

// The text after the marker, cut at the separators; nothing when the marker is missing
// or nothing is left, so that a malformed address is refused rather than requested.
std::optional<std::string> PartAfter(const std::string& text, std::string_view marker,
                                     std::initializer_list<std::string_view> separators) {
    std::string part = text;
    if (marker.empty() || SkipPast(marker, true, part) < 0) {
        return std::nullopt;
    }
    for (const auto separator : separators) {
        KeepBefore(separator, part);
    }
    if (part.empty()) {
        return std::nullopt;
    }
    return part;
}

// A page fetch that failed ends the job without a message.
ListPlan Nothing() {
    return ListPlan{};
}

// The host label after the scheme ("http://user.yupoo.com" gives "user").
std::string HostLabel(std::string text) {
    DropThrough(text, "://");
    return text.substr(0, text.find('.'));
}

std::string TiebaKeyword(std::string text) {
    DropThrough(text, "kw=");
    CutAt(text, {"/", "?", "#", "&"});
    return text;
}

ListPlan QqSite(const std::string& typed, int subSelector, const PageReader&) {
    std::string text = typed;
    if (subSelector == 0) {
        DropThrough(text, "com/");
        CutAt(text, {"/", "&", "*", "?", "#"});
        if (!IsDigitsOnly(text)) {
            return Refuse(msg::kQzoneNeedsNumber, 0);
        }
        return Plan({{L::QzoneV2, 0}, {L::QzoneV3, 0}}, text, msg::kQzoneNoAlbum);
    }
    if (HasRole(text, "tweibo.fragment") || subSelector == 2) {
        DropThrough(text, ".com/");
        DropThrough(text, "hoto/");
        CutAt(text, {"/", "?"});
        ListPlan plan = Plan({{L::TweiboAlbums, 2}}, text, msg::kTweiboNoAlbum);
        plan.ownerName = text;
        return plan;
    }
    // The group's page carries the number after "#!/"; a plain group address after the host.
    DropThrough(text, Contains(text, "!/") ? "!/" : "com/");
    CutAt(text, {"/", "?", "#"});
    ListPlan plan = Plan({{L::QqGroupAlbums, 1}}, text, msg::kQqGroupNoAlbum);
    plan.ownerName = text;
    return plan;
}

ListPlan BaiduSite(const std::string& typed, int, const PageReader& fetch) {
    std::string text = typed;
    if (HasRole(text, "tieba.fragment")) {
        if (FoundAfterStart(text, "com/p/")) {
            const auto page = fetch(text);
            if (!page) {
                return Nothing();
            }
            const std::string keyword = TextBetween(*page, "?kw=", "\"");
            std::string post = text.substr(text.find("com/p/") + 6);
            CutAt(post, {"/", "?", "#", "&"});
            const std::string input =
                SiteBase("tieba.web") + "/photo/p?kw=" + keyword + "&fp=1&tid=" + post;
            ListPlan plan = Plan({{L::TiebaPostAlbum, 2}}, input);
            plan.ownerAfter = OwnerAfter::TiebaKeyword;
            plan.keywordSource = input;
            plan.autoDownload = AutoDownload::ExactlyOne;
            return plan;
        }
        if (FoundAfterStart(text, "photo/p?kw=")) {
            ListPlan plan = Plan({{L::TiebaPostAlbum, 2}}, text);
            plan.ownerAfter = OwnerAfter::TiebaKeyword;
            plan.keywordSource = text;
            plan.autoDownload = AutoDownload::ExactlyOne;
            return plan;
        }
        const std::string keyword = TiebaKeyword(text);
        ListPlan plan = Plan({{L::TiebaForumAlbums, 1}}, keyword);
        plan.pageBase = keyword;
        plan.ownerAfter = OwnerAfter::TiebaKeyword;
        plan.keywordSource = "kw=" + keyword;
        return plan;
    }
    if (!Contains(text, "u/")) {
        const auto page = fetch(text);
        if (!page) {
            return Nothing();
        }
        text = TextBetween(*page, "/profile/", "\"");
    }
    DropThrough(text, "u/");
    CutAt(text, {"/", "?", "#", "&"});
    return Plan({{L::BaiduAlbums, 0}}, text);
}

ListPlan NeteaseSite(const std::string& text, int, const PageReader&) {
    if (HasRoleAfterStart(text, "netease.photo.fragment")) {
        return Plan({{L::NeteaseCommunityAlbums, 1}}, text);
    }
    return Plan({{L::NeteaseAlbums, -1}}, text);
}

ListPlan RenrenSite(const std::string& typed, int, const PageReader& fetch) {
    std::string text = typed;
    if (FoundAfterStart(text, "/album-")) {
        CutAt(text, {"?", "#"});
        const L lister = FoundAfterStart(text, "/v7") ? L::RenrenV7Albums : L::RenrenAlbumPage;
        return Plan({{lister, 0}}, text, msg::kRenrenNoAlbum);
    }
    if (HasRole(text, "renren.zhan.fragment")) {
        return Plan({{L::RenrenZhanAlbums, 10}}, text, msg::kRenrenZhanNoAlbum);
    }
    const bool publicPage = HasRole(text, "renren.page.fragment");
    if (publicPage) {
        DropThrough(text, ".com/");
        CutAt(text, {"/"});
    }
    DropThrough(text, "id=");
    CutAt(text, {"?", "/album", "/profile", "/channel-"});
    if (const std::size_t slash = text.rfind('/'); slash != std::string::npos) {
        text.erase(0, slash + 1);
    }
    if (!IsDigitsOnly(text)) {
        const std::string address =
            SiteBase(publicPage ? "renren.page" : "renren.main") + "/" + text;
        const auto page = fetch(address);
        if (!page) {
            return Nothing();
        }
        std::string id = publicPage ? TextBetween(*page, "pid: '", "'")
                                    : TextBetween(*page, "profile_owner =", ";");
        const auto first = id.find_first_not_of(" \t\r\n");
        id = first == std::string::npos
                 ? ""
                 : id.substr(first, id.find_last_not_of(" \t\r\n") - first + 1);
        text = id;
    }
    if (publicPage) {
        return Plan({{L::RenrenPublicPage, 0}, {L::RenrenV7Albums, 0}}, text, msg::kRenrenNoAlbum);
    }
    return Plan({{L::RenrenV7Albums, 0}, {L::RenrenAlbumPage, 0}}, text, msg::kRenrenNoAlbum);
}

ListPlan SinaSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    if (FoundAfterStart(text, "/s/")) {
        if (const std::size_t last = text.rfind('_'); last != std::string::npos) {
            text.resize(last);
        }
        return Plan({{L::SinaBlogArticles, 1}}, text, msg::kSinaNoAlbum);
    }
    if (HasRoleAfterStart(text, "weibo.fragment")) {
        return Plan({{L::WeiboAlbums, 2}}, text, msg::kSinaNoAlbum);
    }
    return Plan({{L::SinaBlogPhotos, 0}}, text, msg::kSinaNoAlbum);
}

ListPlan Site56(const std::string& typed, int, const PageReader&) {
    std::string user = typed;
    DropThrough(user, "user=");
    DropThrough(user, "album/");
    CutAt(user, {"&", "/", "?"});
    return Plan({{L::Albums56, -1}},
                SiteBase("56.photo") + "/photo/album/index.php?user=" + user + "&perPage=20");
}

ListPlan PocoSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    if (FoundAfterStart(text, "/album") || FoundAfterStart(text, "/theme")) {
        DropThrough(text, "user_id-");
        DropThrough(text, "user_id=");
        CutAt(text, {"&", "."});
        return Plan({{L::PocoAlbums, 0}}, text);
    }
    if (!(Contains(text, "act_list") && Contains(text, "&"))) {
        DropThrough(text, "id-");
        DropThrough(text, "id=");
        CutAt(text, {"/", "&", "*", "?", "#", "."});
        text = SiteBase("poco.web") + "/act/act_list.htx&user_id=" + text + "&act_type_id=0";
    }
    ReplaceAll(text, "p=", "zvt=");
    return Plan({{L::PocoActivityList, 1}}, text);
}

ListPlan YupooSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    ReplaceAll(text, "/collections", "/albums");
    const std::string vHost = Host("yupoo.v");
    const std::string wwwHost = Host("yupoo.web");
    if (FoundAfterStart(text, "." + vHost)) {
        text = SiteBase("yupoo.v") + "/photos/" + HostLabel(text) + "/albums/";
    } else if (Contains(text, vHost + "/") || Contains(text, wwwHost + "/")) {
        CutAt(text, {"page"});
    } else {
        text = SiteBase("yupoo.web") + "/photos/" + HostLabel(text) + "/albums/";
    }
    if (!text.ends_with("/")) {
        text += "/";
    }
    return Plan({{L::YupooAlbums, -1}}, text, msg::kYupooNoAlbum);
}

ListPlan Site51(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    // Any scheme: an https address must give the user as well.
    if (Contains(text, "://")) {
        DropThrough(text, "com/");
        CutAt(text, {"/"});
    }
    return Plan({{L::Albums51, -1}}, text);
}

ListPlan ShopItemPlan(std::string text) {
    CutAt(text, {"#"});
    ListPlan plan = Plan({{L::ShopItem, 1}}, text);
    plan.autoDownload = AutoDownload::ExactlyOne;
    return plan;
}

ListPlan ZolSite(const std::string& typed, int, const PageReader&) {
    if (HasRoleAfterStart(typed, "zol.detail.fragment")) {
        return ShopItemPlan(typed);
    }
    // Secure addresses name the user the same way as plain ones.
    if (Contains(typed, "http://") || Contains(typed, "https://")) {
        const auto user = PartAfter(typed, "cn/", {"/"});
        if (!user) {
            return Refuse(msg::kBadAddress, 0);
        }
        return Plan({{L::ZolAlbums, 0}}, *user);
    }
    return Plan({{L::ZolAlbums, 0}}, typed);
}

ListPlan PchomeSite(const std::string& typed, int, const PageReader&) {
    const auto user = PartAfter(typed, "com.tw/", {"/", "&", "*", "?"});
    if (!user) {
        return Refuse(msg::kBadAddress);
    }
    return Plan({{L::PchomeAlbums, -1}}, *user);
}

// Page and view parameters are renamed so that the adapter can append its own.
void RenamePagingKeys(std::string& text, const char* viewKey) {
    if (!Contains(text, "?")) {
        text += "?";
    }
    ReplaceAll(text, "pageNum=", "Zvt1=");
    ReplaceAll(text, viewKey, "Zvt2=");
}

ListPlan ShopSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    CutAt(text, {"#"});
    ListPlan plan;
    if (HasRoleAfterStart(typed, "1688.slash.fragment")) {
        if (!Contains(text, ".com/offer")) {
            if (!Contains(text, "/page/")) {
                CutAt(text, {"com"});
                text += "com/page/offerlist.htm?";
            } else {
                RenamePagingKeys(text, "showType=");
            }
        }
        plan = Plan({{L::Shop1688, 2}}, text);
    } else {
        if (FoundAfterStart(text, "search") || FoundAfterStart(text, "item.") ||
            FoundAfterStart(text, "/category-")) {
            RenamePagingKeys(text, "viewType=");
        } else {
            CutAt(text, {"com"});
            text += "com/?search=y";
        }
        plan = Plan({{L::TaobaoShop, -1}}, text, msg::kTaobaoNoAlbum);
    }
    plan.autoDownload = AutoDownload::ExactlyOne;
    return plan;
}

ListPlan MokoSite(const std::string& typed, int, const PageReader&) {
    if (Contains(typed, "/post")) {
        return Plan({{L::MokoAlbums, -1}}, typed);
    }
    const auto user = PartAfter(typed, Host("moko.slash.fragment"), {"/"});
    if (!user) {
        return Refuse(msg::kBadAddress);
    }
    return Plan({{L::MokoAlbums, -1}}, SiteBase("moko.web") + "/post/" + *user + "/list.html");
}

ListPlan BabytreeSite(const std::string& typed, int, const PageReader&) {
    const auto user = PartAfter(typed, "om/", {"&", "/"});
    if (!user) {
        return Refuse(msg::kBadAddress, 0);
    }
    return Plan({{L::BabytreeFirstForm, 0}, {L::BabytreeSecondForm, 1}}, *user);
}

ListPlan PconlineSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    if (FoundAfterStart(text, "_p")) {
        for (int n = 1; n <= 99; ++n) {
            if (ReplaceAll(text, "_p" + std::to_string(n) + "_", "_dk1stp_") > 0) {
                break;
            }
        }
    } else if (HasRoleAfterStart(text, "pconline.personal.fragment")) {
        ReplaceAll(text, ".html", "_dk1stp_n15.html");
    } else {
        const auto user = PartAfter(text, ".cn/", {"/"});
        if (!user) {
            return Refuse(msg::kBadAddress);
        }
        text = SiteBase("pconline.web") + "/" + *user + "/myphoto_dk1stp_n15.html";
    }
    // Without its page marker every list page would be the same address.
    if (!Contains(text, "_dk1stp_")) {
        return Refuse(msg::kBadAddress);
    }
    return Plan({{L::PconlineAlbums, -1}}, text);
}

ListPlan HupuSite(const std::string& text, int, const PageReader&) {
    // Album keys end at the first "-" (a page number), so a user name holding one
    // cannot be requested.
    const std::string user = HupuUser(text);
    if (user.empty() || Contains(user, "-")) {
        return Refuse(msg::kBadAddress);
    }
    return Plan({{L::HupuAlbums, -1}}, text, msg::kHupuNoAlbum);
}

ListPlan JdSite(const std::string& text, int, const PageReader&) {
    if (HasRoleAfterStart(text, "zol.detail.fragment")) {
        return ShopItemPlan(text);
    }
    if (HasRole(text, "jd.item.fragment")) {
        ListPlan plan = Plan({{L::JdItem, 0}}, text);
        plan.autoDownload = AutoDownload::ExactlyOne;
        return plan;
    }
    return Refuse(msg::kJdAddressHint, 0);
}

ListPlan InstagramSite(const std::string& typed, int, const PageReader&) {
    std::string base = typed;
    CutAt(base, {".com/"});
    const auto user = PartAfter(typed, "com/", {"/", "?", "#"});
    if (!user) {
        return Refuse(msg::kBadAddress);
    }
    ListPlan plan = Plan({{L::InstagramAlbums, -1}}, *user);
    plan.pageBase = base;
    plan.autoDownload = AutoDownload::Always;
    return plan;
}

std::string LineBreaks(std::string text) {
    ReplaceAll(text, "^", "\n");
    return text;
}

ListPlan DuitangOrHuabanSite(const std::string& typed, int, const PageReader& fetch) {
    if (HasRoleAfterStart(typed, "duitang.fragment")) {
        const auto page = fetch(typed);
        if (!page) {
            return Nothing();
        }
        ListPlan plan;
        plan.pageBase = "";
        std::string typedText = typed;
        ReplaceAll(typedText, "/album/?id=", "/album/");
        if (FoundAfterStart(typedText, "/album/")) {
            std::string album = typedText.substr(typedText.find("album/") + 6);
            // "/album/?id=55&from=x" became "/album/55&from=x": the id ends at the "&" too.
            CutAt(album, {"?", "#", "/", "&"});
            plan.extra = album;
            plan.autoDownload = AutoDownload::Always;
        }
        std::string work = *page;
        DropThrough(work, "dt-header-btm");
        std::string user = TextBetween(work, "user_id=", "\"");
        if (user.empty()) {
            return Refuse(LineBreaks(msg::kDuitangHint), 0);
        }
        DropThrough(user, "user_id=");
        CutAt(user, {"?", "#"});
        plan.chain = {{L::DuitangAlbums, 0}};
        plan.input = user;
        plan.ownerName = "堆糖_" + user;
        return plan;
    }
    if (!Contains(typed, "/boards/")) {
        return Refuse(LineBreaks(msg::kHuabanHint), 1);
    }
    ListPlan plan = Plan({{L::HuabanBoard, 1}}, typed);
    plan.autoDownload = AutoDownload::Always;
    return plan;
}

ListPlan LofterSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    CutAt(text, {"post/"});
    if (!text.ends_with("/")) {
        text += "/";
    }
    return Plan({{L::LofterAlbums, -1}}, text);
}

ListPlan TopitSite(const std::string& typed, int, const PageReader&) {
    std::string text = typed;
    CutAt(text, {"/item"});
    if (FoundAfterStart(text, "/user/")) {
        CutAt(text, {"/albums"});
    }
    CutAt(text, {"?", "#"});
    return Plan({{L::TopitAlbums, -1}}, text);
}

using SiteRule = ListPlan (*)(const std::string&, int, const PageReader&);

constexpr std::array<SiteRule, 21> kSiteRules = {
    QqSite,
    BaiduSite,
    NeteaseSite,
    RenrenSite,
    SinaSite,
    Site56,
    PocoSite,
    YupooSite,
    Site51,
    ZolSite,
    PchomeSite,
    ShopSite,
    MokoSite,
    BabytreeSite,
    PconlineSite,
    HupuSite,
    JdSite,
    InstagramSite,
    DuitangOrHuabanSite,
    LofterSite,
    TopitSite,
};

}  // namespace

PageReader DefaultPageReader() {
    return [](const std::string& address) -> std::optional<std::string> {
        URLRequest request = AdapterRequest();
        request.headers = kAcceptCompressed;
        std::string text;
        if (!FetchPage(request, address, kDecodeInflate | kDecodeAuto, text)) {
            return std::nullopt;
        }
        return text;
    };
}

ListPlan Classify(int site, int subSelector, const std::string& text, const PageReader& fetch) {
    if (site < 0 || site >= static_cast<int>(kSiteRules.size())) {
        return Nothing();
    }
    return kSiteRules[static_cast<std::size_t>(site)](text, subSelector, fetch);
}

}  // namespace brenvik
