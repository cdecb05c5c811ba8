// Photo-sharing galleries: 56, poco, yupoo, 51, duitang and huaban. Each registers its
// album-list and photo-list adapters.
#pragma once

namespace brenvik {

// Pages of these sites come in GBK or UTF-8, gzip or plain.
inline constexpr unsigned kGalleryDecode = 0x11;  // kDecodeInflate | kDecodeAuto

void RegisterSite56();
void RegisterPoco();
void RegisterYupoo();
void RegisterSite51();
void RegisterDuitang();
void RegisterHuaban();

}  // namespace brenvik
