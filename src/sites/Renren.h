// Renren: user albums (new-style and classic pages), public-page albums and stations.
#pragma once

#include <string>

namespace brenvik {

// An album address as the photo lists build on it: up to the album id, ending in "/".
std::string RenrenAlbumAddress(const std::string& typed);

// Registers the Renren album lists and photo lists.
void RegisterRenren();

}  // namespace brenvik
