#include "app/Following.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>

#include "app/ListJob.h"
#include "download/DownloadJob.h"
#include "net/TextKit.h"
#include "session/Session.h"
#include "sites/Sites.h"

namespace brenvik {
namespace {

bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The owners to update, in the list's order; texts that name no followed owner are
// kept for the outcome.
std::vector<FollowedOwner> Chosen(const std::vector<FollowedOwner>& owners,
                                  const std::vector<std::string>& only,
                                  std::vector<std::string>& unknown) {
    if (only.empty()) {
        return owners;
    }
    std::vector<FollowedOwner> chosen;
    for (const FollowedOwner& owner : owners) {
        if (Has(only, Trimmed(owner.owner))) {
            chosen.push_back(owner);
        }
    }
    for (const std::string& text : only) {
        if (std::none_of(owners.begin(), owners.end(),
                         [&](const FollowedOwner& o) { return Trimmed(o.owner) == text; })) {
            unknown.push_back(text);
        }
    }
    return chosen;
}

// The rows to download: every album, or the picked ones that are still listed.
std::vector<int> RowsToDownload(const FollowedOwner& owner,
                                const std::vector<AlbumRecord>& albums) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < albums.size(); ++i) {
        if (owner.picked.empty() || Has(owner.picked, albums[i].name)) {
            rows.push_back(static_cast<int>(i));
        }
    }
    return rows;
}

std::vector<std::string> Names(const std::vector<AlbumRecord>& albums) {
    std::vector<std::string> names;
    for (const AlbumRecord& album : albums) {
        names.push_back(album.name);
    }
    return names;
}

// Albums the owner had that the listing no longer shows: those of the last update, and
// picked ones. They stay on disk; the person is told.
std::vector<std::string> Vanished(const FollowedOwner& owner, const std::vector<std::string>& now) {
    std::vector<std::string> gone;
    std::set<std::string> said;
    for (const auto* names : {&owner.known, &owner.picked}) {
        for (const std::string& name : *names) {
            if (!Has(now, name) && said.insert(name).second) {
                gone.push_back(name);
            }
        }
    }
    return gone;
}

int FailedOf(const DownloadJobOutcome& download) {
    int failed = download.failed;
    for (const AlbumOutcome& album : download.albumOutcomes) {
        failed += album.result == AlbumResult::Failed && album.failed == 0 ? 1 : 0;
    }
    return failed;
}

bool StopAsked(const Session& session) {
    return session.updateStopAsked.load();
}

// What this update learnt about the owner, written at once: a later stop or crash
// keeps it, and the next update starts from there.
bool Remember(Session& session, const FollowedOwner& owner, const std::vector<std::string>& names,
              const OwnerUpdate& result) {
    const auto change = ChangeFollowList(session.BaseFolder(), [&](auto& owners) {
        const auto entry = std::find_if(owners.begin(), owners.end(), [&](const FollowedOwner& o) {
            return SameOwner(o, owner);
        });
        if (entry == owners.end()) {
            return false;  // unfollowed meanwhile
        }
        entry->photos += result.saved;
        if (!result.stopped) {
            entry->known = names;
            entry->albums = result.albums;
            entry->lastUpdate = static_cast<std::int64_t>(std::time(nullptr));
        }
        return true;
    });
    return change != FollowListChange::NotSaved;
}

OwnerUpdate UpdateOne(Session& session, const FollowedOwner& owner, bool& listUnwritable) {
    OwnerUpdate result;
    result.owner = owner.owner;
    result.site = owner.site;
    result.reached = true;
    PrepareListing(session, owner.site);
    GetListFunc(session, owner.owner, owner.site == 0 ? owner.sub : 0);
    const std::vector<AlbumRecord> albums = session.albums.All();
    if (StopAsked(session)) {
        result.stopped = true;
        return result;
    }
    result.listed = !albums.empty();
    if (!result.listed) {
        return result;
    }
    const std::vector<std::string> names = Names(albums);
    result.albums = static_cast<int>(albums.size());
    result.vanished = Vanished(owner, names);
    const std::vector<int> rows = RowsToDownload(owner, albums);
    for (const int row : rows) {
        result.newAlbums += Has(owner.known, albums[static_cast<std::size_t>(row)].name) ? 0 : 1;
    }
    if (!rows.empty()) {
        const DownloadJobOutcome download = RunDownloadJob(session, rows, owner.savePath);
        result.saveFailed = !download.started || download.folderFailed || download.diskFailed;
        if (download.stopped) {
            session.updateStopAsked = true;  // the download's own stop ends the update too
        }
        result.stopped = StopAsked(session);
        result.saved = download.saved;
        result.failed = FailedOf(download);
        if (result.saveFailed) {
            return result;
        }
    }
    if (!Remember(session, owner, names, result)) {
        listUnwritable = true;
    }
    return result;
}

std::string Counted(const char* format, long long count) {
    char text[64];
    std::snprintf(text, sizeof text, format, count);
    return text;
}

}  // namespace

FollowAnswer FollowOwner(const std::filesystem::path& home, const FollowedOwner& owner) {
    bool added = false;
    const auto change = ChangeFollowList(home, [&](std::vector<FollowedOwner>& owners) {
        const auto entry = std::find_if(owners.begin(), owners.end(), [&](const FollowedOwner& o) {
            return SameOwner(o, owner);
        });
        if (entry == owners.end()) {
            FollowedOwner fresh = owner;
            fresh.owner = Trimmed(owner.owner);
            owners.push_back(std::move(fresh));
            added = true;
            return true;
        }
        entry->savePath = owner.savePath;
        entry->picked = owner.picked;
        return true;
    });
    if (change == FollowListChange::NotSaved) {
        return FollowAnswer::NotSaved;
    }
    return added ? FollowAnswer::Added : FollowAnswer::Changed;
}

std::optional<int> UnfollowOwner(const std::filesystem::path& home, const std::string& owner,
                                 std::optional<int> site) {
    int removed = 0;
    const std::string text = Trimmed(owner);
    const auto change = ChangeFollowList(home, [&](std::vector<FollowedOwner>& owners) {
        const auto before = owners.size();
        std::erase_if(owners, [&](const FollowedOwner& o) {
            return Trimmed(o.owner) == text && (!site || o.site == *site);
        });
        removed = static_cast<int>(before - owners.size());
        return removed > 0;
    });
    if (change == FollowListChange::NotSaved) {
        return std::nullopt;
    }
    return removed;
}

UpdateOutcome RunUpdate(Session& session, const std::vector<std::string>& only,
                        const OwnerStarts& ownerStarts) {
    UpdateOutcome outcome;
    std::vector<FollowedOwner> owners;
    const FollowListRead read = LoadFollowList(session.BaseFolder(), owners);
    if (read == FollowListRead::TooLarge || read == FollowListRead::Unreadable) {
        outcome.listUnwritable = true;
        session.updateRunning = false;
        return outcome;
    }
    outcome.nothingFollowed = owners.empty();
    owners = Chosen(owners, only, outcome.unknown);
    // Photos saved before are skipped whatever the sites' settings say: that is the update.
    const RunChoices before = session.Choices();
    RunChoices choices = before;
    choices.skipSaved = true;
    session.SetRunChoices(choices);
    session.updateRunning = true;
    for (const FollowedOwner& owner : owners) {
        if (StopAsked(session)) {
            outcome.owners.push_back({.owner = owner.owner, .site = owner.site});
            continue;
        }
        if (ownerStarts) {
            ownerStarts(owner, outcome.owners.size() + 1, owners.size());
        }
        outcome.owners.push_back(UpdateOne(session, owner, outcome.listUnwritable));
    }
    outcome.stopped = StopAsked(session);
    session.updateRunning = false;
    session.updateStopAsked = false;
    session.SetRunChoices(before);
    return outcome;
}

void RequestUpdateStop(Session& session) {
    if (session.updateRunning) {
        session.updateStopAsked = true;
    }
    RequestListingStop(session);
    RequestDownloadStop(session);
}

std::string OwnerUpdateLine(const OwnerUpdate& owner) {
    std::string line = owner.owner + "（" + SiteDisplayName(owner.site) + "）：";
    if (!owner.reached) {
        return line + "未更新（已终止）";
    }
    if (owner.stopped && !owner.listed) {
        return line + "已终止";
    }
    if (!owner.listed) {
        return line + "未取到相册列表，本次未更新";
    }
    if (owner.stopped) {
        line += "已终止，";
    }
    line += Counted("新相册%lld个，", owner.newAlbums) + Counted("新图片%lld张", owner.saved);
    if (owner.failed > 0) {
        line += Counted("，失败%lld张", owner.failed);
    }
    if (owner.saveFailed) {
        line += "，保存路径无法使用";
    }
    if (!owner.vanished.empty()) {
        line += "；网站上已没有的相册（本地保留）：";
        for (std::size_t i = 0; i < owner.vanished.size(); ++i) {
            line += (i ? "、" : "") + owner.vanished[i];
        }
    }
    return line;
}

std::string UpdateTotalLine(const UpdateOutcome& outcome) {
    long long newAlbums = 0;
    long long saved = 0;
    long long failed = 0;
    for (const OwnerUpdate& owner : outcome.owners) {
        newAlbums += owner.newAlbums;
        saved += owner.saved;
        failed += owner.failed + (owner.reached && !owner.listed && !owner.stopped ? 1 : 0);
    }
    std::string line = outcome.stopped ? "已终止：" : "更新完毕：";
    line += Counted("%lld个关注对象，", static_cast<long long>(outcome.owners.size())) +
            Counted("新相册%lld个，", newAlbums) + Counted("新图片%lld张", saved);
    if (failed > 0) {
        line += Counted("，失败%lld项", failed);
    }
    return line;
}

bool UpdateFailed(const UpdateOutcome& outcome) {
    return outcome.listUnwritable ||
           std::any_of(outcome.owners.begin(), outcome.owners.end(), [](const OwnerUpdate& o) {
               return o.failed > 0 || o.saveFailed || (o.reached && !o.listed && !o.stopped);
           });
}

std::string FollowListUnwritable(const std::filesystem::path& home) {
    return kFollowListUnwritable + (home / kFollowListFile).string();
}

std::string SiteDisplayName(int site) {
    for (const SiteEntry& entry : SiteTable()) {
        if (entry.index == site) {
            return std::string(entry.displayName);
        }
    }
    return std::to_string(site);
}

std::string LastUpdateText(std::int64_t seconds) {
    if (seconds <= 0) {
        return "从未";
    }
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace brenvik
