// The text toolkit every adapter cuts pages with: markers, splits, escapes, code pages.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzCheck.h"
#include "net/TextKit.h"

using namespace brenvik;

namespace {

std::string Joined(const Pieces& pieces, const std::string& separator) {
    std::string text;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        text += (i ? separator : "") + pieces[i];
    }
    return text;
}

void Markers(std::string text, const std::string& start, const std::string& end) {
    std::string source = text;
    TextBetween(source, start, end, kTextConsume | kTextRemainder);
    FUZZ_CHECK(source.size() <= text.size(), "consuming never grows the source");
    const std::string between = TextBetween(text, start, end);
    FUZZ_CHECK(between.size() <= text.size(), "a cut is part of the text");

    std::string skipped = text;
    const std::ptrdiff_t at = SkipPast(start, true, skipped);
    FUZZ_CHECK(at < 0 ? skipped == text : text.ends_with(skipped), "skipping keeps the tail");
    std::string kept = text;
    const std::ptrdiff_t before = KeepBefore(end, kept);
    FUZZ_CHECK(before < 0 ? kept == text : text.starts_with(kept), "keeping keeps the head");
    FUZZ_CHECK(TextBefore(text, end).size() <= text.size(), "a head is part of the text");
}

void Splits(const std::string& text, const std::string& separator, std::size_t n) {
    Pieces all;
    SplitAll(text, separator, all);
    if (!all.empty()) {
        FUZZ_CHECK(Joined(all, separator) == text, "pieces and separators make the text");
        FUZZ_CHECK(all.size() == CountOccurrences(text, separator) + 1,
                   "one piece more than separators");
    }
    Pieces first;
    SplitN(text, separator, n, first);
    FUZZ_CHECK(first.size() == n + 1, "SplitN gives n+1 pieces");
}

void Escapes(const std::string& text) {
    UnescapeUnicode(text);
    std::string decoded = text;
    DecodeEntities(decoded);
    UrlDecodeUtf8(text);
    StripTags(text);
    const std::string gbk = ToGbk(text);
    for (const int page :
         {kCodePageAnsi, kCodePageGbk, kCodePageBig5, kCodePageEucKr, kCodePageUtf8}) {
        FromCodePage(text, page);
    }
    FromCodePage(gbk, kCodePageGbk);
    IsUtf8(text);
    const std::string utf8 = FromUtf16(ToUtf16(text));
    FUZZ_CHECK(FromUtf16(ToUtf16(utf8)) == utf8, "UTF-16 round trip is stable");
    std::string replaced = text;
    ReplaceAll(replaced, "a", "ab");
    Trimmed(text);
    LowerAscii(text);
}

void Characters(const std::string& text, std::size_t count) {
    const std::string_view head = FirstChars(text, count);
    FUZZ_CHECK(std::string_view(text).starts_with(head), "the first characters are a prefix");
    FUZZ_CHECK(CharCount(head) <= count, "no more characters than asked");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string start = input.ConsumeRandomLengthString(12);
    const std::string end = input.ConsumeRandomLengthString(12);
    const std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    const std::string text = input.ConsumeRemainingBytesAsString();
    Markers(text, start, end);
    Splits(text, start, n);
    Escapes(text);
    Characters(text, n * 7);
    return 0;
}
