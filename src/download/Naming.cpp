#include "download/Naming.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <optional>

#include "net/AtomicFile.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::size_t kFallbackChars = 1000;
constexpr std::size_t kPathRoomChars = 250;
// A name never shrinks below this many characters, however deep the album folder.
constexpr std::size_t kMinNameChars = 16;

constexpr std::string_view kIdeographicSpace = "\u3000";

bool IsSpaceAt(std::string_view text, std::size_t at, std::size_t& length) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
        length = 1;
        return true;
    }
    if (text.substr(at).starts_with(kIdeographicSpace)) {
        length = kIdeographicSpace.size();
        return true;
    }
    return false;
}

void TrimSpace(std::string& text) {
    std::size_t length = 0;
    std::size_t start = 0;
    while (start < text.size() && IsSpaceAt(text, start, length)) {
        start += length;
    }
    text.erase(0, start);
    while (!text.empty()) {
        if (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
            text.back() == '\n' || text.back() == '\v' || text.back() == '\f') {
            text.pop_back();
        } else if (text.ends_with(kIdeographicSpace)) {
            text.resize(text.size() - kIdeographicSpace.size());
        } else {
            break;
        }
    }
}

bool IsRemovedCharacter(char c) {
    switch (c) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
        case '\x7F':
            return true;
        default:
            // Control characters have no place in a name (TAB is handled before).
            return static_cast<unsigned char>(c) < 0x20;
    }
}

std::string LocalTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%S", &local);
    return buffer;
}

std::string Number(long long value) {
    return std::to_string(value);
}

std::string FourDigits(long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04lld", value);
    return buffer;
}

void ReplaceEscape(std::string& text, int digit, const std::string& value) {
    ReplaceAll(text, "?" + std::to_string(digit), value);
}

bool IsImageExtension(const std::string& ext) {
    static const std::array<std::string_view, 6> kKnown = {".jpeg", ".jpg", ".bmp",
                                                           ".gif",  ".png", ".tif"};
    const std::string lowered = LowerAscii(ext);
    return std::find(kKnown.begin(), kKnown.end(), lowered) != kKnown.end();
}

// First bytes and the extension they show.
struct Magic {
    std::string_view bytes;
    std::string_view extension;
};
constexpr Magic kMagic[] = {
    {"\xFF\xD8", ".jpg"},
    {"\x89\x50", ".png"},
    {"GIF", ".gif"},
    {"BM", ".bmp"},
    {std::string_view("\x00\x00\x02\x00\x00", 5), ".tga"},
    {std::string_view("\x00\x00\x10\x00\x00", 5), ".tga"},
    {std::string_view("\x00\x00\x01\x00\x01", 5), ".ico"},
    {std::string_view("\x00\x00\x02\x00\x01", 5), ".cur"},
    {"MM", ".tiff"},
    {"II", ".tiff"},
};

std::string ExtensionOf(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string Utf16LeBytes(const std::string& text) {
    std::string bytes;
    for (char16_t unit : ToUtf16(text)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace

std::string CutToBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut));
}

void SanitizeFileName(std::string& text, unsigned fallbackNumber, bool fallback) {
    DecodeEntities(text);
    CleanFileName(text, fallbackNumber, fallback);
}

void CleanFileName(std::string& text, unsigned fallbackNumber, bool fallback) {
    while (ReplaceAll(text, "  ", " ") > 0) {
    }
    TrimSpace(text);
    ReplaceAll(text, "\t", "_");
    std::erase_if(text, IsRemovedCharacter);
    TrimSpace(text);
    const bool onlyDots = !text.empty() && text.find_first_not_of('.') == std::string::npos;
    // A name of dots alone stays visible as full-width dots; any other name loses its
    // leading and trailing dots. Checked after the removals, which can leave ".." behind.
    if (onlyDots) {
        ReplaceAll(text, ".", "\u3002");
    }
    // Until nothing changes: ". . ." must not end as ".".
    for (std::string before; before != text;) {
        before = text;
        const std::size_t first = text.find_first_not_of('.');
        text.erase(0, first == std::string::npos ? text.size() : first);
        while (!text.empty() && text.back() == '.') {
            text.pop_back();
        }
        TrimSpace(text);
    }
    if (fallback && (text.empty() || CharCount(text) >= kFallbackChars)) {
        text = fallbackNumber == kTimeStampFallback ? LocalTimeStamp()
                                                    : "pic" + std::to_string(fallbackNumber);
    }
}

bool IsSafeComponent(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameBytes &&
           name.find_first_not_of('.') != std::string_view::npos &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<std::filesystem::path> JoinInside(const std::filesystem::path& parent,
                                                const std::string& name) {
    if (!IsSafeComponent(name)) {
        return std::nullopt;
    }
    std::filesystem::path base = parent.lexically_normal();
    if (!base.has_filename() && base.has_parent_path()) {
        base = base.parent_path();
    }
    std::filesystem::path joined = (base / name).lexically_normal();
    if (joined.parent_path() != base) {
        return std::nullopt;
    }
    return joined;
}

void ReplaceList(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t count = CountOccurrences(from, "|");
    if (count != CountOccurrences(to, "|")) {
        ReplaceAll(text, from, to);
        return;
    }
    Pieces fromPieces;
    Pieces toPieces;
    SplitN(from, "|", count, fromPieces);
    SplitN(to, "|", count, toPieces);
    for (std::size_t i = 0; i <= count; ++i) {
        ReplaceAll(text, fromPieces[i], toPieces[i]);
    }
}

PhotoName BuildPhotoName(const std::string& imageUrl, const std::string& nameText,
                         const NamingFacts& facts, std::size_t rowCount) {
    PhotoName photo;
    std::string base;
    const auto sequenceBase = [&] {
        photo.unique = true;
        return Number(static_cast<long long>(rowCount) + 1);
    };
    switch (facts.rules.namingMode) {
        case kNameByDescription:
            base = nameText;
            SanitizeFileName(base, 0, false);
            if (base.empty()) {
                base = facts.album.name;
            }
            break;
        case kNameByAddress: {
            const std::size_t slash = imageUrl.rfind('/');
            base = slash != std::string::npos && slash >= 1 ? imageUrl.substr(slash + 1)
                                                            : sequenceBase();
            DecodeEntities(base);
            break;
        }
        default:
            base = sequenceBase();
            break;
    }
    std::string name = facts.rules.filePrefix + base + facts.rules.fileSuffix;
    if (name.find("?2") != std::string::npos) {
        photo.unique = true;
    }
    const AlbumRecord& album = facts.album;
    ReplaceEscape(name, 1, album.name);
    ReplaceEscape(name, 2, Number(static_cast<long long>(rowCount) + 1));
    ReplaceEscape(name, 3, Number(album.position + 1));
    ReplaceEscape(name, 4, Number(album.likeCount));
    ReplaceEscape(name, 5, Number(album.number2));
    ReplaceEscape(name, 6, Number(facts.selectedCount));
    ReplaceEscape(name, 7, Number(facts.albumCount));
    ReplaceEscape(name, 8, facts.ownerName);
    ReplaceEscape(name, 9, FourDigits(album.position + 1));
    ReplaceList(name, facts.rules.replaceFrom, facts.rules.replaceTo);
    // Every piece was decoded once already (the description, the album and owner names);
    // decoding again would turn "&amp;lt;" into "<" and let ".." through.
    CleanFileName(name, kTimeStampFallback, true);
    photo.name = std::move(name);
    return photo;
}

std::string BuildAlbumFolder(const NamingFacts& facts) {
    const AlbumRecord& album = facts.album;
    std::string folder = facts.rules.folderPrefix +
                         (facts.rules.folderMode == kFolderAlbumName ? album.name : "") +
                         facts.rules.folderSuffix;
    ReplaceEscape(folder, 1, album.name);
    ReplaceEscape(folder, 3, Number(album.position + 1));
    ReplaceEscape(folder, 4, Number(facts.albumCount - album.position));
    if (facts.siteIndex == 0) {
        ReplaceEscape(folder, 5, album.text4);
    }
    ReplaceEscape(folder, 9, FourDigits(album.position + 1));
    CleanFileName(folder, 0, false);
    return CutToBytes(folder, kMaxNameBytes);
}

std::string FinishPhotoName(PhotoName photo, const std::filesystem::path& albumFolder,
                            DownloadList& list) {
    std::string name = std::move(photo.name);
    // Room left by a 250-character path, as names have always been cut.
    const std::size_t folderChars = CharCount(albumFolder.string()) + 1;
    const std::size_t room =
        std::max(kMinNameChars, folderChars < kPathRoomChars ? kPathRoomChars - folderChars : 0);
    name = std::string(FirstChars(name, room));

    std::string ext = ".jpg";
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && IsImageExtension(name.substr(dot))) {
        ext = name.substr(dot);
        name.resize(dot);
    }
    // The file system's own limit, counted in bytes.
    name = CutToBytes(name, kMaxNameBytes - ext.size());
    if (list.Size() + list.Skipped() > 0 && !photo.unique && list.FindFileName(name + ext) >= 0) {
        const std::string taken = name + ext;
        for (unsigned k = list.SuffixHint(taken);; ++k) {
            const std::string suffix = "(" + std::to_string(k) + ")";
            const std::string candidate =
                CutToBytes(name, kMaxNameBytes - ext.size() - suffix.size()) + suffix;
            if (list.FindFileName(candidate + ext) < 0) {
                list.SetSuffixHint(taken, k + 1);
                name = candidate;
                break;
            }
        }
    }
    return name + ext;
}

std::filesystem::path FixFileType(const std::filesystem::path& file, const std::string& extra) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return file;
    }
    char head[5] = {};
    in.read(head, sizeof head);
    const std::string_view first(head, static_cast<std::size_t>(in.gcount()));
    in.close();

    std::string ext = extra.empty() ? ExtensionOf(file) : extra;
    for (const Magic& magic : kMagic) {
        if (first.starts_with(magic.bytes)) {
            ext = magic.extension;
            break;
        }
    }
    const std::string oldExt = ExtensionOf(file);
    if (ext == oldExt) {
        return file;
    }
    const std::string name = file.filename().string();
    const std::string stem = name.substr(0, name.size() - oldExt.size());
    const std::filesystem::path target =
        file.parent_path() / (CutToBytes(stem, kMaxNameBytes - ext.size()) + ext);
    // A file of that name from an earlier run stays; one with the same bytes simply takes
    // the place of this one, so re-runs never pile up "name (k)" copies.
    const KeptFile kept = KeepWithoutLoss(file, target);
    return kept.ok ? kept.path : file;
}

void FixFormat(DownloadList& list, const std::string& extra) {
    const std::filesystem::path folder = list.AlbumFolder();
    const auto rows = list.Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::filesystem::path fixed = FixFileType(folder / rows[i].fileName, extra);
        list.SetFileName(i, fixed.filename().string());
    }
}

void FixOrder(const DownloadList& list, std::time_t now) {
    const std::filesystem::path folder = list.AlbumFolder();
    std::time_t t = now;
    for (const auto& row : list.Rows()) {
        SetFileTimes(folder / row.fileName, t);
        t -= 60;
    }
}

void SetFileTimes(const std::filesystem::path& path, std::time_t time) {
    if (time <= 0) {
        return;
    }
    // Linux keeps no settable creation time; access and modification time carry the order.
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool WriteUnicodeTextFile(const std::filesystem::path& file, const std::string& text) {
    return WriteFileAtomically(file, "\xFF\xFE" + Utf16LeBytes(text));
}

bool AppendSourceName(const std::filesystem::path& file, const std::string& nameText, bool start) {
    const std::string line = Utf16LeBytes(nameText + "\r\n");
    // Never written through a link planted at the name: a new list replaces whatever
    // stands there, later names are appended to that very file only.
    return start ? WriteFileAtomically(file, "\xFF\xFE" + line) : AppendNoFollow(file, line);
}

bool WriteDownloaderList(const std::filesystem::path& file, const DownloadList& list) {
    std::string content;
    for (const auto& row : list.Rows()) {
        content += ToGbk(row.url) + "\r\n";
    }
    return WriteFileAtomically(file, content);
}

}  // namespace brenvik
