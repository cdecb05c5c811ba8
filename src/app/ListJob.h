// The album-list job: from the typed text to rows of the album list.
#pragma once

#include <string>

#include "app/Classify.h"

namespace brenvik {

class Session;

struct ListJobOutcome {
    int albums = 0;
    bool autoDownload = false;  // the listing asked for an immediate download of all rows
};

// What the get-albums button does before the job's thread starts: a clean album list,
// the listing state, no sub-kind yet, the chosen site.
void PrepareListing(Session& session, int site);

// The job itself, on the calling thread. `subSelector` is the QQ sub-selector (site 0).
ListJobOutcome GetListFunc(Session& session, const std::string& addressText, int subSelector,
                           const PageReader& fetch = DefaultPageReader());

// The stop command while a listing runs.
void RequestListingStop(Session& session);

}  // namespace brenvik
