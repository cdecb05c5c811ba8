// Prints speed figures of the core's hot paths. Not a test: run it and read the numbers.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "net/StringCtrl.h"

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

}  // namespace

int main() {
    BenchSplitLargePage();
    return 0;
}
