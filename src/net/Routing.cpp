#include "net/Routing.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "net/TextKit.h"

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

// The HOST and PORT parts of a rule; a bracketed IPv6 host keeps its brackets.
bool RuleSource(const std::string& rule, std::string& host, std::string& port) {
    std::size_t hostEnd = 0;
    if (rule.starts_with("[")) {
        hostEnd = rule.find(']');
        if (hostEnd == std::string::npos) {
            return false;
        }
        ++hostEnd;
    } else {
        hostEnd = rule.find(':');
    }
    if (hostEnd == std::string::npos || hostEnd >= rule.size() || rule[hostEnd] != ':') {
        return false;
    }
    host = rule.substr(0, hostEnd);
    const std::size_t portEnd = rule.find(':', hostEnd + 1);
    if (portEnd == std::string::npos) {
        return false;
    }
    port = rule.substr(hostEnd + 1, portEnd - hostEnd - 1);
    return true;
}

bool IsInternalIpv4(std::uint32_t a) {
    struct Block {
        std::uint32_t net;
        int bits;
    };
    static constexpr std::array<Block, 7> kBlocks = {{
        {0x00000000, 8},   // "this network"
        {0x0A000000, 8},   // private
        {0x64400000, 10},  // shared address space (carrier NAT)
        {0x7F000000, 8},   // loopback
        {0xA9FE0000, 16},  // link-local
        {0xAC100000, 12},  // private
        {0xC0A80000, 16},  // private
    }};
    for (const Block& block : kBlocks) {
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - block.bits);
        if ((a & mask) == block.net) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool RoutedByRule(const Routing& routing, const std::string& host, long port) {
    const std::string wantedHost = LowerAscii(host);
    for (const std::string& rule : routing.connectTo) {
        std::string ruleHost;
        std::string rulePort;
        if (!RuleSource(rule, ruleHost, rulePort)) {
            continue;
        }
        if ((ruleHost.empty() || LowerAscii(ruleHost) == wantedHost) &&
            (rulePort.empty() || rulePort == std::to_string(port))) {
            return true;
        }
    }
    return false;
}

bool IsInternalAddress(const std::string& ip) {
    in_addr v4{};
    if (::inet_pton(AF_INET, ip.c_str(), &v4) == 1) {
        return IsInternalIpv4(ntohl(v4.s_addr));
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, ip.c_str(), &v6) != 1) {
        return true;  // not an address at all: never trusted
    }
    const unsigned char* b = v6.s6_addr;
    static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(b, b + 12, kMappedPrefix)) {
        return IsInternalIpv4((std::uint32_t{b[12]} << 24) | (std::uint32_t{b[13]} << 16) |
                              (std::uint32_t{b[14]} << 8) | b[15]);
    }
    const bool zeroUpTo15 = std::all_of(b, b + 15, [](unsigned char c) { return c == 0; });
    if (zeroUpTo15 && (b[15] == 0 || b[15] == 1)) {
        return true;  // :: (any address) and ::1 (loopback)
    }
    const bool linkLocal = b[0] == 0xFE && (b[1] & 0xC0) == 0x80;
    const bool uniqueLocal = (b[0] & 0xFE) == 0xFC;
    return linkLocal || uniqueLocal;
}

bool IsInternalHostName(const std::string& host) {
    const std::string name = LowerAscii(host);
    if (name == "localhost" || name.ends_with(".localhost")) {
        return true;
    }
    std::string literal = name;
    if (literal.starts_with("[") && literal.ends_with("]")) {
        literal = literal.substr(1, literal.size() - 2);
    }
    in6_addr any{};
    const bool isLiteral = ::inet_pton(AF_INET, literal.c_str(), &any) == 1 ||
                           ::inet_pton(AF_INET6, literal.c_str(), &any) == 1;
    return isLiteral && IsInternalAddress(literal);
}

bool ProxyConfiguredFor(const std::string& scheme) {
    const std::string lower = LowerAscii(scheme) + "_proxy";
    std::vector<std::string> names = {lower, "all_proxy", "ALL_PROXY"};
    if (lower != "http_proxy") {  // curl reads that one in lower case only
        std::string upper = lower;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        names.push_back(upper);
    }
    return std::any_of(names.begin(), names.end(), [](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        return value && *value;
    });
}

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
