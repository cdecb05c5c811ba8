// Followed owners kept up to date in one action: follow and unfollow, and the update that
// lists every followed owner and downloads what is new since the last time (the album
// folders' download records decide what that is).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/FollowList.h"

namespace brenvik {

class Session;

inline constexpr const char* kFollowListUnwritable = "关注列表无法保存: ";
inline constexpr const char* kNotFollowed = "没有关注 ";
inline constexpr const char* kFollowNothingListed = "请先获取要关注的相册列表";

enum class FollowAnswer { Added, Changed, NotSaved };
// Adds the owner, or gives an owner followed already the new save path and album choice.
FollowAnswer FollowOwner(const std::filesystem::path& home, const FollowedOwner& owner);
// Removes the owners followed under this text (on this site, when given): how many, or
// nothing when the list could not be saved.
std::optional<int> UnfollowOwner(const std::filesystem::path& home, const std::string& owner,
                                 std::optional<int> site = std::nullopt);

// What one owner's update found and did.
struct OwnerUpdate {
    std::string owner;  // as followed
    int site = 0;
    bool reached = false;               // the update came to this owner before it ended
    bool listed = false;                // the owner's albums were listed
    bool stopped = false;               // a stop ended this owner's update
    bool saveFailed = false;            // the save path could not be used
    int albums = 0;                     // albums listed
    int newAlbums = 0;                  // albums the last update did not list
    int saved = 0;                      // photos saved now
    int failed = 0;                     // photos (or whole albums) that failed
    std::vector<std::string> vanished;  // albums no longer on the site (kept on disk)
};

struct UpdateOutcome {
    std::vector<OwnerUpdate> owners;
    std::vector<std::string> unknown;  // texts asked for that no followed owner has
    bool stopped = false;
    bool listUnwritable = false;   // the follow list could not be read or written
    bool nothingFollowed = false;  // the list holds no owner at all
};

// Runs before each owner's listing: the owner, its number from 1, and how many there are.
using OwnerStarts =
    std::function<void(const FollowedOwner& owner, std::size_t number, std::size_t count)>;

// Updates the followed owners named in `only` (as followed), or all of them when it is
// empty, one after another on the calling thread. `ownerStarts` runs before each owner's
// listing (the window empties its table there, the command line names the owner).
UpdateOutcome RunUpdate(Session& session, const std::vector<std::string>& only,
                        const OwnerStarts& ownerStarts = {});
// The stop command of an update: ends its listing or download and the owners after it.
void RequestUpdateStop(Session& session);

// "张三：新相册1个，新图片12张，失败1张；网站上已没有的相册（本地保留）：旅行"
std::string OwnerUpdateLine(const OwnerUpdate& owner);
// "更新完毕：2个关注对象，新相册1个，新图片12张" or "已终止：..."
std::string UpdateTotalLine(const UpdateOutcome& outcome);
// True when an owner could not be listed or a photo failed (exit status 1).
bool UpdateFailed(const UpdateOutcome& outcome);

// "关注列表无法保存: <home>/关注.txt"
std::string FollowListUnwritable(const std::filesystem::path& home);

// The site's name as the site selector shows it.
std::string SiteDisplayName(int site);
// "2026-12-09 18:30", or "从未" for an owner never updated.
std::string LastUpdateText(std::int64_t seconds);

}  // namespace brenvik
