// Prints speed figures of the core's hot paths. Not a test: run it and read the numbers.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "session/Session.h"
#include "download/Collect.h"
#include "download/DownloadWorkers.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"
#include "net/TransferPace.h"
#include "net/PageFetcher.h"

namespace {

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A 50 MB page with 500,000 item markers, as a long album list page would be.
void BenchSplitLargePage() {
    const std::string item =
        "{\"id\":\"x\",\"name\":\"album\",\"pad\":\"" + std::string(60, 'p') + "\"}";
    std::string page;
    page.reserve(50u << 20);
    while (page.size() < (50u << 20)) {
        page += "\"item\":";
        page += item;
    }
    brenvik::Pieces pieces;
    std::size_t count = 0;
    const double countTime = Seconds([&] { count = brenvik::CountOccurrences(page, "\"item\":"); });
    const double splitTime = Seconds([&] { brenvik::SplitAll(page, "\"item\":", pieces); });
    std::printf(
        "split: page %.1f MB, %zu markers, CountOccurrences %.3f s, SplitAll %.3f s (%zu pieces)\n",
        static_cast<double>(page.size()) / 1e6, count, countTime, splitTime, pieces.size());
}

class SilentFrontEnd : public brenvik::FrontEnd {
  public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    void OpenLogin(const std::string&) override {}
    void SetControlText(int, const std::string&) override {}
    void AlbumAdded(const brenvik::AlbumRecord&) override {}
    void WorkerNotice(int, int) override {}
    void ListingLook(bool) override {}
    void AutoDownload() override {}
    void DownloadLook(bool) override {}
    void OpenFolder(const std::string&) override {}
    void Notice(const std::string&) override {}
    void DownloadFinished(const brenvik::DownloadJobOutcome&) override {}
};

// 100,000 photos into one album, half of them with the same description so that the
// "name(k)" search runs for every one of those.
void BenchAddPhotos() {
    const auto home = std::filesystem::temp_directory_path() / "brenvik-bench-home";
    std::filesystem::create_directories(home);
    SilentFrontEnd front;
    brenvik::Session session(home, front);
    session.ready = true;
    brenvik::AddAlbum(session, brenvik::AlbumRecord{.name = "Bench"});
    session.downloads.SetAlbumFolder(home);
    constexpr int kPhotos = 100000;
    const double seconds = Seconds([&] {
        for (int i = 0; i < kPhotos; ++i) {
            const std::string url = "http://img.example.test/" + std::to_string(i) + ".jpg";
            brenvik::AddPhoto(session, url, i % 2 ? "sunset" : "photo " + std::to_string(i), "", 0);
        }
    });
    std::printf("add photos: %d photos into one album in %.3f s (%zu rows)\n", kPhotos, seconds,
                session.downloads.Size());
    std::filesystem::remove_all(home);
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Saves one address to a file as a download worker does; prints time, speed and peak memory.
int BenchFetchToFile(const char* address, const char* file) {
    brenvik::URLRequest request(address, file, 60000);
    brenvik::FetchResponse response;
    bool ok = false;
    const double seconds =
        Seconds([&] { ok = brenvik::Fetch(request, response, brenvik::kFetchWorker); });
    std::printf("fetch: %s, %.1f MB in %.3f s (%.0f MB/s), peak resident %ld KiB\n",
                ok ? "ok" : "FAILED", static_cast<double>(response.received) / 1e6, seconds,
                static_cast<double>(response.received) / 1e6 / seconds, PeakResidentKiB());
    return ok ? 0 : 1;
}

// A cookie store as a user logged in to a dozen sites has one: every fetch hands it to
// its transfer and takes the changes back, so its size weighs on each image. Imported
// in one step, so that setting it up costs one save.
void FillCookieStoreAsLoggedIn(const std::filesystem::path& home) {
    const auto file = home / "browser-cookies.txt";
    {
        std::ofstream out(file, std::ios::binary);
        for (int site = 0; site < 12; ++site) {
            for (int i = 0; i < 12; ++i) {
                out << ".site" << site << ".example.test\tTRUE\t/\tFALSE\t0\tc" << i << '\t'
                    << std::string(40, 'v') << '\n';
            }
        }
    }
    brenvik::CookieStore& store = brenvik::CookieStore::Shared();
    store.Open(home / "cookies.txt");
    store.Import(file);
}

// Runs the download workers (15 threads) over the addresses of a file, one a line.
int BenchWorkers(const char* listFile, const char* folder, std::uint64_t bytesPerSecond = 0) {
    brenvik::SetReceiveRateLimit(bytesPerSecond);
    const auto home = std::filesystem::path(folder) / ".home";
    std::filesystem::create_directories(home);
    SilentFrontEnd front;
    brenvik::Session session(home, front);
    FillCookieStoreAsLoggedIn(home);
    session.downloads.SetAlbumFolder(folder);
    std::ifstream list(listFile);
    int n = 0;
    for (std::string url; std::getline(list, url);) {
        session.downloads.Append({url, std::to_string(++n) + ".jpg", ""});
    }
    brenvik::WorkerOutcome outcome;
    const double seconds = Seconds(
        [&] { outcome = brenvik::DownPicFunc(session, brenvik::WorkerSettings{.threads = 15}); });
    std::printf("workers: %d images, %d saved, %d failed in %.3f s, peak resident %ld KiB\n",
                outcome.images, outcome.saved, outcome.failed, seconds, PeakResidentKiB());
    return outcome.failed == 0 ? 0 : 1;
}

}  // namespace

// brenvik_bench                       the in-memory figures
// brenvik_bench fetch URL FILE        save URL to FILE through the page fetcher
// brenvik_bench workers LIST FOLDER   the download workers over the addresses in LIST
// brenvik_bench workers LIST FOLDER BYTES_PER_SECOND   the same under one shared limit
int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "workers") == 0) {
        return BenchWorkers(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    }
    if (argc == 4 && std::strcmp(argv[1], "fetch") == 0) {
        return BenchFetchToFile(argv[2], argv[3]);
    }
    if (argc == 4 && std::strcmp(argv[1], "workers") == 0) {
        return BenchWorkers(argv[2], argv[3]);
    }
    BenchSplitLargePage();
    BenchAddPhotos();
    return 0;
}
