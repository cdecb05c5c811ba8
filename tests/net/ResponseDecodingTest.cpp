#include <zlib.h>

#include <gtest/gtest.h>

#include "net/TextKit.h"
#include "net/PageFetcher.h"

namespace brenvik {
namespace {

// windowBits 31 writes a gzip wrapper, 15 a zlib one, -15 raw deflate.
std::string Compress(std::string_view data, int windowBits) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 32, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

FetchResponse Response(std::string body, std::string headers, bool gzip = false) {
    FetchResponse r;
    r.body = std::move(body);
    r.rawHeaders = std::move(headers);
    r.gzip = gzip;
    return r;
}

std::string Text(const FetchResponse& r, unsigned flags) {
    std::string text = "stale";
    r.GetText(text, flags);
    return text;
}

constexpr const char* kPlainHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
constexpr const char* kGzipHeaders = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n";
constexpr const char* kGbkHeaders =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=GBK\r\n\r\n";

TEST(InflateAppend, GzipAndZlibWrappers) {
    const std::string page = "<html>" + std::string(50000, 'x') + "相册</html>";
    for (int bits : {31, 15}) {
        std::string out;
        EXPECT_TRUE(InflateAppend(out, Compress(page, bits)));
        EXPECT_EQ(out, page);
    }
    std::string out;
    EXPECT_FALSE(InflateAppend(out, "not compressed at all"));
    EXPECT_TRUE(out.empty());
}

TEST(InflateAppend, TruncatedStreamKeepsWhatInflated) {
    std::string page;
    for (int i = 0; i < 20000; ++i) {
        page += std::to_string(i) + ",";
    }
    const std::string packed = Compress(page, 31);
    std::string out;
    EXPECT_FALSE(InflateAppend(out, std::string_view(packed).substr(0, packed.size() / 2)));
    EXPECT_GT(out.size(), 1000u);
    EXPECT_EQ(out, page.substr(0, out.size()));

    std::string corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x5A;
    out.clear();
    EXPECT_FALSE(InflateAppend(out, corrupt));
    EXPECT_EQ(out.substr(0, 100), page.substr(0, 100));
}

// A small stream that expands to far more than any page: it must stop at the cap.
std::string GzipBomb(std::size_t inflatedBytes) {
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[65536];
    for (std::size_t done = 0; done < inflatedBytes; done += zeros.size()) {
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        s.avail_in = static_cast<uInt>(zeros.size());
        const int flush = done + zeros.size() >= inflatedBytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            deflate(&s, flush);
            out.append(buffer, sizeof buffer - s.avail_out);
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return out;
}

TEST(InflateAppend, DecompressionBombStopsAtCap) {
    const std::string bomb = GzipBomb(std::size_t{300} << 20);
    ASSERT_LT(bomb.size(), 1u << 20);
    std::string out;
    EXPECT_FALSE(InflateAppend(out, bomb));
    EXPECT_EQ(out.size(), kMaxInflatedBytes);

    out.clear();
    EXPECT_FALSE(InflateAppend(out, bomb, 1 << 20));
    EXPECT_EQ(out.size(), 1u << 20);
}

TEST(GetText, GzipInflatedEqualsPlainPage) {
    const std::string page = "<p>中文 &amp; more</p>";
    const auto plain = Response(page, kPlainHeaders);
    const auto packed = Response(Compress(page, 31), kGzipHeaders, true);
    EXPECT_EQ(Text(packed, kDecodeInflate | kDecodeUtf8), Text(plain, kDecodeUtf8));
    EXPECT_EQ(Text(plain, kDecodeUtf8), "<p>中文 & more</p>");
    // Without the inflate bit the compressed bytes are decoded as they are.
    const std::string garbled = Text(packed, kDecodeUtf8);
    EXPECT_NE(garbled, Text(plain, kDecodeUtf8));
    EXPECT_TRUE(IsUtf8(garbled));
}

TEST(GetText, MarkersApplyToGzipBodiesOnly) {
    const std::string page = "head START a START b END c END";
    auto packed = Response(Compress(page, 31), kGzipHeaders, true);
    packed.startMarker = "START";
    packed.endMarker = "END";
    EXPECT_EQ(Text(packed, kDecodeInflate | kDecodeUtf8), " b ");

    auto plain = Response(page, kPlainHeaders);
    plain.startMarker = "START";
    plain.endMarker = "END";
    EXPECT_EQ(Text(plain, kDecodeUtf8), page);
}

TEST(GetText, GbkHeaderRuleAndEmbeddedNul) {
    const std::string bytes = std::string("\xD6\xD0", 2) + std::string(1, '\0') + "\xCE\xC4 tail";
    const auto r = Response(bytes, kGbkHeaders);
    EXPECT_EQ(Text(r, kDecodeGbkKeepNul | kDecodeInflate), "中文 tail");
    EXPECT_EQ(Text(r, kDecodeInflate), "中");
    // The GBK header wins over the UTF-8 flag.
    EXPECT_EQ(Text(r, kDecodeUtf8), "中");
    // The header rule is case-sensitive: "charset=gbk" leaves the flags in charge.
    const auto lower =
        Response("\xE4\xB8\xAD", "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=gbk\r\n");
    EXPECT_EQ(Text(lower, kDecodeUtf8), "中");
}

TEST(GetText, FlagOrderAndFallbacks) {
    const auto big5 = Response("\xA4\xA4", kPlainHeaders);
    EXPECT_EQ(Text(big5, kDecodeBig5), "中");
    EXPECT_EQ(Text(big5, kDecodeBig5 | kDecodeEucKr), Text(big5, kDecodeEucKr));
    const auto korean = Response("\xC7\xD1", kPlainHeaders);
    EXPECT_EQ(Text(korean, kDecodeEucKr), "한");
    const auto utf8 = Response("\xE4\xB8\xAD", kPlainHeaders);
    EXPECT_EQ(Text(utf8, kDecodeUtf8 | kDecodeBig5), "中");
    EXPECT_EQ(Text(utf8, kDecodeAuto), "中");
    const auto gbk = Response(std::string("\xD6\xD0\0x", 4), kPlainHeaders);
    EXPECT_EQ(Text(gbk, kDecodeAuto), "中");
    EXPECT_EQ(Text(gbk, 0), "中");
    EXPECT_EQ(Text(Response("plain ascii", kPlainHeaders), kDecodeAuto), "plain ascii");
    EXPECT_EQ(Text(Response("", kPlainHeaders), kDecodeUtf8), "");
}

TEST(GetText, EntitiesDecodedLast) {
    EXPECT_EQ(Text(Response("a&amp;lt;b", kPlainHeaders), kDecodeUtf8), "a<b");
    // An entity built by decoding stays: entity decoding runs once on the final text.
    EXPECT_EQ(Text(Response("&#39;&hellip;", kPlainHeaders), kDecodeAuto), "'\u2026");
}

TEST(TrimToMarkers, NonOverlappingStartMarkersLeftToRight) {
    std::string bytes = "aaa";
    EXPECT_FALSE(TrimToMarkers(bytes, "aa", ""));
    EXPECT_EQ(bytes, "a");
    bytes = "x<a>1<a>2</a>3";
    EXPECT_TRUE(TrimToMarkers(bytes, "<a>", "</a>"));
    EXPECT_EQ(bytes, "2");
    bytes = "nothing";
    EXPECT_FALSE(TrimToMarkers(bytes, "<", ">"));
    EXPECT_EQ(bytes, "nothing");
}

TEST(URLRequest, BodyEndsAtFirstNul) {
    URLRequest request("http://example.test/", "", 20000);
    request.SetBody(std::string("a=1\0b=2", 7));
    EXPECT_EQ(request.body, "a=1");
    request.SetBody("");
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(request.readTimeoutMs, 20000u);
    EXPECT_EQ(request.operationTimeoutMs, 20000u);
    EXPECT_EQ(request.verb, "GET");
    EXPECT_EQ(request.attempts, 1);
    EXPECT_EQ(request.pauseSeconds, 1);
}

}  // namespace
}  // namespace brenvik
