#include "support/LocalAria2.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/Nginx.h"

namespace brenvik::test {

LocalAria2::LocalAria2(const std::string& secret, const std::filesystem::path& folder,
                       const std::vector<std::string>& extra)
    : port_(FreePort()) {
    std::vector<std::string> argv{"/usr/bin/aria2c",
                                  "--no-conf",
                                  "--quiet",
                                  "--enable-rpc",
                                  "--rpc-listen-port=" + std::to_string(port_),
                                  "--rpc-secret=" + secret,
                                  "--dir=" + folder.string(),
                                  "--no-proxy=127.0.0.1",
                                  "--max-tries=1",
                                  "--retry-wait=0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<Process>(argv);
    for (int i = 0; i < 200 && !Accepts(port_); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(Accepts(port_)) << "aria2c (scripts/setup.sh installs it) did not listen";
}

}  // namespace brenvik::test
