// PChome photo albums.
#pragma once

#include <string>

namespace brenvik {

// The full-size address of a picture whose list path (after the leading "/") is given:
// the small picture's "s." becomes "." in the file name (folders stay as they are).
std::string PchomeFullSizeAddress(std::string path);

// Registers the album-list and photo-list adapters of PChome.
void RegisterPchome();

}  // namespace brenvik
