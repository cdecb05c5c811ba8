// A real aria2c with its JSON-RPC interface on a free loopback port, for the tests that
// hand downloads to a daemon. It lives as long as the object.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/Nginx.h"
#include "support/Process.h"

namespace brenvik::test {

class LocalAria2 {
  public:
    // `extra`: further options of the daemon.
    LocalAria2(const std::string& secret, const std::filesystem::path& folder,
               std::vector<std::string> extra = {})
        : port_(FreePort()),
          process_(With({"/usr/bin/aria2c", "--no-conf", "--quiet", "--enable-rpc",
                         "--rpc-listen-port=" + std::to_string(port_), "--rpc-secret=" + secret,
                         "--dir=" + folder.string(), "--no-proxy=127.0.0.1", "--max-tries=1"},
                        std::move(extra))) {
        for (int i = 0; i < 200 && !Accepts(port_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(Accepts(port_)) << "aria2c (scripts/setup.sh installs it) did not listen";
    }

    int Port() const { return port_; }
    std::string Rpc() const { return "http://127.0.0.1:" + std::to_string(port_) + "/jsonrpc"; }

  private:
    static std::vector<std::string> With(std::vector<std::string> argv,
                                         std::vector<std::string> extra) {
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }

    int port_ = 0;
    Process process_;
};

}  // namespace brenvik::test
