// Text extraction toolkit: every site adapter cuts its values out of decoded page
// text between literal markers with these functions. Texts are UTF-8; all searches
// are case-sensitive and treat markers as plain text. Positions are byte offsets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brenvik {

using Pieces = std::vector<std::string>;

// TextBetween flags.
inline constexpr int kTextConsume = 1;    // advance the source past the start marker
inline constexpr int kTextRemainder = 2;  // without an end marker, return the remainder

// The text between the first start marker and the next end marker, or empty text.
std::string TextBetween(std::string& source, std::string_view startMarker,
                        std::string_view endMarker, int flags = 0);
// Same, for callers that never consume their source.
std::string TextBetween(const std::string& source, std::string_view startMarker,
                        std::string_view endMarker);

// Deletes the text before the marker (and the marker with includeMarker); returns its
// position, or -1 when the marker does not occur (the text stays as it was).
std::ptrdiff_t SkipPast(std::string_view marker, bool includeMarker, std::string& text);
// Cuts the text before the marker; returns its position, or -1 (text unchanged).
std::ptrdiff_t KeepBefore(std::string_view marker, std::string& text);
// The text before the first occurrence of the marker; empty when it does not occur.
std::string TextBefore(std::string_view text, std::string_view marker);

// Non-overlapping occurrences, left to right. An empty substring occurs 0 times.
std::size_t CountOccurrences(std::string_view text, std::string_view substring);
// n+1 pieces: the first n separators split; once they run out, every further piece
// repeats the remaining text.
void SplitN(std::string_view text, std::string_view separator, std::size_t n, Pieces& pieces);
// All pieces around every separator; an empty list when the separator does not occur.
void SplitAll(std::string_view text, std::string_view separator, Pieces& pieces);
std::string StripTags(std::string_view text);

// Turns "\uXXXX" escapes into characters; surrogate pairs join, lone halves become U+FFFD.
std::string UnescapeUnicode(std::string_view text);
// Replaces the few entities the sites use, in an order that matters ("&amp;lt;" -> "<").
void DecodeEntities(std::string& text);
// Percent-decodes the GBK form of the text and reads the bytes as UTF-8.
std::string UrlDecodeUtf8(std::string_view text);
// Replaces every occurrence of `from` in `text` by `to`; returns the count.
std::size_t ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Code pages by their Windows numbers; 0 is the system ANSI code page, GBK everywhere.
enum CodePage : int {
    kCodePageAnsi = 0,
    kCodePageGbk = 936,
    kCodePageBig5 = 950,
    kCodePageEucKr = 51949,
    kCodePageUtf8 = 65001,
};

// UTF-8 text to GBK bytes; characters GBK lacks become '?'.
std::string ToGbk(std::string_view text);
// Bytes of a code page to UTF-8 text; invalid sequences become U+FFFD.
std::string FromCodePage(std::string_view bytes, int codePage);
// The text as a quoted JSON string: always valid UTF-8 (invalid bytes become U+FFFD),
// quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text);
// Strict UTF-8 test that also demands at least one non-ASCII byte.
bool IsUtf8(std::string_view bytes);

// The bytes before the first NUL (all of them when there is none).
std::string_view UpToFirstNul(std::string_view bytes);
// The bytes with every NUL left out: a NUL carries no text, and must not end it.
std::string WithoutNuls(std::string bytes);

// An address as one safe token: control characters, blanks and DEL percent-encoded. A
// line break inside a site's address would otherwise start a line of its own in every
// list written one address a line.
std::string EscapeAddressControls(std::string_view address);
// The text without control characters (DEL included): for names and other site texts
// written one a line.
std::string WithoutControls(std::string_view text);

// A cache-buster such as "0.5000000000000000", the same within one second.
std::string RandomFraction();

// The text without blanks, tabs and line breaks at either end.
std::string Trimmed(std::string_view text);
// "host" or "host:port" of an address, lower case; the address itself when it has none.
std::string HostKey(const std::string& address);
// True when the text is made of decimal digits only (an empty text counts).
bool IsDigitsOnly(std::string_view text);
// ASCII letters in lower case; every other byte unchanged.
std::string LowerAscii(std::string text);

// Appends one Unicode character as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// UTF-8 to UTF-16 and back; invalid input and lone surrogates become U+FFFD.
std::u16string ToUtf16(std::string_view text);
std::string FromUtf16(std::u16string_view text);

// Number of Unicode characters in UTF-8 text (a stray byte counts as one).
std::size_t CharCount(std::string_view text);
// The first `count` characters of UTF-8 text, never cut inside a character.
std::string_view FirstChars(std::string_view text, std::size_t count);

}  // namespace brenvik
