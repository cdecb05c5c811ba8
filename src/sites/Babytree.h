// babytree albums, in the JSON form and the page-list form.
#pragma once

#include <string>

namespace brenvik {

// The full-size form of a picture of the JSON photo list.
std::string BabytreeFullSizeAddress(std::string address);

// Registers the album-list and photo-list adapters of both forms.
void RegisterBabytree();

}  // namespace brenvik
