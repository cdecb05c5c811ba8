// QQ group shared albums.
#pragma once

#include <string>

namespace brenvik {

// The number the group services know the user by: the "guin" login cookie after its "o",
// with one leading zero dropped ("0123" gives "123", "00123" gives "0123").
std::string QqGroupUserNumber(const std::string& cookies);

// The photo address a group photo list entry is downloaded from.
std::string QqGroupPhotoAddress(const std::string& piece);

// Registers the group album list and photo list.
void RegisterQqGroup();

}  // namespace brenvik
