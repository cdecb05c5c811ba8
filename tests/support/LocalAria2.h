// A real aria2c with its JSON-RPC interface on a free loopback port, for the tests that
// hand downloads to a daemon. It lives as long as the object.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"

namespace brenvik::test {

class LocalAria2 {
  public:
    // `extra`: further options of the daemon ("--pause=true" holds every download).
    LocalAria2(const std::string& secret, const std::filesystem::path& folder,
               const std::vector<std::string>& extra = {});

    int Port() const { return port_; }
    std::string Rpc() const { return "http://127.0.0.1:" + std::to_string(port_) + "/jsonrpc"; }

  private:
    int port_ = 0;
    std::unique_ptr<Process> process_;
};

}  // namespace brenvik::test
