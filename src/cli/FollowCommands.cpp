#include "cli/FollowCommands.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/Following.h"
#include "app/ListJob.h"
#include "net/TextKit.h"
#include "session/Session.h"

namespace brenvik::cli {
namespace {

constexpr const char* kNothingFollowed = "还没有关注任何对象（用 --follow 关注）";

void Say(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Described(const FollowedOwner& owner) {
    return owner.owner + "（" + SiteDisplayName(owner.site) + "）";
}

// The names of the rows --albums chose, read from the owner's listing.
std::optional<std::vector<std::string>> PickedNames(Session& session, const Options& options,
                                                    const FollowContext& context) {
    PrepareListing(session, context.site);
    GetListFunc(session, options.followTarget, context.site == 0 ? context.sub : 0);
    const std::vector<AlbumRecord> albums = session.albums.All();
    const auto rows = ParseAlbumSelection(options.albums, static_cast<int>(albums.size()));
    if (albums.empty() || !rows) {
        Say(albums.empty() ? "没有取到相册列表，无法按序号关注相册"
                           : "相册序号有误: " + options.albums);
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const int row : *rows) {
        names.push_back(albums[static_cast<std::size_t>(row)].name);
    }
    return names;
}

int Follow(Session& session, const Options& options, const FollowContext& context) {
    FollowedOwner owner;
    owner.site = context.site;
    owner.sub = context.site == 0 ? context.sub : 0;
    owner.owner = Trimmed(options.followTarget);
    owner.savePath = context.savePath;
    if (options.albums != "all") {
        const auto names = PickedNames(session, options, context);
        if (!names) {
            return kExitNothing;
        }
        owner.picked = *names;
    }
    switch (FollowOwner(session.BaseFolder(), owner)) {
        case FollowAnswer::Added:
            std::printf("已关注：%s，保存到 %s\n", Described(owner).c_str(),
                        owner.savePath.c_str());
            return kExitOk;
        case FollowAnswer::Changed:
            std::printf("已在关注列表中，已改为保存到 %s\n", owner.savePath.c_str());
            return kExitOk;
        case FollowAnswer::NotSaved:
            break;
    }
    Say(FollowListUnwritable(session.BaseFolder()));
    return kExitSavePath;
}

int Unfollow(Session& session, const Options& options) {
    const auto removed = UnfollowOwner(session.BaseFolder(), options.followTarget, options.site);
    if (!removed) {
        Say(FollowListUnwritable(session.BaseFolder()));
        return kExitSavePath;
    }
    if (*removed == 0) {
        Say(kNotFollowed + options.followTarget);
        return kExitNothing;
    }
    std::printf("已取消关注：%s\n", Trimmed(options.followTarget).c_str());
    return kExitOk;
}

int ShowFollowing(Session& session, const Options& options) {
    std::vector<FollowedOwner> owners;
    const FollowListRead read = LoadFollowList(session.BaseFolder(), owners);
    if (read == FollowListRead::TooLarge || read == FollowListRead::Unreadable) {
        Say("关注列表无法读取: " + (session.BaseFolder() / kFollowListFile).string());
        return kExitSavePath;
    }
    if (options.json) {
        std::string json = "[";
        for (std::size_t i = 0; i < owners.size(); ++i) {
            const FollowedOwner& o = owners[i];
            json += std::string(i ? ",\n  " : "\n  ") + "{\"owner\":" + JsonString(o.owner) +
                    ",\"site\":" + std::to_string(o.site) + ",\"save\":" + JsonString(o.savePath) +
                    ",\"updated\":" + std::to_string(o.lastUpdate) +
                    ",\"albums\":" + std::to_string(o.albums) +
                    ",\"photos\":" + std::to_string(o.photos) + "}";
        }
        std::printf("%s\n", (json + (owners.empty() ? "]" : "\n]")).c_str());
        return kExitOk;
    }
    if (owners.empty()) {
        Say(kNothingFollowed);
        return kExitOk;
    }
    std::printf("关注对象\t网站\t保存路径\t上次更新\t相册\t图片\n");
    for (const FollowedOwner& o : owners) {
        std::printf("%s\t%s\t%s\t%s\t%d\t%lld\n", o.owner.c_str(), SiteDisplayName(o.site).c_str(),
                    o.savePath.c_str(), LastUpdateText(o.lastUpdate).c_str(), o.albums,
                    static_cast<long long>(o.photos));
    }
    return kExitOk;
}

std::string UpdateJson(const UpdateOutcome& outcome) {
    std::string json = "{\"owners\":[";
    for (std::size_t i = 0; i < outcome.owners.size(); ++i) {
        const OwnerUpdate& o = outcome.owners[i];
        std::string vanished = "[";
        for (std::size_t k = 0; k < o.vanished.size(); ++k) {
            vanished += (k ? "," : "") + JsonString(o.vanished[k]);
        }
        json += std::string(i ? ",\n  " : "\n  ") + "{\"owner\":" + JsonString(o.owner) +
                ",\"site\":" + std::to_string(o.site) +
                ",\"listed\":" + (o.listed ? "true" : "false") +
                ",\"stopped\":" + (o.stopped || !o.reached ? "true" : "false") +
                ",\"albums\":" + std::to_string(o.albums) +
                ",\"newAlbums\":" + std::to_string(o.newAlbums) +
                ",\"saved\":" + std::to_string(o.saved) +
                ",\"failed\":" + std::to_string(o.failed) + ",\"vanished\":" + vanished + "]}";
    }
    return json + "],\"stopped\":" + (outcome.stopped ? "true" : "false") + "}";
}

int Update(Session& session, const Options& options, const FollowContext& context,
           const std::vector<std::string>& owners) {
    const UpdateOutcome outcome =
        RunUpdate(session, owners,
                  [&context](const FollowedOwner& owner, std::size_t number, std::size_t count) {
                      if (context.ownerStarts) {
                          context.ownerStarts(number, count, owner.owner);
                      }
                  });
    if (outcome.nothingFollowed && !outcome.listUnwritable) {
        Say(kNothingFollowed);
        return kExitNothing;
    }
    for (const std::string& text : outcome.unknown) {
        Say(kNotFollowed + text);
    }
    if (outcome.listUnwritable) {
        Say(FollowListUnwritable(session.BaseFolder()));
    }
    if (options.json) {
        std::printf("%s\n", UpdateJson(outcome).c_str());
    } else {
        for (const OwnerUpdate& owner : outcome.owners) {
            std::printf("%s\n", OwnerUpdateLine(owner).c_str());
        }
        std::printf("%s\n", UpdateTotalLine(outcome).c_str());
    }
    if (outcome.stopped) {
        return context.stoppedExitCode;
    }
    const bool saveFailed = std::any_of(outcome.owners.begin(), outcome.owners.end(),
                                        [](const OwnerUpdate& o) { return o.saveFailed; });
    if (saveFailed || outcome.listUnwritable) {
        return kExitSavePath;
    }
    if (!outcome.unknown.empty()) {
        return kExitUsage;
    }
    return UpdateFailed(outcome) ? kExitNothing : kExitOk;
}

}  // namespace

int RunFollowCommand(Session& session, const Options& options, const FollowContext& context,
                     const std::vector<std::string>& owners) {
    switch (options.follow) {
        case FollowCommand::Follow:
            return Follow(session, options, context);
        case FollowCommand::Unfollow:
            return Unfollow(session, options);
        case FollowCommand::Following:
            return ShowFollowing(session, options);
        case FollowCommand::Update:
            return Update(session, options, context, owners);
        case FollowCommand::None:
            break;
    }
    return kExitUsage;
}

}  // namespace brenvik::cli
