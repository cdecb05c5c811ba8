// Photo-sharing galleries: 56, poco, yupoo, 51, duitang and huaban. Each registers its
// album-list and photo-list adapters.
#pragma once

namespace brenvik {

// How the sites' pages are read: 56, poco and 51 write GBK; the others UTF-8 or GBK,
// told apart by their bytes. Either may come gzip-compressed.
inline constexpr unsigned kGbkPages = 0x01;   // kDecodeInflate
inline constexpr unsigned kAutoPages = 0x11;  // kDecodeInflate | kDecodeAuto

void RegisterSite56();
void RegisterPoco();
void RegisterYupoo();
void RegisterSite51();
void RegisterDuitang();
void RegisterHuaban();

}  // namespace brenvik
