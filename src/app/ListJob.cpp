#include "app/ListJob.h"

#include <cstdio>

#include "download/Naming.h"
#include "net/TextKit.h"
#include "net/TransferStop.h"
#include "session/Messages.h"
#include "session/PageWatch.h"
#include "session/Session.h"
#include "sites/AdapterKit.h"

namespace brenvik {
namespace {

std::string CountText(const char* format, int n) {
    char text[128];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// The listing's last status line: a stop and an unreachable site are not "done".
std::string ListEndStatus(const Session& session, const PageWatch& pages, int albums) {
    if (session.listingState == kListingStopAsked) {
        return CountText(msg::kListStoppedFormat, albums);
    }
    if (albums == 0 && pages.NetworkFailed()) {
        char text[512];
        std::snprintf(text, sizeof text, msg::kListFailedFormat, pages.NetworkFailure().c_str());
        return text;
    }
    return CountText(msg::kListDoneFormat, albums);
}

// While a page is awaited the progress line names its host, so a silent host shows.
void ShowWaitsOn(PageWatch& pages, FrontEnd& front) {
    pages.SetWaitingHook([&front](const std::string& host) {
        char text[512] = "";
        if (!host.empty()) {
            std::snprintf(text, sizeof text, msg::kWaitingForHostFormat, host.c_str());
        }
        front.SetControlText(kControlProgress, text);
    });
}

std::string TiebaOwner(const std::string& source) {
    std::string keyword = source;
    DropThrough(keyword, "kw=");
    CutAt(keyword, {"/", "?", "#", "&"});
    return UrlDecodeUtf8(keyword);
}

// Runs the plan's adapters in turn until one finds albums. An empty end that nothing
// explained (no message, question or login on the way) after pages that answered keeps
// the last page: the site has likely changed. The plan's own hint comes first, in the
// same message.
void RunChain(Session& session, const ListPlan& plan, const PageWatch& pages) {
    FrontEnd& front = session.Front();
    if (!plan.message.empty()) {
        session.subKind = plan.subKind;
        front.ShowMessage(plan.message);
        return;
    }
    if (plan.ownerName) {
        session.SetOwnerName(*plan.ownerName);
    }
    if (plan.pageBase) {
        session.SetSiteText(*plan.pageBase);
    }
    if (!plan.extra.empty()) {
        session.SetSiteText(plan.extra);
    }
    const int spokenBefore = session.Spoken();
    for (const ListStep& step : plan.chain) {
        session.subKind = step.subKind;
        const AlbumListFn lister = FindAlbumLister(step.lister);
        if (!lister) {
            // Never pretend that nothing was found when the site is simply not built yet.
            front.ShowMessage(msg::kSiteNotSupportedYet);
            return;
        }
        lister(session, plan.input);
        // The next adapter would meet the same unreachable host.
        if (session.albums.Size() > 0 || session.listingState == kListingStopAsked ||
            pages.NetworkFailed()) {
            break;
        }
    }
    if (plan.ownerAfter == OwnerAfter::TiebaKeyword) {
        session.SetOwnerName(TiebaOwner(plan.keywordSource));
    }
    const bool explained = session.Spoken() != spokenBefore;
    if (session.albums.Size() > 0 || plan.chain.empty() ||
        session.listingState == kListingStopAsked) {
        return;  // a stop is the user's own doing: nothing to explain
    }
    if (pages.NetworkFailed()) {
        // The site never answered: its hint about logging in does not apply. The cause
        // is named once, by the adapter's own message or here.
        if (!pages.FailureTold()) {
            front.ShowMessage(pages.NetworkFailure());
        }
        return;
    }
    // The site's hint (log in first, say) and the changed-site note go in one message:
    // a login page without markers cannot be told from a changed page.
    std::string text = plan.noAlbumMessage;
    if (!explained) {
        if (const auto note = SiteChangeNote(session, pages)) {
            text += (text.empty() ? "" : "\n\n") + *note;
        }
    }
    if (!text.empty()) {
        front.ShowMessage(text);
    }
}

bool WantsAutoDownload(const ListPlan& plan, int albums) {
    switch (plan.autoDownload) {
        case AutoDownload::Always:
            return albums > 0;
        case AutoDownload::ExactlyOne:
            return albums == 1;
        case AutoDownload::Never:
            break;
    }
    return false;
}

}  // namespace

void PrepareListing(Session& session, int site) {
    session.albums.Clear();
    // A single product's page kept by the previous listing must not serve this one's rows.
    session.SetSiteText("");
    session.listingState = kListingRunning;
    session.subKind = -1;
    session.siteIndex = site;
}

void RequestListingStop(Session& session) {
    int running = kListingRunning;
    session.listingState.compare_exchange_strong(running, kListingStopAsked);
}

ListJobOutcome GetListFunc(Session& session, const std::string& addressText, int subSelector,
                           const PageReader& fetch) {
    ListJobOutcome outcome;
    FrontEnd& front = session.Front();
    // The listing's pages end as soon as the user stops the listing.
    const StopScope stop([&session] { return session.listingState == kListingStopAsked; });
    session.ReloadExtended();
    const int site = session.siteIndex;
    session.SetOwnerName("");
    session.SetOwnerSuffix("");
    const std::string text = Trimmed(addressText);
    if (text.empty()) {
        front.ShowMessage(msg::kEmptyAddress);
        session.listingState = kListingIdle;
        return outcome;
    }
    session.SetAddressText(text);
    session.listingState = kListingRunning;
    front.ListingLook(true);
    front.SetControlText(kControlAlbumFrame, "相册列表");
    front.SetControlText(kControlJobStatus, msg::kListing);
    front.SetControlText(kControlProgress, "");

    // Every page the listing fetches passes this watch: a listing that ends empty after
    // pages that answered 200 points at a changed site.
    PageWatch pages;
    ShowWaitsOn(pages, front);
    ListPlan plan;
    if (site != 0 && text.find("http://") == std::string::npos &&
        text.find("https://") == std::string::npos) {
        front.ShowMessage(msg::kNeedHttpAddress);
    } else if (site >= 0 && site <= 20) {
        session.subKind = site == 0 ? subSelector : session.subKind.load();
        plan = Classify(site, subSelector, text, fetch);
        RunChain(session, plan, pages);
    }
    ReportTooLargePages(session, pages);

    // Job end.
    std::string owner = session.OwnerName();
    std::string suffix = session.OwnerSuffix();
    SanitizeFileName(owner, 0, false);
    SanitizeFileName(suffix, 0, false);
    session.SetOwnerName(owner);
    session.SetOwnerSuffix(suffix);
    outcome.albums = static_cast<int>(session.albums.Size());
    front.SetControlText(kControlAlbumFrame, CountText(msg::kAlbumFrameFormat, outcome.albums));
    front.SetControlText(kControlJobStatus, ListEndStatus(session, pages, outcome.albums));
    session.RememberListedSite();
    session.listingState = kListingIdle;
    front.ListingLook(false);
    if (outcome.albums > 0) {
        session.AddRecent(kRecentAddresses, text);
        outcome.autoDownload = WantsAutoDownload(plan, outcome.albums);
        // An update downloads its listings itself.
        if (outcome.autoDownload && !session.updateRunning) {
            front.AutoDownload();
        }
    }
    return outcome;
}

}  // namespace brenvik
