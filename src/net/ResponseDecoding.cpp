// Turning a raw response into page text: inflate, trim to the markers, pick the
// character decoding from the header and the caller's flags, decode entities.
#include <zlib.h>

#include "net/TextKit.h"
#include "net/PageFetcher.h"

namespace brenvik {

bool InflateAppend(std::string& out, std::string_view in, std::size_t cap) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    bool ended = false;
    unsigned char buffer[8192];
    for (;;) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream.avail_out);
        if (rc == Z_STREAM_END) {
            ended = true;
            break;
        }
        if (rc != Z_OK || out.size() >= cap) {
            break;
        }
    }
    inflateEnd(&stream);
    if (out.size() > cap) {
        out.resize(cap);
    }
    return ended && out.size() < cap;
}

bool TrimToMarkers(std::string& bytes, std::string_view startMarker, std::string_view endMarker) {
    if (!startMarker.empty()) {
        // Repeated "erase through the first occurrence" equals erasing through the
        // last of the non-overlapping occurrences found left to right.
        std::size_t cut = std::string::npos;
        for (std::size_t p = bytes.find(startMarker); p != std::string::npos;
             p = bytes.find(startMarker, p + startMarker.size())) {
            cut = p + startMarker.size();
        }
        if (cut != std::string::npos) {
            bytes.erase(0, cut);
        }
    }
    if (!endMarker.empty()) {
        const std::size_t end = bytes.find(endMarker);
        if (end != std::string::npos) {
            bytes.resize(end);
            return true;
        }
    }
    return false;
}

namespace {

std::string DecodeGbkHeaderPage(std::string bytes, unsigned flags) {
    if (!(flags & kDecodeGbkKeepNul)) {
        return FromCodePage(UpToFirstNul(bytes), kCodePageAnsi);
    }
    for (char& c : bytes) {
        if (c == '\0') {
            c = '\x7F';
        }
    }
    std::string text = FromCodePage(bytes, kCodePageAnsi);
    std::erase(text, '\x7F');
    return text;
}

std::string DecodeCharacters(std::string bytes, const std::string& rawHeaders, unsigned flags) {
    if (rawHeaders.find("charset=GBK") != std::string::npos) {
        return DecodeGbkHeaderPage(std::move(bytes), flags);
    }
    if (flags & kDecodeUtf8) {
        return FromCodePage(bytes, kCodePageUtf8);
    }
    if (flags & kDecodeEucKr) {
        return FromCodePage(bytes, kCodePageEucKr);
    }
    if (flags & kDecodeBig5) {
        return FromCodePage(bytes, kCodePageBig5);
    }
    if ((flags & kDecodeAuto) && IsUtf8(bytes)) {
        return FromCodePage(bytes, kCodePageUtf8);
    }
    return FromCodePage(UpToFirstNul(bytes), kCodePageAnsi);
}

}  // namespace

void FetchResponse::GetText(std::string& text, unsigned decodeFlags) const {
    std::string bytes;
    if ((decodeFlags & kDecodeInflate) && gzip) {
        InflateAppend(bytes, body);
    } else {
        bytes = body;
    }
    if (gzip) {
        TrimToMarkers(bytes, startMarker, endMarker);
    }
    text = DecodeCharacters(std::move(bytes), rawHeaders, decodeFlags);
    DecodeEntities(text);
}

void URLRequest::SetBody(std::string_view bytes) {
    body.assign(UpToFirstNul(bytes));
}

}  // namespace brenvik
