// moko albums.
#pragma once

namespace brenvik {

// Registers the album-list and photo-list adapters of moko.
void RegisterMoko();

}  // namespace brenvik
