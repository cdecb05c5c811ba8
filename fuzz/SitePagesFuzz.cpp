// The Qzone and Baidu page parsers, driven through the real adapters: every page they ask
// for is answered with the next part of the input (parts end at a line "=====").
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "session/Session.h"
#include "download/Collect.h"
#include "download/ListTypes.h"
#include "net/TextKit.h"
#include "net/PageFetcher.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

using namespace brenvik;

namespace {

// Answers no question and opens no login: the adapters go their "no" ways.
class SilentFrontEnd : public FrontEnd {
  public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    void OpenLogin(const std::string&) override {}
    void SetControlText(int, const std::string&) override {}
    void AlbumAdded(const AlbumRecord&) override {}
    void WorkerNotice(int, int) override {}
    void ListingLook(bool) override {}
    void AutoDownload() override {}
    void DownloadLook(bool) override {}
    void OpenFolder(const std::string&) override {}
    void Notice(const std::string&) override {}
    void DownloadFinished(const DownloadJobOutcome&) override {}
};

struct Target {
    int site;
    int subKind;
    AlbumLister albums;
    PhotoLister photos;
    const char* input;  // what the album list receives
    const char* key;    // the album the photo list reads
};

const Target kTargets[] = {
    {0, 0, AlbumLister::QzoneV2, PhotoLister::QzonePhotos, "12345",
     "idcNum=10&hostUin=12345&albumid=A1"},
    {0, 0, AlbumLister::QzoneV3, PhotoLister::QzoneFallbackPhotos, "12345",
     "idcNum=10&hostUin=12345&albumid=A1"},
    {1, 0, AlbumLister::BaiduAlbums, PhotoLister::BaiduAlbumPhotos, "owner7", "s1"},
    {1, 1, AlbumLister::TiebaForumAlbums, PhotoLister::TiebaAlbumPhotos, "bar", "777"},
    {1, 2, AlbumLister::TiebaPostAlbum, PhotoLister::TiebaPostPictures,
     "https://tieba.baidu.com/photo/p?kw=x&tid=1", "https://tieba.baidu.com/photo/p?kw=x&tid=1"},
};

std::filesystem::path FuzzHome() {
    static const std::filesystem::path home = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brenvik-fuzz-XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()));
    }();
    return home;
}

// Pages may arrive gzip-compressed, as most services send them.
std::string Gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::vector<std::string> Pages(std::string_view text) {
    Pieces pieces;
    SplitAll(text, "\n=====\n", pieces);
    if (pieces.empty()) {
        pieces.emplace_back(text);
    }
    return pieces;
}

void Run(const Target& target, bool gzip, int access, const std::vector<std::string>& pages) {
    static SilentFrontEnd front;
    static Session session(FuzzHome(), front);
    static const bool once = [] {
        RegisterAllSites();
        SetAdapterPauseHook([](std::chrono::milliseconds) {});
        for (int site = 0; site < kSiteSlots; ++site) {
            SaveOptions rules = session.SaveRules(site);
            rules.folderMode = kFolderNone;  // photos never create folders here
            session.SetSaveRules(site, rules);
        }
        session.ready = true;
        return true;
    }();
    (void)once;

    std::size_t next = 0;
    SetPageFetchHook([&](const URLRequest& request, FetchResponse& response) {
        if (next >= pages.size() || request.address.empty()) {
            return false;
        }
        response.rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";
        response.status = 200;
        response.gzip = gzip;
        response.body = gzip ? Gzip(pages[next++]) : pages[next++];
        return true;
    });

    session.albums.Clear();
    session.siteIndex = target.site;
    session.subKind = target.subKind;
    session.listingState = kListingRunning;
    FindAlbumLister(target.albums)(session, target.input);
    for (const auto& album : session.albums.All()) {
        FUZZ_CHECK(album.name.size() <= 255, "album names are cut");
        FUZZ_CHECK(album.name.find('/') == std::string::npos, "album names are one component");
    }
    session.listingState = kListingIdle;

    session.albums.Clear();
    AddAlbum(session, AlbumRecord{
                          .name = "album", .key = target.key, .photoCount = 3, .access = access});
    session.downloads.Clear();
    session.downloads.SetAlbumFolder(FuzzHome());
    session.downloadState = kDownloadRunning;
    FindPhotoLister(target.photos)(session, 0);
    for (const auto& row : session.downloads.Rows()) {
        FUZZ_CHECK(!row.url.empty(), "every photo has an address");
        FUZZ_CHECK(!row.fileName.empty() && row.fileName.size() <= 255, "file names fit");
        FUZZ_CHECK(row.fileName.find('/') == std::string::npos, "file names are one component");
    }
    session.downloadState = kDownloadIdle;
    SetPageFetchHook(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const Target& target = kTargets[data[0] % std::size(kTargets)];
    const bool gzip = (data[0] & 0x80) != 0;
    const int access = (data[0] >> 4) & 0x7;
    Run(target, gzip, access,
        Pages(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)));
    return 0;
}
