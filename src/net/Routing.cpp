#include "net/Routing.h"

#include <cstdlib>
#include <mutex>

#include "net/StringCtrl.h"

namespace brenvik {
namespace {

std::mutex& RoutingMutex() {
    static std::mutex mutex;
    return mutex;
}

Routing FromEnvironment() {
    Routing routing;
    if (const char* rules = std::getenv("BRENVIK_CONNECT_TO"); rules && *rules) {
        Pieces pieces;
        SplitN(rules, ",", CountOccurrences(rules, ","), pieces);
        for (auto& rule : pieces) {
            if (CountOccurrences(rule, ":") >= 3) {
                routing.connectTo.push_back(rule);
            }
        }
    }
    if (const char* ca = std::getenv("BRENVIK_CACERT"); ca && *ca) {
        routing.extraCaFile = ca;
    }
    return routing;
}

Routing& State() {
    static Routing routing = FromEnvironment();
    return routing;
}

}  // namespace

Routing CurrentRouting() {
    std::lock_guard lock(RoutingMutex());
    return State();
}

bool AddConnectTo(const std::string& rule) {
    if (CountOccurrences(rule, ":") < 3) {
        return false;
    }
    std::lock_guard lock(RoutingMutex());
    State().connectTo.push_back(rule);
    return true;
}

void SetExtraCaFile(const std::string& file) {
    std::lock_guard lock(RoutingMutex());
    State().extraCaFile = file;
}

void ResetRoutingFromEnvironment() {
    std::lock_guard lock(RoutingMutex());
    State() = FromEnvironment();
}

}  // namespace brenvik
