#include "net/TransferPace.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "net/TransferStop.h"

namespace brenvik {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> gReceived{0};
std::atomic<std::uint64_t> gRate{0};

// The limit is a clock of its own: each arrival moves it on by the time its bytes are
// worth, and the receiver waits until the clock's time has come. Transfers on many
// threads move the one clock, so together they keep to the limit.
std::mutex gPaceMutex;
Clock::time_point gPaidUntil{};

Clock::time_point Reserve(std::size_t bytes, std::uint64_t rate) {
    const auto worth = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate)));
    std::lock_guard lock(gPaceMutex);
    gPaidUntil = std::max(gPaidUntil, Clock::now()) + worth;
    return gPaidUntil;
}

}  // namespace

void SetReceiveRateLimit(std::uint64_t bytesPerSecond) {
    gRate = bytesPerSecond;
}

bool PaceReceived(std::size_t bytes) {
    gReceived += bytes;
    const std::uint64_t rate = gRate;
    if (rate == 0 || bytes == 0) {
        return true;
    }
    const Clock::time_point due = Reserve(bytes, rate);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    return wait.count() <= 0 || SleepUnlessStopped(wait);
}

std::uint64_t BytesReceived() {
    return gReceived;
}

}  // namespace brenvik
