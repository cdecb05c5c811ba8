// How an album appears as a table row (the window's table, the CLI's list, exports).
#pragma once

#include <string>

#include "session/Lists.h"

namespace brenvik {

// Album names longer than this are cut when they are shown (and so in folder names).
inline constexpr std::size_t kShownNameChars = 80;

struct AlbumRowTexts {
    std::string number;  // "%04d" of the 1-based row
    std::string name;
    std::string count;   // "%4u", or "未知" when the site does not say
    std::string access;  // "加密相册", "私密相册", "好友可见", a yyyymmdd date, or empty
};

AlbumRowTexts AlbumRow(const AlbumRecord& album, int row);
std::string AccessNote(std::int32_t access);

}  // namespace brenvik
