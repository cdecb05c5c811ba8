// Shop item pictures: 1688 shops and offers, Taobao/Tmall shops, searches and items, JD
// items and ZOL product pages.
#include "sites/Shop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "session/Messages.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "download/Naming.h"
#include "net/Hosts.h"
#include "net/TextKit.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

constexpr const char* kAlibabaHeaders = "Accept-Encoding: gzip, deflate\r\nAccept-Language: zh-cn";
constexpr const char* kFailureFile = "log.err";
constexpr const char* kEmptyListFile = "taobao.tmp";
constexpr unsigned kShopDecode = kDecodeInflate | kDecodeAuto;

// The three failure texts name the file that holds the page nothing was taken from.
constexpr const char* kFailureListing = "获取信息出错,";
constexpr const char* kFailureItem = "获取信息出错(2),";
constexpr const char* kFailureProduct = "获取信息出错(3),";

// --- Shared pieces ---------------------------------------------------------------------

bool FetchShopPage(const std::string& address, const char* headers, std::string& text) {
    URLRequest request = AdapterRequest();
    request.headers = headers;
    return FetchPage(request, address, kShopDecode, text) && !text.empty();
}

// The shops give addresses that begin with "//".
std::string Completed(std::string address) {
    if (address.empty() || address.find("http") != std::string::npos) {
        return address;
    }
    return "http:" + address;
}

bool Contains(const std::string& text, std::string_view marker) {
    return text.find(marker) != std::string::npos;
}

std::string Numbered(const std::string& prefix, const char* stem, int number) {
    return prefix + stem + std::to_string(number);
}

bool OptionSet(const Session& session, unsigned bit) {
    return (session.SaveRules(session.siteIndex).flags & bit) != 0;
}

// Keeps the page a page from which nothing could be taken in the home folder and says
// where it is, so the user can send it in.
void ReportUnreadablePage(Session& session, const std::string& page, const char* failure) {
    const std::filesystem::path file = session.BaseFolder() / kFailureFile;
    WriteUnicodeTextFile(file, page);
    session.Front().ShowMessage(std::string(failure) + "请将" + file.string() +
                                "文件发给作者,以便修改");
}

// A product name or shop name as a folder or file name.
std::string SafeName(std::string text) {
    SanitizeFileName(text, 0, false);
    return text;
}

// --- Description pictures (the "only the description's pictures" option) -------------

// The description address between `start` and the next quote of either kind.
std::string QuotedAddressAfter(const std::string& page, std::string_view start, bool keepStart) {
    const std::size_t at = page.find(start);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t from = keepStart ? at : at + start.size();
    const std::size_t end = page.find_first_of("'\"", at + start.size());
    return end == std::string::npos ? "" : page.substr(from, end - from);
}

// The pictures of the description that `address` names, added as the row's photos.
void AddDescriptionPictures(Session& session, const std::string& address, const std::string& prefix,
                            const char* headers, const std::string& photoHeaders, int albumIndex) {
    std::string description;
    if (address.empty() || !FetchShopPage(Completed(address), headers, description)) {
        return;
    }
    int number = 0;
    for (const std::string& picture : DescriptionPictures(description)) {
        if (!AddPhotoAndGoOn(session, Completed(picture), Numbered(prefix, "描述_", ++number),
                             photoHeaders, albumIndex)) {
            return;
        }
    }
}

// --- 1688 ----------------------------------------------------------------------------

std::string OwnerAfterTag(const std::string& page, std::string_view start) {
    std::string owner = TextBetween(page, start, "</");
    DropThrough(owner, "\">");
    return owner;
}

std::string Owner1688(const std::string& page) {
    std::string owner = OwnerAfterTag(page, "_compname\">");
    if (owner.empty()) {
        owner = OwnerAfterTag(page, "chinaname hidden\"");
    }
    return Trimmed(owner);
}

// False (after telling the user) when the page names no shop.
bool TakeOwner1688(Session& session, const std::string& page) {
    const std::string owner = Owner1688(page);
    if (owner.empty()) {
        session.Front().ShowMessage(msg::kShopOwnerMissing);
        return false;
    }
    session.SetOwnerName(SafeName(owner));
    return true;
}

void Offer1688(Session& session, const std::string& address) {
    std::string page;
    if (!FetchShopPage(address, kAlibabaHeaders, page) || !TakeOwner1688(session, page)) {
        return;
    }
    std::string titled = page;
    SkipPast("class=\"box-img", true, titled);
    AlbumRecord record;
    record.key = address;
    record.name = TextBetween(titled, "title=\"", "\"");
    ReplaceAll(record.name, "点击查看大图：", "");
    AddAlbum(session, record);
    session.SetSiteText(page);
}

// The rows of one offer-list page; false when the listing must stop. Keys seen before
// are counted apart so that a shop that repeats its page ends the paging.
bool OfferListRows(Session& session, std::string page, std::set<std::string>& seen, int& newRows) {
    SkipPast("class=\"filters\"", true, page);
    KeepBefore("common-tips", page);
    Pieces pieces;
    SplitAll(page, "class=\"image", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (!Contains(piece, "class=\"attributes")) {
            continue;
        }
        AlbumRecord record;
        record.key = Completed(TextBetween(piece, "href=\"", "\""));
        record.name = TextBetween(piece, "title=\"", "\"");
        record.coverUrl = Completed(TextBetween(piece, "load-src=\"", "\""));
        if (!seen.insert(record.key).second) {
            continue;
        }
        ++newRows;
        if (!AddAlbumAndGoOn(session, record)) {
            return false;
        }
    }
    return true;
}

void OfferList1688(Session& session, const std::string& address) {
    std::set<std::string> seen;
    for (int pageNumber = 1;; ++pageNumber) {
        std::string page;
        if (!FetchShopPage(address + "&showType=window&pageNum=" + std::to_string(pageNumber),
                           kAlibabaHeaders, page)) {
            return;
        }
        const bool last = FoundAfterStart(page, "class=\"next-disabled");
        if (pageNumber == 1 && !TakeOwner1688(session, page)) {
            return;
        }
        int newRows = 0;
        if (!OfferListRows(session, page, seen, newRows) || last || newRows == 0) {
            return;
        }
    }
}

void List1688(Session& session, const std::string& address) {
    if (Contains(address, ".com/offer")) {
        Offer1688(session, address);
    } else {
        OfferList1688(session, address);
    }
}

// The piece's picture address: up to its quote, and for the "image:url(" form also
// without the closing parenthesis.
std::string OfferPictureAddress(const std::string& piece) {
    std::string address = piece.substr(0, piece.find('"'));
    return address.substr(0, address.find(')'));
}

void Pictures1688(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    std::string page = session.SiteText();
    if (page.empty() && !FetchShopPage(album->key, kAlibabaHeaders, page)) {
        return;
    }
    if (!Contains(page, "data-tfs-url=\"")) {
        ReportUnreadablePage(session, page, kFailureItem);
        return;
    }
    if (OptionSet(session, kFlagShopDescriptionImages)) {
        AddDescriptionPictures(session, TextBetween(page, "data-tfs-url=\"", "\""), "",
                               kAlibabaHeaders, "", albumIndex);
        return;
    }
    Pieces pieces;
    SplitAll(page, Contains(page, "\"original\":\"") ? "\"original\":\"" : "image:url(", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string address = OfferPictureAddress(pieces[i]);
        if (address.size() <= 6) {
            continue;
        }
        if (!AddPhotoAndGoOn(session, Completed(address),
                             Numbered("", "主图_", static_cast<int>(i)), "", albumIndex)) {
            return;
        }
    }
}

// --- Taobao and Tmall ----------------------------------------------------------------

std::string TaobaoOwner(const std::string& page, bool allForms) {
    std::string owner = TextBetween(page, "nickName:", ",");
    if (owner.empty()) {
        owner = TextBetween(page, "NickName\"", ",");
    }
    if (owner.empty() && allForms) {
        owner = TextBetween(page, "sellerNick", ",");
        DropThrough(owner, "'");
    }
    ReplaceAll(owner, "'", "");
    return SafeName(Trimmed(owner));
}

void TaobaoItem(Session& session, const std::string& address) {
    std::string page;
    if (!FetchShopPage(address, kAlibabaHeaders, page)) {
        return;
    }
    std::string name = TextBetween(page, "<title>", "</title>");
    const std::size_t dash = name.rfind('-');
    if (dash != std::string::npos) {
        name.resize(dash);
    }
    session.SetOwnerName(TaobaoOwner(page, true));
    AlbumRecord record;
    record.key = address;
    record.name = Trimmed(name);
    AddAlbum(session, record);
}

bool IsLastTaobaoPage(const std::string& page) {
    const std::size_t disabled = page.find("disable\">下一页");
    return Contains(page, "没有下一页") || (disabled != std::string::npos && disabled >= 10) ||
           !Contains(page, ">下一页</a>");
}

// The item name: the link text after the "item-name" mark.
std::string TaobaoRowName(std::string piece) {
    DropThrough(piece, "<a");
    DropThrough(piece, "class=\"item-name\"");
    std::string name = piece.substr(0, piece.find("</a>"));
    const std::size_t tagEnd = name.rfind('>');
    return Trimmed(tagEnd == std::string::npos ? name : name.substr(tagEnd + 1));
}

enum class RowsOutcome { More, Stop };

RowsOutcome TaobaoRows(Session& session, const std::string& page, std::set<std::string>& seen,
                       int& newRows) {
    std::string area = page;
    SkipPast("排序：", true, area);
    KeepBefore("<button type=\"submit\">确定", area);
    Pieces pieces;
    SplitAll(area, "<dl class=\"item", pieces);
    if (pieces.empty()) {
        SplitAll(area, "<div class=\"item\">", pieces);
    }
    if (pieces.empty()) {
        // Kept for a look at what the shop sent instead of a list.
        WriteUnicodeTextFile(session.BaseFolder() / kEmptyListFile, page);
        return RowsOutcome::Stop;
    }
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        AlbumRecord record;
        record.key = TextBetween(piece, "href=\"", "\"");
        if (record.key.empty()) {
            ReportUnreadablePage(session, page, kFailureListing);
            return RowsOutcome::Stop;
        }
        record.key = Completed(record.key);
        record.coverUrl = TextBetween(piece, "lazyload=\"", "\"");
        if (record.coverUrl.empty()) {
            record.coverUrl = TextBetween(piece, "src=\"", "\"");
        }
        record.coverUrl = Completed(record.coverUrl);
        record.name = TaobaoRowName(piece);
        const std::string sales = Contains(piece, "sale-num\">")
                                      ? TextBetween(piece, "sale-num\">", "</")
                                      : TextBetween(piece, "<em>", "</em>");
        record.number2 = ReadCount(sales);
        if (!seen.insert(record.key).second) {
            continue;
        }
        ++newRows;
        if (!AddAlbumAndGoOn(session, record)) {
            return RowsOutcome::Stop;
        }
    }
    return RowsOutcome::More;
}

void TaobaoList(Session& session, const std::string& address) {
    // The shop pages answer better to a visitor who came through the home page.
    std::string home;
    FetchShopPage(SiteBase("taobao.home") + "/", kAlibabaHeaders, home);
    std::set<std::string> seen;
    for (int pageNumber = 1;; ++pageNumber) {
        std::string page;
        if (!FetchShopPage(address + "&viewType=grid&pageNum=" + std::to_string(pageNumber),
                           kAlibabaHeaders, page)) {
            return;
        }
        if (pageNumber == 1) {
            session.SetOwnerName(TaobaoOwner(page, false));
        }
        if (FoundAfterStart(page, "很抱歉，搜索到“<em>0</em>”个宝贝")) {
            return;
        }
        const bool last = IsLastTaobaoPage(page);
        int newRows = 0;
        if (TaobaoRows(session, page, seen, newRows) == RowsOutcome::Stop || last || newRows == 0) {
            return;
        }
    }
}

void ListTaobao(Session& session, const std::string& address) {
    if (Contains(address, "item.")) {
        TaobaoItem(session, address);
    } else {
        TaobaoList(session, address);
    }
}

std::string TaobaoPrice(const std::string& page) {
    struct Marks {
        std::string_view start;
        std::string_view end;
    };
    static constexpr Marks kPriceMarks[] = {
        {"defaultItemPrice':'", "'"},
        {"price:", ","},
        {"defaultItemPrice\":\"", "\""},
        {"\"tb-rmb-num\">", "<"},
    };
    for (const Marks& marks : kPriceMarks) {
        std::string price = Trimmed(TextBetween(page, marks.start, marks.end));
        if (!price.empty()) {
            return price;
        }
    }
    return "";
}

// The item page, or the package page it points to.
bool FetchTaobaoItem(std::string address, std::string& page) {
    if (!FetchShopPage(address, kAlibabaHeaders, page)) {
        return false;
    }
    const std::string packageHost = Host("taobao.package");
    const bool package = FoundAfterStart(page, "'http://" + packageHost + "/item.htm'") ||
                         FoundAfterStart(page, "'https://" + packageHost + "/item.htm'");
    if (!package) {
        return true;
    }
    ReplaceAll(address, Host("taobao.item"), packageHost);
    return FetchShopPage(address, kAlibabaHeaders, page);
}

// A thumbnail address as the full picture: without the size suffix after the last "_".
std::string TaobaoThumbnailAddress(const std::string& piece) {
    std::string address = Contains(piece, "lazyload=\"") ? TextBetween(piece, "lazyload=\"", "\"")
                                                         : piece.substr(0, piece.find('"'));
    address = address.substr(0, address.find(')'));
    const std::size_t suffix = address.rfind('_');
    if (suffix != std::string::npos) {
        address.resize(suffix);
    }
    return Completed(address);
}

void TaobaoPictures(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    std::string page;
    if (!album || !FetchTaobaoItem(album->key, page)) {
        return;
    }
    if (!FoundAfterStart(page, "//dsc.")) {
        ReportUnreadablePage(session, page, kFailureItem);
        return;
    }
    const ExtendedSettings extended = session.Extended();
    const std::string prefix =
        TaobaoPricePrefix(TaobaoPrice(page), extended.priceInNames, extended.priceAdjustment);
    if (OptionSet(session, kFlagShopDescriptionImages)) {
        AddDescriptionPictures(session, QuotedAddressAfter(page, "//dsc.", true), prefix,
                               kAlibabaHeaders, "", albumIndex);
        return;
    }
    SkipPast("id=\"J_UlThumb\"", true, page);
    KeepBefore("</ul>", page);
    Pieces pieces;
    SplitAll(page, Contains(page, "src=\"") ? "src=\"" : "image:url(", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        if (!AddPhotoAndGoOn(session, TaobaoThumbnailAddress(pieces[i]),
                             Numbered(prefix, "主图_", static_cast<int>(i)), "", albumIndex)) {
            return;
        }
    }
}

// --- JD -------------------------------------------------------------------------------

void JdItem(Session& session, const std::string& address) {
    std::string page;
    if (!FetchShopPage(address, kAcceptCompressed, page)) {
        return;
    }
    std::string intro = page;
    SkipPast("id=\"product-intro", true, intro);
    AlbumRecord record;
    record.key = address;
    record.name = Trimmed(TextBetween(intro, "<h1>", "</"));
    if (record.name.empty()) {
        session.Front().ShowMessage(msg::kShopNameMissing);
        return;
    }
    session.SetOwnerName("京东");
    AddAlbum(session, record);
    session.SetSiteText(page);
}

// The class JD gives the thumbnail strip of an item page.
constexpr const char* kJdThumbStrip =
    "class=\"sp"
    "ec-items";

// The picture addresses of one JD item page (its thumbnail strip), full size.
std::vector<std::string> JdPagePictures(std::string page) {
    if (SkipPast(kJdThumbStrip, true, page) >= 0) {
        KeepBefore("</ul>", page);
    }
    Pieces pieces;
    SplitAll(page, "src=", pieces);
    std::vector<std::string> addresses;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        const char quote = piece.empty() ? '"' : piece[0];
        if (quote != '"' && quote != '\'') {
            continue;
        }
        const std::size_t close = piece.find(quote, 1);
        std::string address = piece.substr(1, close == std::string::npos ? 0 : close - 1);
        if (!address.empty()) {
            addresses.push_back(JdFullSizeAddress(Completed(address)));
        }
    }
    return addresses;
}

struct JdVariant {
    std::string address;
    std::string title;
};

std::vector<JdVariant> JdVariants(std::string page) {
    SkipPast("id=\"summary-stock", true, page);
    KeepBefore("class=\"btn-append", page);
    Pieces pieces;
    SplitAll(page, "class=\"item", pieces);
    std::vector<JdVariant> variants;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        JdVariant variant{Completed(TextBetween(pieces[i], "href=\"", "\"")),
                          TextBetween(pieces[i], "title=\"", "\"")};
        // Shorter addresses are the "#none" links of colours that are sold out.
        if (variant.address.size() >= 15) {
            variants.push_back(std::move(variant));
        }
    }
    return variants;
}

// Every colour's pictures, a picture shared by two colours once.
void JdVariantPictures(Session& session, const std::vector<JdVariant>& variants,
                       const std::string& referer, int albumIndex) {
    for (const JdVariant& variant : variants) {
        std::string page;
        const bool fetched = FetchShopPage(variant.address, kAcceptCompressed, page);
        AdapterPause(session, 2000ms);
        if (PhotoListShouldStop(session)) {
            return;
        }
        if (!fetched) {
            continue;
        }
        int number = 0;
        for (const std::string& address : JdPagePictures(page)) {
            if (session.downloads.FindUrl(address) >= 0) {
                continue;
            }
            if (!AddPhotoAndGoOn(session, address, Numbered(variant.title + "_", "主图_", ++number),
                                 referer, albumIndex)) {
                return;
            }
        }
    }
}

void JdPictures(Session& session, int albumIndex) {
    const auto album = session.albums.At(static_cast<std::size_t>(albumIndex));
    if (!album) {
        return;
    }
    const std::string page = session.SiteText();
    const std::string referer = "Referer: " + album->key;
    if (OptionSet(session, kFlagShopDescriptionImages)) {
        AddDescriptionPictures(session, QuotedAddressAfter(page, "desc: '", false), "",
                               kAcceptCompressed, referer, albumIndex);
        return;
    }
    if (session.Extended().jdChoice == 1) {
        const std::vector<JdVariant> variants = JdVariants(page);
        if (!variants.empty()) {
            JdVariantPictures(session, variants, referer, albumIndex);
            return;
        }
    }
    int number = 0;
    for (const std::string& address : JdPagePictures(page)) {
        if (!AddPhotoAndGoOn(session, address, Numbered("", "主图_", ++number), referer,
                             albumIndex)) {
            return;
        }
    }
}

// --- ZOL product pages ----------------------------------------------------------------

void ZolProduct(Session& session, const std::string& address) {
    std::string page;
    if (!FetchShopPage(address, kAcceptCompressed, page)) {
        return;
    }
    AlbumRecord record;
    record.key = address;
    record.name = SafeName(Trimmed(TextBetween(page, "page-title\">", "<")));
    if (record.name.empty()) {
        session.Front().ShowMessage(msg::kShopNameMissing);
        return;
    }
    session.SetOwnerName("Zol");
    AddAlbum(session, record);
    session.SetSiteText(page);
}

void ZolProductPictures(Session& session, int albumIndex) {
    std::string page = session.SiteText();
    if (!FoundAfterStart(page, "class=\"content")) {
        ReportUnreadablePage(session, page, kFailureProduct);
        return;
    }
    SkipPast("class=\"content", true, page);
    SkipPast("class=\"section", true, page);
    KeepBefore("Detail/RelativePro", page);
    Pieces pieces;
    SplitAll(page, "<li>", pieces);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string address = TextBetween(pieces[i], "src=\"", "\"");
        if (address.size() <= 7) {
            continue;
        }
        ReplaceAll(address, "_120x90/", "/");
        if (!AddPhotoAndGoOn(session, address, "", "", albumIndex)) {
            return;
        }
    }
}

}  // namespace

std::string TaobaoPricePrefix(const std::string& price, bool wanted, int markup) {
    if (!wanted || price.empty()) {
        return "";
    }
    if (markup == 0) {
        return "价格" + price + "元_";
    }
    char text[64];
    std::snprintf(text, sizeof text, "价格%.2f元_", std::strtod(price.c_str(), nullptr) + markup);
    return text;
}

std::string JdFullSizeAddress(std::string address) {
    ReplaceAll(address, "\"", "");
    ReplaceAll(address, "'", "");
    ReplaceAll(address, "/n5/", "/n12/");
    ReplaceAll(address, "/n9/", "/n12/");
    ReplaceAll(address, "/s75x75_jfs/", "/jfs/");
    return address;
}

std::vector<std::string> DescriptionPictures(std::string description) {
    // Descriptions often come as a script string with escaped quotes and slashes.
    ReplaceAll(description, "\\\"", "\"");
    ReplaceAll(description, "\\/", "/");
    Pieces pieces;
    SplitAll(description, "<img", pieces);
    std::vector<std::string> addresses;
    std::set<std::string> seen;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string tag = pieces[i].substr(0, pieces[i].find('>'));
        std::string address = TextBetween(tag, "src=\"", "\"");
        if (address.empty()) {
            address = TextBetween(tag, "src='", "'");
        }
        address = Trimmed(address);
        if (address.size() > 6 && seen.insert(address).second) {
            addresses.push_back(address);
        }
    }
    return addresses;
}

void RegisterShops() {
    RegisterAlbumLister(AlbumLister::Shop1688, &List1688);
    RegisterAlbumLister(AlbumLister::TaobaoShop, &ListTaobao);
    RegisterAlbumLister(AlbumLister::JdItem, &JdItem);
    RegisterAlbumLister(AlbumLister::ShopItem, &ZolProduct);
    RegisterPhotoLister(PhotoLister::Item1688Pictures, &Pictures1688);
    RegisterPhotoLister(PhotoLister::TaobaoItemPictures, &TaobaoPictures);
    RegisterPhotoLister(PhotoLister::JdItemPictures, &JdPictures);
    RegisterPhotoLister(PhotoLister::ShopDetailPictures, &ZolProductPictures);
}

}  // namespace brenvik
