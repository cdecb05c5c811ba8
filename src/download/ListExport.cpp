#include "download/ListExport.h"

#include <cstdio>
#include <utility>

#include "download/Collect.h"
#include "download/Naming.h"
#include "net/AtomicFile.h"
#include "net/CookieStore.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string TrimmedValue(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return "";
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// "Name: value" lines of a header block joined by CR LF.
HeaderLines ParseHeaderBlock(const std::string& block) {
    HeaderLines lines;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find("\r\n", start);
        if (end == std::string::npos) {
            end = block.size();
        }
        const std::string_view line(block.data() + start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && colon > 0) {
            lines.emplace_back(TrimmedValue(line.substr(0, colon)),
                               TrimmedValue(line.substr(colon + 1)));
        }
        start = end + 2;
    }
    return lines;
}

std::string HeaderValue(const HeaderLines& lines, std::string_view name) {
    for (const auto& [key, value] : lines) {
        if (SameNameIgnoringCase(key, name)) {
            return value;
        }
    }
    return "";
}

// The cookies the image request would carry; the fallback's when the address has none.
std::string CookiesForRow(const EntryAddresses& addresses) {
    std::string cookies = CookieStore::Shared().CookiesFor(addresses.address);
    if (cookies.empty() && !addresses.fallback.empty()) {
        cookies = CookieStore::Shared().CookiesFor(addresses.fallback);
    }
    return cookies;
}

// An address on an aria2 line: blanks separate mirrors and line ends end the entry, so
// both are escaped rather than allowed to split or forge entries.
std::string Aria2Address(const std::string& address) {
    std::string out;
    for (const unsigned char c : address) {
        if (c <= 0x20 || c == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// An option value ends at its line end: control characters would start a forged option.
std::string Aria2Value(const std::string& value) {
    std::string out;
    for (const unsigned char c : FromCodePage(value, kCodePageUtf8)) {
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string Aria2Input(const std::vector<DownloadRow>& rows, const std::filesystem::path& folder) {
    std::string input;
    for (const DownloadRow& row : rows) {
        const EntryAddresses addresses = SplitEntry(row.url);
        if (addresses.address.empty()) {
            continue;
        }
        input += Aria2Address(addresses.address);
        if (!addresses.fallback.empty()) {
            input += '\t' + Aria2Address(addresses.fallback);
        }
        input += "\n dir=" + Aria2Value(folder.string());
        input += "\n out=" + Aria2Value(row.fileName);
        if (const std::string referer = HeaderValue(ParseHeaderBlock(row.headers), "Referer");
            !referer.empty()) {
            input += "\n referer=" + Aria2Value(referer);
        }
        if (const std::string cookies = CookiesForRow(addresses); !cookies.empty()) {
            input += "\n header=Cookie: " + Aria2Value(cookies);
        }
        input += '\n';
    }
    return input;
}

std::string PhotoListJson(const std::vector<DownloadRow>& rows,
                          const std::filesystem::path& folder) {
    std::string json = "[";
    const std::string folderText = JsonString(folder.string());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DownloadRow& row = rows[i];
        const EntryAddresses addresses = SplitEntry(row.url);
        HeaderLines headers = ParseHeaderBlock(row.headers);
        if (const std::string cookies = CookiesForRow(addresses); !cookies.empty()) {
            headers.emplace_back("Cookie", cookies);
        }
        std::string headerObject = "{";
        for (std::size_t h = 0; h < headers.size(); ++h) {
            headerObject +=
                (h ? "," : "") + JsonString(headers[h].first) + ":" + JsonString(headers[h].second);
        }
        headerObject += "}";
        json += (i ? ",\n  " : "\n  ");
        json += "{\"address\":" + JsonString(addresses.address) +
                ",\"fallback\":" + JsonString(addresses.fallback) +
                ",\"name\":" + JsonString(row.fileName) + ",\"folder\":" + folderText +
                ",\"headers\":" + headerObject + "}";
    }
    return json + (rows.empty() ? "]\n" : "\n]\n");
}

std::vector<std::filesystem::path> WriteListExports(unsigned exports,
                                                    const std::filesystem::path& albumFolder,
                                                    const std::string& albumName,
                                                    const DownloadList& list) {
    std::vector<std::filesystem::path> failed;
    const auto note = [&failed](bool written, const std::filesystem::path& file) {
        if (!written) {
            failed.push_back(file);
        }
    };
    if (exports & kExportLst) {
        const auto file = AlbumSideFile(albumFolder, albumName, ".lst");
        note(WriteDownloaderList(file, list), file);
    }
    const std::vector<DownloadRow> rows = list.Rows();
    if (exports & kExportAria2) {
        const auto file = AlbumSideFile(albumFolder, albumName, ".aria2.txt");
        note(WriteFileAtomically(file, Aria2Input(rows, albumFolder)), file);
    }
    if (exports & kExportJson) {
        const auto file = AlbumSideFile(albumFolder, albumName, ".json");
        note(WriteFileAtomically(file, PhotoListJson(rows, albumFolder)), file);
    }
    return failed;
}

}  // namespace brenvik
