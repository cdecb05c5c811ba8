// Where connections really go and which certificates are trusted. Tests and users
// point real host names at other servers with curl-style connect-to rules
// ("HOST:PORT:CONNECT-HOST:CONNECT-PORT", empty HOST or PORT matching any) and trust an
// extra CA file. Both start from BRENVIK_CONNECT_TO (comma-separated) and BRENVIK_CACERT.
#pragma once

#include <string>
#include <vector>

namespace brenvik {

struct Routing {
    std::vector<std::string> connectTo;
    std::string extraCaFile;
    std::string proxy;  // "scheme://host:port"; empty: the environment's proxy, if any
};

// A copy of the routing in force, for one transfer.
Routing CurrentRouting();
// False when the rule does not have the four colon-separated parts.
bool AddConnectTo(const std::string& rule);
void SetExtraCaFile(const std::string& file);
// A proxy for every transfer, in place of the environment's; no_proxy still applies.
void SetProxy(const std::string& proxy);
// Back to what the environment says (tests use it between cases).
void ResetRoutingFromEnvironment();

// True when one of the rules sends host and port somewhere of the user's choosing.
// IPv6 hosts are written in brackets, as in addresses and rules.
bool RoutedByRule(const Routing& routing, const std::string& host, long port);
// Loopback, private, link-local, shared and any-host addresses (IPv4, IPv6 and
// IPv4-mapped IPv6): places no outside site may send a request to.
bool IsInternalAddress(const std::string& ip);
// The same judgement from a host name alone, for when a proxy connects on our behalf and
// the address it reaches stays unknown: "localhost" names and internal address literals.
bool IsInternalHostName(const std::string& host);
// True when the environment names a proxy for addresses of the scheme (as curl reads it).
bool ProxyConfiguredFor(const std::string& scheme);

}  // namespace brenvik
