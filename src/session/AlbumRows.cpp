#include "session/AlbumRows.h"

#include <cstdio>

namespace brenvik {

std::string AccessNote(std::int32_t access) {
    char text[32];
    if (access < 0) {
        std::snprintf(text, sizeof text, "%08u", static_cast<unsigned>(access) & 0x7FFFFFFFu);
        return text;
    }
    if (access & kAccessEncrypted) {
        return "加密相册";
    }
    if (access & kAccessPrivate) {
        return "私密相册";
    }
    if (access & kAccessFriends) {
        return "好友可见";
    }
    return "";
}

AlbumRowTexts AlbumRow(const AlbumRecord& album, int row) {
    AlbumRowTexts texts;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d", row);
    texts.number = buffer;
    texts.name = album.name;
    if (album.photoCount == -1) {
        texts.count = "未知";
    } else {
        std::snprintf(buffer, sizeof buffer, "%4u", static_cast<unsigned>(album.photoCount));
        texts.count = buffer;
    }
    texts.access = AccessNote(album.access);
    return texts;
}

}  // namespace brenvik
