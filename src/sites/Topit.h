// topit: a user's albums and their pictures.
#pragma once

#include <string>

namespace brenvik {

// The download entry of a listed picture: the full-size address, CR LF, the large one.
std::string TopitSizePair(const std::string& address);

// Registers the topit album list and photo list.
void RegisterTopit();

}  // namespace brenvik
