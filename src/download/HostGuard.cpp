#include "download/HostGuard.h"

#include <algorithm>
#include <chrono>

#include "net/TextKit.h"
#include "net/TransferStop.h"

namespace brenvik {

HostGuard::HostGuard(std::size_t connectionsPerHost, int failuresBeforeGivingUp)
    : connectionsPerHost_(std::max<std::size_t>(1, connectionsPerHost)),
      failuresBeforeGivingUp_(std::max(1, failuresBeforeGivingUp)) {}

bool HostGuard::MayEnter(const HostState& state) const {
    // Requests under way may all fail: only as many go as could fail before the limit.
    const std::size_t couldFail = static_cast<std::size_t>(state.failuresInARow) + state.running;
    return state.running < connectionsPerHost_ &&
           couldFail < static_cast<std::size_t>(failuresBeforeGivingUp_);
}

bool HostGuard::Enter(const std::string& host) {
    // The stop is a test on this thread, not a signal: look at it now and then.
    constexpr auto kStopPoll = std::chrono::milliseconds(50);
    std::unique_lock lock(mutex_);
    HostState& state = hosts_[host];
    while (!state.givenUp && !MayEnter(state)) {
        if (StopAskedOnThisThread()) {
            return false;
        }
        changed_.wait_for(lock, kStopPoll);
    }
    if (state.givenUp) {
        return false;
    }
    ++state.running;
    return true;
}

void HostGuard::Leave(const std::string& host, Result result, long status) {
    {
        std::lock_guard lock(mutex_);
        HostState& state = hosts_[host];
        if (state.running > 0) {
            --state.running;
        }
        if (result == Result::Succeeded) {
            state.failuresInARow = 0;
        } else if (result == Result::Failed) {
            ++state.failuresInARow;
            if (status != 0) {
                state.lastStatus = status;
            }
            if (!state.givenUp && state.failuresInARow >= failuresBeforeGivingUp_) {
                state.givenUp = true;
                givenUp_.push_back({host, state.lastStatus});
            }
        }
    }
    changed_.notify_all();
}

bool HostGuard::GivenUp(const std::string& host) const {
    std::lock_guard lock(mutex_);
    const auto found = hosts_.find(host);
    return found != hosts_.end() && found->second.givenUp;
}

std::vector<GivenUpHost> HostGuard::GivenUpHosts() const {
    std::lock_guard lock(mutex_);
    return givenUp_;
}

}  // namespace brenvik
