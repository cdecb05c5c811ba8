// Code-page conversions through iconv. GBK pages are decoded with GB18030, its
// superset, because pages labelled GBK routinely carry characters only GB18030 has.
#include <iconv.h>
#include <cerrno>

#include <map>
#include <memory>
#include <utility>

#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

const char* DecoderName(int codePage) {
    switch (codePage) {
        case kCodePageUtf8:
            return "UTF-8";
        case kCodePageBig5:
            return "BIG5";
        case kCodePageEucKr:
            return "EUC-KR";
        case kCodePageGbk:
        case kCodePageAnsi:
        default:
            return "GB18030";
    }
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

// iconv descriptors are not thread-safe and costly to open: one per thread and direction.
iconv_t Converter(const char* to, const char* from) {
    thread_local std::map<std::pair<std::string, std::string>, IconvHandle> cache;
    auto& slot = cache[{to, from}];
    if (!slot) {
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            return cd;
        }
        slot.reset(cd);
    }
    iconv(static_cast<iconv_t>(slot.get()), nullptr, nullptr, nullptr, nullptr);
    return static_cast<iconv_t>(slot.get());
}

// Converts what iconv can; each byte it rejects becomes `replacement`, and an
// incomplete sequence at the end becomes one `replacement`.
std::string Convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement, bool skipWholeUtf8Char) {
    std::string out;
    iconv_t cd = Converter(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1) || input.empty()) {
        return out;
    }
    out.reserve(input.size() * 3 / 2 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[8192];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        out.append(replacement);
        if (errno == EINVAL) {
            break;
        }
        std::size_t skip = 1;
        if (skipWholeUtf8Char) {
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) {
                ++skip;
            }
        }
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

// UTF-8 checked byte by byte: only well-formed sequences of code points up to U+10FFFF
// pass. Overlong forms, surrogates and the old 5- and 6-byte forms are refused, each
// maximal broken piece becoming one U+FFFD, so the output is always valid UTF-8 (iconv's
// UTF-8 reader lets code points above U+10FFFF and the long forms through).
std::string DecodeUtf8Strictly(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        int needed = 0;
        unsigned char lower = 0x80;
        unsigned char upper = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            lower = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            upper = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            lower = lead == 0xF0 ? 0x90 : 0x80;  // no overlong forms
            upper = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
        }
        std::size_t next = i + 1;
        int taken = 0;
        while (taken < needed && next < n) {
            const auto c = static_cast<unsigned char>(bytes[next]);
            if (c < lower || c > upper) {
                break;
            }
            lower = 0x80;
            upper = 0xBF;
            ++next;
            ++taken;
        }
        if (needed > 0 && taken == needed) {
            out.append(bytes.substr(i, next - i));
        } else {
            out += kReplacementUtf8;
        }
        i = next;
    }
    return out;
}

}  // namespace

std::string ToGbk(std::string_view text) {
    return Convert("GBK", "UTF-8", text, "?", true);
}

std::string FromCodePage(std::string_view bytes, int codePage) {
    if (codePage == kCodePageUtf8) {
        return DecodeUtf8Strictly(bytes);
    }
    return Convert("UTF-8", DecoderName(codePage), bytes, "\xEF\xBF\xBD", false);
}

std::string_view UpToFirstNul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

}  // namespace brenvik
