// Code-page conversions through iconv. GBK pages are decoded with GB18030, its
// superset, because pages labelled GBK routinely carry characters only GB18030 has.
#include <iconv.h>
#include <cerrno>

#include <map>
#include <memory>
#include <utility>

#include "net/StringCtrl.h"

namespace brenvik {
namespace {

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

}  // namespace

std::string ToGbk(std::string_view text) {
    return Convert("GBK", "UTF-8", text, "?", true);
}

std::string FromCodePage(std::string_view bytes, int codePage) {
    return Convert("UTF-8", DecoderName(codePage), bytes, "\xEF\xBF\xBD", false);
}

std::string_view UpToFirstNul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

}  // namespace brenvik
