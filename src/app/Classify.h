// What a typed address means for each site: which album-list adapters to call, with
// which input, sub-kind, owner texts, auto-download rule and empty-list message. A pure
// step except for the few inputs whose meaning is only found on their page; those
// pages come through the PageReader handed in.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sites/Sites.h"

namespace brenvik {

// Fetches a page (20 s, "Accept-Encoding: gzip, deflate") and decodes it; nothing on failure.
using PageReader = std::function<std::optional<std::string>(const std::string& address)>;
PageReader DefaultPageReader();

struct ListStep {
    AlbumLister lister;
    int subKind;
};

enum class AutoDownload { Never, ExactlyOne, Always };

// After the adapters: the Tieba keyword of `keywordSource`, URL-decoded, becomes the owner.
enum class OwnerAfter { Keep, TiebaKeyword };

struct ListPlan {
    std::vector<ListStep> chain;  // each runs while no album was found
    std::string input;
    std::optional<std::string> ownerName;
    std::optional<std::string> pageBase;
    // A second input some adapters need (duitang: the album id); it reaches the adapter
    // as the session's site text.
    std::string extra;
    OwnerAfter ownerAfter = OwnerAfter::Keep;
    std::string keywordSource;
    AutoDownload autoDownload = AutoDownload::Never;
    std::string noAlbumMessage;
    std::string message;  // shown instead of calling anything
    int subKind = -1;     // the sub-kind when there is no chain
};

// Classifies the trimmed text for a site; subSelector is the QQ sub-selector (site 0).
ListPlan Classify(int site, int subSelector, const std::string& text, const PageReader& fetch);

}  // namespace brenvik
