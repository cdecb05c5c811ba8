// One limit on the bytes received a second, shared by every transfer of the process (a
// user's "500K" means the whole download, however many workers run), and the count of
// bytes received so far, for progress figures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brenvik {

// 0: no limit.
void SetReceiveRateLimit(std::uint64_t bytesPerSecond);

// Counts bytes that arrived and, under a limit, waits until they fit in it. A stop asked
// on the calling thread ends the wait: false then.
bool PaceReceived(std::size_t bytes);

// Every body byte received by this process.
std::uint64_t BytesReceived();

}  // namespace brenvik
