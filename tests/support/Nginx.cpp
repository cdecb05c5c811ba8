#include "support/Nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace brenvik::test {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

}  // namespace

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool Nginx::Available() {
    return ::access(kNginx, X_OK) == 0;
}

Nginx::Nginx(std::filesystem::path root, const std::string& extraServerConfig) {
    std::random_device random;
    work_ = std::filesystem::temp_directory_path() / ("brenvik-nginx-" + std::to_string(random()));
    std::filesystem::create_directories(work_);
    port_ = FreePort();
    const std::string w = work_.string();
    std::ofstream(work_ / "nginx.conf")
        << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << w << "/nginx.pid;\n"
        << "error_log " << w << "/error.log;\nevents { worker_connections 64; }\n"
        << "http {\n  access_log off;\n  default_type application/octet-stream;\n"
        << "  types { text/html html; application/json json; image/jpeg jpg; }\n"
        << "  client_body_temp_path " << w << "/body;\n  proxy_temp_path " << w << "/proxy;\n"
        << "  fastcgi_temp_path " << w << "/fcgi;\n  uwsgi_temp_path " << w << "/uwsgi;\n"
        << "  scgi_temp_path " << w << "/scgi;\n"
        << "  gzip on;\n  gzip_min_length 1;\n  gzip_types application/json;\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root.string() << ";\n"
        << extraServerConfig << "\n  }\n}\n";
    // posix_spawn, not fork: nothing may allocate in the child of a threaded test.
    const std::string conf = (work_ / "nginx.conf").string();
    std::vector<char*> args = {const_cast<char*>(kNginx),       const_cast<char*>("-c"),
                               const_cast<char*>(conf.c_str()), const_cast<char*>("-p"),
                               const_cast<char*>(w.c_str()),    nullptr};
    if (::posix_spawn(&pid_, kNginx, nullptr, nullptr, args.data(), environ) != 0) {
        pid_ = -1;
        return;
    }
    for (int i = 0; i < 200 && !Accepts(port_); ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

Nginx::~Nginx() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(work_, ec);
}

}  // namespace brenvik::test
