#include "support/LocalSites.h"

#include "net/Routing.h"
#include "support/TestServer.h"

namespace brenvik::test {

LocalRouting::LocalRouting(const std::vector<std::string>& routes) {
    ResetRoutingFromEnvironment();
    for (const auto& route : routes) {
        AddConnectTo(route);
    }
    SetExtraCaFile(TestCertificate::Get().certFile.string());
}

LocalRouting::~LocalRouting() {
    ResetRoutingFromEnvironment();
}

std::vector<std::string> CliCommand(const std::string& cli, const std::vector<std::string>& routes,
                                    const std::vector<std::string>& rest) {
    std::vector<std::string> argv = {cli, "--cacert", TestCertificate::Get().certFile.string()};
    for (const auto& route : routes) {
        argv.push_back("--connect-to");
        argv.push_back(route);
    }
    argv.insert(argv.end(), rest.begin(), rest.end());
    return argv;
}

}  // namespace brenvik::test
