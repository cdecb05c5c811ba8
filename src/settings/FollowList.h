// The followed owners (关注): who is kept up to date by an update, where their albums go,
// and what the last update found. Kept in the home as "关注.txt", written whole under
// the home's lock, so two runs never undo each other's changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvik {

inline constexpr const char* kFollowListFile = "关注.txt";
// A list larger than this is not read (nor overwritten): it is no list Brenvik wrote.
inline constexpr std::uintmax_t kMaxFollowListBytes = std::uintmax_t{16} << 20;

struct FollowedOwner {
    int site = 0;
    int sub = 0;                      // the QQ sub-selector of site 0 (Qzone, group, Weibo)
    std::string owner;                // the owner as typed: an account or an address
    std::string savePath;             // absolute
    std::vector<std::string> picked;  // album names to keep up to date; none: every album
    std::vector<std::string> known;   // album names the last update listed
    std::int64_t lastUpdate = 0;      // seconds since 1970 of the last whole update; 0: never
    int albums = 0;                   // albums the last update listed
    std::int64_t photos = 0;          // photos saved by updates so far
};

// The same owner: the same site and the same text (blanks around it aside).
bool SameOwner(const FollowedOwner& a, const FollowedOwner& b);

std::string FollowListText(const std::vector<FollowedOwner>& owners);
// Lines it does not understand are passed over; an entry without an owner is dropped.
std::vector<FollowedOwner> ParseFollowList(std::string_view text);

enum class FollowListRead { Read, Missing, TooLarge, Unreadable };
FollowListRead LoadFollowList(const std::filesystem::path& home,
                              std::vector<FollowedOwner>& owners);

enum class FollowListChange { Saved, Unchanged, NotSaved };
// Reads the newest list under the home's lock, applies `change` (false: nothing to save)
// and writes it back whole. A list that could not be read is never overwritten.
FollowListChange ChangeFollowList(const std::filesystem::path& home,
                                  const std::function<bool(std::vector<FollowedOwner>&)>& change);

}  // namespace brenvik
