// A real nginx on loopback serving a folder, for end-to-end tests that need gzip,
// chunked bodies and redirects exactly as a production server sends them.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace brenvik::test {

// A loopback port nobody listens on at the moment of asking.
int FreePort();
// True when something accepts connections on the loopback port.
bool Accepts(int port);

class Nginx {
  public:
    // Serves `root`; `extraServerConfig` goes into the server block (locations, returns).
    Nginx(std::filesystem::path root, const std::string& extraServerConfig);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    static bool Available();
    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    std::filesystem::path work_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace brenvik::test
