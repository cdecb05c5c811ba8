#include "net/TextKit.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>

namespace brenvik {

std::string TextBetween(std::string& source, std::string_view startMarker,
                        std::string_view endMarker, int flags) {
    const std::size_t start = source.find(startMarker);
    if (start == std::string::npos) {
        return {};
    }
    std::string remainder = source.substr(start + startMarker.size());
    std::string result;
    if (flags & kTextRemainder) {
        result = remainder;
    }
    const std::size_t end = remainder.find(endMarker);
    if (end != std::string::npos) {
        result = remainder.substr(0, end);
    }
    if (flags & kTextConsume) {
        source = std::move(remainder);
    }
    return result;
}

std::string TextBetween(const std::string& source, std::string_view startMarker,
                        std::string_view endMarker) {
    const std::size_t start = source.find(startMarker);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t from = start + startMarker.size();
    const std::size_t end = source.find(endMarker, from);
    if (end == std::string::npos) {
        return {};
    }
    return source.substr(from, end - from);
}

std::ptrdiff_t SkipPast(std::string_view marker, bool includeMarker, std::string& text) {
    const std::size_t p = text.find(marker);
    if (p == std::string::npos) {
        return -1;
    }
    text.erase(0, includeMarker ? p + marker.size() : p);
    return static_cast<std::ptrdiff_t>(p);
}

std::ptrdiff_t KeepBefore(std::string_view marker, std::string& text) {
    const std::size_t p = text.find(marker);
    if (p == std::string::npos) {
        return -1;
    }
    text.resize(p);
    return static_cast<std::ptrdiff_t>(p);
}

std::string TextBefore(std::string_view text, std::string_view marker) {
    const std::size_t p = text.find(marker);
    return p == std::string::npos ? std::string() : std::string(text.substr(0, p));
}

std::size_t CountOccurrences(std::string_view text, std::string_view substring) {
    if (substring.empty()) {
        return 0;
    }
    std::size_t count = 0;
    for (std::size_t p = text.find(substring); p != std::string_view::npos;
         p = text.find(substring, p + substring.size())) {
        ++count;
    }
    return count;
}

// Walks a cursor through the text instead of dropping each piece from its front,
// which keeps splitting a large page linear.
void SplitN(std::string_view text, std::string_view separator, std::size_t n, Pieces& pieces) {
    pieces.clear();
    pieces.reserve(n + 1);
    std::size_t cursor = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        const std::size_t p = text.find(separator, cursor);
        if (p == std::string_view::npos) {
            pieces.emplace_back(text.substr(cursor));
        } else {
            pieces.emplace_back(text.substr(cursor, p - cursor));
            cursor = p + separator.size();
        }
    }
}

void SplitAll(std::string_view text, std::string_view separator, Pieces& pieces) {
    pieces.clear();
    const std::size_t count = CountOccurrences(text, separator);
    if (count > 0) {
        SplitN(text, separator, count, pieces);
    }
}

std::size_t ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return 0;
    }
    std::size_t count = 0;
    std::string out;
    std::size_t cursor = 0;
    for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, cursor)) {
        out.append(text, cursor, p - cursor).append(to);
        cursor = p + from.size();
        ++count;
    }
    if (count > 0) {
        out.append(text, cursor);
        text = std::move(out);
    }
    return count;
}

std::string StripTags(std::string_view text) {
    std::string result(text);
    std::string work(text);
    for (;;) {
        const std::string tag = TextBetween(work, "<", ">", kTextConsume);
        if (tag.empty()) {
            return result;
        }
        ReplaceAll(result, "<" + tag + ">", "");
    }
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Collects UTF-16 code units from escapes and emits UTF-8, pairing surrogates.
class Utf16Joiner {
  public:
    explicit Utf16Joiner(std::string& out) : out_(out) {}
    ~Utf16Joiner() { Flush(); }
    Utf16Joiner(const Utf16Joiner&) = delete;
    Utf16Joiner& operator=(const Utf16Joiner&) = delete;

    void AddUnit(char16_t unit) {
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (low && pendingHigh_ != 0) {
            AppendUtf8(out_, 0x10000 + ((pendingHigh_ - 0xD800) << 10) + (unit - 0xDC00));
            pendingHigh_ = 0;
            return;
        }
        Flush();
        if (high) {
            pendingHigh_ = unit;
        } else if (low) {
            AppendUtf8(out_, kReplacement);
        } else if (unit != 0) {
            AppendUtf8(out_, unit);
        }
    }
    void AddText(std::string_view text) {
        if (!text.empty()) {
            Flush();
            out_.append(text);
        }
    }

  private:
    void Flush() {
        if (pendingHigh_ != 0) {
            AppendUtf8(out_, kReplacement);
            pendingHigh_ = 0;
        }
    }
    std::string& out_;
    char16_t pendingHigh_ = 0;
};

}  // namespace

std::string UnescapeUnicode(std::string_view text) {
    Pieces pieces;
    SplitN(text, "\\u", CountOccurrences(text, "\\u"), pieces);
    std::string out;
    out.reserve(text.size());
    {
        Utf16Joiner joiner(out);
        joiner.AddText(pieces[0]);
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string_view piece = pieces[i];
            const std::string_view head = FirstChars(piece, 4);
            if (CharCount(head) < 4) {
                joiner.AddText(piece);
                continue;
            }
            unsigned value = 0;
            for (char c : head) {
                const int digit = HexValue(c);
                if (digit < 0) {
                    break;
                }
                value = value * 16 + static_cast<unsigned>(digit);
            }
            joiner.AddUnit(static_cast<char16_t>(value));
            joiner.AddText(piece.substr(head.size()));
        }
    }
    return out;
}

void DecodeEntities(std::string& text) {
    static constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&quot;", "\""}, {"&amp;", "&"},         {"&lt;", "<"},  {"&gt;", ">"},
        {"&nbsp;", " "},  {"&hellip;", "\u2026"}, {"&#39;", "'"},
    };
    if (text.find('&') == std::string::npos) {
        return;
    }
    for (const auto& [entity, replacement] : kEntities) {
        ReplaceAll(text, entity, replacement);
    }
}

std::string UrlDecodeUtf8(std::string_view text) {
    const std::string gbk = ToGbk(text);
    std::string bytes;
    bytes.reserve(gbk.size());
    for (std::size_t i = 0; i < gbk.size(); ++i) {
        if (gbk[i] != '%') {
            bytes += gbk[i];
            continue;
        }
        const int hi = i + 1 < gbk.size() ? HexValue(gbk[i + 1]) : -1;
        const int lo = i + 2 < gbk.size() ? HexValue(gbk[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            break;
        }
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    // The decoded bytes are read as a C string: an escaped NUL ends them.
    return FromCodePage(UpToFirstNul(bytes), kCodePageUtf8);
}

bool IsUtf8(std::string_view bytes) {
    if (bytes.empty()) {
        return false;
    }
    bool sawHighByte = false;
    int continuations = 0;
    for (unsigned char b : bytes) {
        if (b >= 0x80) {
            sawHighByte = true;
        }
        if (continuations > 0) {
            if (b < 0x80 || b > 0xBF) {
                return false;
            }
            --continuations;
            continue;
        }
        if (b < 0x80) {
            continue;
        }
        if (b <= 0xBF) {
            return false;
        }
        if (b <= 0xDF) {
            continuations = 1;
        } else if (b <= 0xEF) {
            continuations = 2;
        } else if (b <= 0xF7) {
            continuations = 3;
        } else if (b <= 0xFB || b >= 0xFE) {
            continuations = 4;
        } else {
            continuations = 5;
        }
    }
    return continuations == 0 && sawHighByte;
}

std::string RandomFraction() {
    std::minstd_rand generator(static_cast<std::uint_fast32_t>(std::time(nullptr)));
    std::uniform_int_distribution<int> draw(0, 32767);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0.16f", draw(generator) / 32767.0);
    return buffer;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::u16string ToUtf16(std::string_view text) {
    const std::string clean = FromCodePage(text, kCodePageUtf8);
    std::u16string out;
    out.reserve(clean.size());
    for (std::size_t i = 0; i < clean.size();) {
        const auto lead = static_cast<unsigned char>(clean[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1   ? lead
                     : length == 2 ? lead & 0x1F
                     : length == 3 ? lead & 0x0F
                                   : lead & 0x07;
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < clean.size(); ++k) {
            c = (c << 6) |
                (static_cast<unsigned char>(clean[i + static_cast<std::size_t>(k)]) & 0x3F);
        }
        i += static_cast<std::size_t>(length);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string HostKey(const std::string& address) {
    const std::size_t scheme = address.find("://");
    const std::size_t start = scheme != std::string::npos ? scheme + 3
                              : address.starts_with("//") ? 2
                                                          : 0;
    const std::size_t end = address.find_first_of("/?#", start);
    std::string authority = address.substr(start, end == std::string::npos ? end : end - start);
    const std::size_t user = authority.rfind('@');
    if (user != std::string::npos) {
        authority.erase(0, user + 1);
    }
    return LowerAscii(authority);
}

bool IsDigitsOnly(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::size_t CharCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char b : text) {
        if ((b & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

std::string_view FirstChars(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) {
            break;
        }
    }
    return text.substr(0, i);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    // JSON is UTF-8: whatever a site or a file name holds, no invalid byte goes out.
    for (const unsigned char c : FromCodePage(text, kCodePageUtf8)) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace brenvik
