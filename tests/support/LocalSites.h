// Reaching local servers under the real host names, from the tests' own process and
// from the brenvik-cli they start.
#pragma once

#include <string>
#include <vector>

namespace brenvik::test {

// While it lives, this process's fetches reach the routed hosts on local servers and
// trust the test certificate.
class LocalRouting {
  public:
    explicit LocalRouting(const std::vector<std::string>& routes);
    ~LocalRouting();
    LocalRouting(const LocalRouting&) = delete;
    LocalRouting& operator=(const LocalRouting&) = delete;
};

// The CLI, the test certificate and a connect-to rule per route, then the rest.
std::vector<std::string> CliCommand(const std::string& cli, const std::vector<std::string>& routes,
                                    const std::vector<std::string>& rest);

}  // namespace brenvik::test
