// Qzone's pieces that other code needs to see.
#pragma once

#include <string>

namespace brenvik {

// The g_tk token Qzone requests carry, computed from the login cookie "skey".
unsigned QzoneToken(const std::string& skey);

// Registers the Qzone album lists and photo lists.
void RegisterQzone();

}  // namespace brenvik
