// What one album's download workers share about each image host: how many requests run
// there now, and how many failed in a row. A host that keeps refusing (an expired login, a
// hot-link guard) is given up for the album instead of being asked for every photo, and
// no host ever gets more requests at once than the user chose.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brenvik {

// Failed requests in a row, with no success between, after which a host is given up.
inline constexpr int kFailuresBeforeGivingUp = 20;

struct GivenUpHost {
    std::string host;
    long status = 0;  // the HTTP status of the last refusal; 0 when none arrived
};

class HostGuard {
  public:
    // `connectionsPerHost` of at least 1 requests may run at one host at once.
    explicit HostGuard(std::size_t connectionsPerHost,
                       int failuresBeforeGivingUp = kFailuresBeforeGivingUp);

    // Waits for the host to take one more request. False when the host was given up
    // (then no request may go there) or a stop was asked on the calling thread. A host
    // near its limit takes no more requests than could still fail before it is given up,
    // so a host that refuses everything sees exactly the limit.
    bool Enter(const std::string& host);
    enum class Result { Succeeded, Failed, Stopped };
    // Ends a request that Enter let through. A success (the host answered as asked) resets
    // the host's count; a stopped request counts neither way.
    void Leave(const std::string& host, Result result, long status);

    bool GivenUp(const std::string& host) const;
    // The hosts given up so far, in the order it happened.
    std::vector<GivenUpHost> GivenUpHosts() const;

  private:
    struct HostState {
        std::size_t running = 0;
        int failuresInARow = 0;
        long lastStatus = 0;
        bool givenUp = false;
    };
    bool MayEnter(const HostState& state) const;

    const std::size_t connectionsPerHost_;
    const int failuresBeforeGivingUp_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, HostState> hosts_;
    std::vector<GivenUpHost> givenUp_;
};

}  // namespace brenvik
