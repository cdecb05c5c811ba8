// The folder that holds the user's settings, cookies, host overrides and thumbnails.
#pragma once

#include <filesystem>

class QLabel;

namespace brenvik {

// BRENVIK_HOME, else $XDG_DATA_HOME/brenvik, else ~/.local/share/brenvik; created, with
// the host overrides and the cookie store loaded from it.
std::filesystem::path PrepareHome();

// Another run holding the data folder makes this one wait for its turn to write. After a
// second the person is told why: in the window's status line once it stands (set here by
// the window), before that in a small notice of its own. Quitting ends every wait.
void WatchHomeLockWaits();
void ShowHomeWaitsIn(QLabel* statusLine);
void EndHomeWaits();

}  // namespace brenvik
