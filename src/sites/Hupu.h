// Hupu photo albums.
#pragma once

#include <string>

namespace brenvik {

// An album's key from its address: the path after the host, without a page number
// ("-2") and without ".html".
std::string HupuAlbumKey(const std::string& address);

// The user of a Hupu address: the path's first part; empty when there is none.
std::string HupuUser(const std::string& address);

// Registers the album-list and photo-list adapters of Hupu.
void RegisterHupu();

}  // namespace brenvik
