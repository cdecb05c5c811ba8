// Photo-sharing galleries: 56, poco, yupoo, 51, duitang and huaban. Each registers its
// album-list and photo-list adapters.
#pragma once

#include "net/PageFetcher.h"

namespace brenvik {

// How the sites' pages are read: 56, poco and 51 write GBK; the others UTF-8 or GBK,
// told apart by their bytes. Either may come gzip-compressed.
inline constexpr unsigned kGbkPages = kDecodeInflate;
inline constexpr unsigned kAutoPages = kDecodeInflate | kDecodeAuto;

void RegisterSite56();
void RegisterPoco();
void RegisterYupoo();
void RegisterSite51();
void RegisterDuitang();
void RegisterHuaban();

}  // namespace brenvik
