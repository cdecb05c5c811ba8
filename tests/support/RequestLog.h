// What a test site was asked, kept under a lock for the server's threads: page requests in
// the order they came, picture requests as a sorted list (workers fetch them in parallel).
#pragma once

#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "support/TestServer.h"

namespace brenvik::test {

class RequestLog {
  public:
    void Log(const std::string& what) {
        std::lock_guard lock(mutex_);
        log_.push_back(what);
    }
    std::vector<std::string> Logged() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    void LogImage(const std::string& what) {
        std::lock_guard lock(mutex_);
        images_.push_back(what);
    }
    std::vector<std::string> Images() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> sorted = images_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::string> images_;
};

// Connect-to rules that send each host to the server.
inline std::vector<std::string> RoutesTo(const TestServer& server,
                                         std::initializer_list<const char*> hosts) {
    std::vector<std::string> routes;
    for (const char* host : hosts) {
        routes.push_back(server.RouteFor(host));
    }
    return routes;
}

}  // namespace brenvik::test
