// Every outside host Brenvik talks to, by role, in one table. Sites move; an override
// file ("hosts.ini" in the base folder, section [hosts], role = host) lets users follow
// without a new build. Domain fragments that classify typed addresses live here too.
#pragma once

#include <filesystem>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brenvik {

struct HostRole {
    std::string_view role;
    std::string_view host;
    std::string_view what;
};

// The built-in table, in a stable order.
const std::vector<HostRole>& BuiltInHosts();

inline constexpr const char* kHostOverrideFile = "hosts.ini";
inline constexpr const char* kHostOverrideSection = "hosts";

class HostTable {
  public:
    static HostTable& Shared();
    HostTable();

    // The host of a role; empty text for a role the table does not know.
    std::string Get(std::string_view role) const;
    // Applies [hosts] of an override file; returns a message per unknown role or bad line.
    std::vector<std::string> LoadOverrides(const std::filesystem::path& file);
    void Set(std::string_view role, std::string host);
    void ResetToBuiltIn();

  private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, std::string> hosts_;
};

// Shorthand for HostTable::Shared().Get(role).
std::string Host(std::string_view role);

}  // namespace brenvik
