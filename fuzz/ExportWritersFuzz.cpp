// The writers of files read one line at a time: any address, name and header block a
// site hands over. No row of the aria2 list starts more than one entry, no download-list
// entry holds a line break beyond its one separator, and no name or recorded address
// carries a control character into a line.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "download/Collect.h"
#include "download/ListExport.h"
#include "net/TextKit.h"

using namespace brenvik;

namespace {

bool HasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// Lines of the aria2 list that start an entry (options start with a blank).
std::size_t EntryLines(const std::string& input) {
    std::size_t entries = 0;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        entries += end > start && input[start] != ' ';
        start = end + 1;
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<DownloadRow> rows;
    std::size_t withAddress = 0;
    while (input.remaining_bytes() > 0 && rows.size() < 8) {
        const std::string entry = SafeEntry(input.ConsumeRandomLengthString(300));
        const auto [address, fallback] = SplitEntry(entry);
        FUZZ_CHECK(!HasControl(address) && !HasControl(fallback),
                   "an entry's addresses hold no control character");
        FUZZ_CHECK(EscapeAddressControls(address) == address, "escaping is done once");
        const std::string name = input.ConsumeRandomLengthString(100);
        FUZZ_CHECK(!HasControl(WithoutControls(name)), "a listed name holds no control");
        withAddress += !address.empty();
        rows.push_back({entry, name, input.ConsumeRandomLengthString(200)});
    }
    const std::string aria2 = Aria2Input(rows, "/save/album");
    FUZZ_CHECK(EntryLines(aria2) == withAddress, "one aria2 entry per row with an address");
    const std::string json = PhotoListJson(rows, "/save/album");
    FUZZ_CHECK(std::count(json.begin(), json.end(), '\n') == static_cast<long>(rows.size()) + 2 ||
                   rows.empty(),
               "one JSON line per row");
    return 0;
}
