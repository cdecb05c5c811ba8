// PConline photo albums.
#pragma once

#include <string>

namespace brenvik {

// The page of a user's album list: the first-page address with its page marker
// "_dk1stp_" turned into "_p<page>_".
std::string PconlineListPage(std::string firstPage, int page);

// Registers the album-list and photo-list adapters of PConline.
void RegisterPconline();

}  // namespace brenvik
