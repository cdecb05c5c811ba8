// Response decoding: any body, any charset header, any decode flags, gzip or not.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzCheck.h"
#include "net/PageFetcher.h"

using namespace brenvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    static const char* const kCharsets[] = {"", "charset=GBK", "charset=utf-8", "charset=big5"};
    FetchResponse response;
    response.rawHeaders = std::string("HTTP/1.1 200 OK\r\nContent-Type: text/html; ") +
                          input.PickValueInArray(kCharsets) + "\r\n\r\n";
    const unsigned flags = input.ConsumeIntegral<std::uint8_t>() & 0x3F;
    response.gzip = input.ConsumeBool();
    response.startMarker = input.ConsumeRandomLengthString(16);
    response.endMarker = input.ConsumeRandomLengthString(16);
    response.body = input.ConsumeRemainingBytesAsString();

    std::string text;
    response.GetText(text, flags);
    FUZZ_CHECK(text.find('\0') == std::string::npos || (flags & kDecodeUtf8) ||
                   (flags & (kDecodeEucKr | kDecodeBig5 | kDecodeAuto)),
               "a GBK page is cut at its first NUL");

    std::string inflated;
    const bool ended = InflateAppend(inflated, response.body, 1 << 16);
    FUZZ_CHECK(inflated.size() <= (1u << 16), "inflating stops at the cap");
    FUZZ_CHECK(!ended || inflated.size() < (1u << 16), "a capped stream never counts as ended");

    std::string trimmed = response.body;
    const bool metEnd = TrimToMarkers(trimmed, response.startMarker, response.endMarker);
    FUZZ_CHECK(trimmed.size() <= response.body.size(), "trimming never grows the text");
    FUZZ_CHECK(!metEnd || !response.endMarker.empty(), "no end marker, never met");
    return 0;
}
