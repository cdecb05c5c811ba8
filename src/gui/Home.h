// The folder that holds the user's settings, cookies, host overrides and thumbnails.
#pragma once

#include <filesystem>

namespace brenvik {

// BRENVIK_HOME, else $XDG_DATA_HOME/brenvik, else ~/.local/share/brenvik; created, with
// the host overrides and the cookie store loaded from it.
std::filesystem::path PrepareHome();

}  // namespace brenvik
