// ZOL photo albums (the product pages are the shop adapters').
#pragma once

#include <string>

namespace brenvik {

// The full-size form of a ZOL album picture: without the "/t_s<size>" folder and
// without the "_<size>" suffix of the file name.
std::string ZolFullSizeAddress(std::string address);

// Registers the album-list and photo-list adapters of ZOL albums.
void RegisterZol();

}  // namespace brenvik
