// What a listing or a photo list left in a session, in the shape the tests compare.
#pragma once

#include <string>
#include <vector>

#include "session/Session.h"

namespace brenvik::test {

// The album table's names, in order.
inline std::vector<std::string> AlbumNames(const Session& session) {
    std::vector<std::string> names;
    for (const auto& album : session.albums.All()) {
        names.push_back(album.name);
    }
    return names;
}

// The download list's addresses (with their fallbacks), in order.
inline std::vector<std::string> RowUrls(const std::vector<DownloadRow>& rows) {
    std::vector<std::string> urls;
    for (const auto& row : rows) {
        urls.push_back(row.url);
    }
    return urls;
}
inline std::vector<std::string> RowUrls(const Session& session) {
    return RowUrls(session.downloads.Rows());
}

// The download list's file names, in order.
inline std::vector<std::string> RowFileNames(const Session& session) {
    std::vector<std::string> names;
    for (const auto& row : session.downloads.Rows()) {
        names.push_back(row.fileName);
    }
    return names;
}

}  // namespace brenvik::test
