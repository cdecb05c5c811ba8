#include "gui/Home.h"

#include <cstdio>
#include <cstdlib>

#include "net/CookieStore.h"
#include "net/Hosts.h"

namespace brenvik {

std::filesystem::path PrepareHome() {
    std::filesystem::path home;
    if (const char* explicitHome = std::getenv("BRENVIK_HOME"); explicitHome && *explicitHome) {
        home = explicitHome;
    } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        home = std::filesystem::path(data) / "brenvik";
    } else {
        const char* user = std::getenv("HOME");
        home = std::filesystem::path(user && *user ? user : ".") / ".local" / "share" / "brenvik";
    }
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    for (const auto& problem : HostTable::Shared().LoadOverrides(home / kHostOverrideFile)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    CookieStore::Shared().Open(home / "cookies.txt");
    return home;
}

}  // namespace brenvik
