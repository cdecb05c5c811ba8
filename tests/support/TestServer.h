// Local servers that play the outside sites in tests. Routes are chosen by Host header
// and path, so one server can stand in for many hosts reached through connect-to rules.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brenvik::test {

struct RecordedRequest {
    std::string method;
    std::string host;  // without port
    std::string path;  // with the query
    std::multimap<std::string, std::string> headers;
    std::string body;
    int clientPort = 0;  // tells the client's connections apart
    std::string Header(const std::string& name) const;
};

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

// A certificate made for this test run, trusted through BRENVIK_CACERT-style settings.
struct TestCertificate {
    std::filesystem::path certFile;
    std::filesystem::path keyFile;
    // Created once per process for localhost and the given wildcard-able names.
    static const TestCertificate& Get();
};

class TestServer {
  public:
    explicit TestServer(bool https = false);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT" or the https form with "localhost".
    std::string Base() const;
    // A connect-to rule sending host (any port) to this server.
    std::string RouteFor(const std::string& host) const;

    // Host "" matches any host; path is matched without the query; path "*" takes every
    // path of a host that has no route of its own.
    void On(const std::string& host, const std::string& path, Handler handler);
    void Serve(const std::string& host, const std::string& path, std::string body,
               std::string contentType = "text/html; charset=utf-8");

    std::vector<RecordedRequest> Requests() const;
    std::size_t RequestCount() const;
    void ClearRequests();

    // Ends every stalled handler at once (used on shutdown).
    void ReleaseStalls();
    // Blocks a handler until the time passes or the server shuts down.
    void Stall(std::chrono::milliseconds time);

  private:
    void Dispatch(const httplib::Request& req, httplib::Response& res);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool https_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, Handler> routes_;
    std::vector<RecordedRequest> requests_;
    std::condition_variable stallCv_;
    bool stopping_ = false;
};

// A TCP server that answers every connection with a scripted exchange, for what a
// well-behaved HTTP server never does: resets, lying lengths, silence.
class RawServer {
  public:
    // The script gets the socket and the request head; it writes what it likes.
    using Script = std::function<void(int fd, const std::string& requestHead, RawServer&)>;
    explicit RawServer(Script script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return port_; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int Connections() const { return connections_; }
    // Waits up to the time, returning early when the server shuts down.
    void Sleep(std::chrono::milliseconds time);
    static void Send(int fd, const std::string& bytes);
    // Closes with a TCP reset instead of an orderly end.
    static void Reset(int fd);

  private:
    void Loop();

    Script script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
};

std::string Gzip(std::string_view data);
std::string Deflate(std::string_view data);  // zlib wrapper, as "Content-Encoding: deflate"
// A small gzip stream that inflates to `inflatedBytes` zero bytes: a decompression bomb.
std::string GzipBomb(std::size_t inflatedBytes);
// Answers with the body gzip-compressed when the request accepts it, as these sites do,
// and plain otherwise.
void ReplyGzipWhenAccepted(const httplib::Request& req, httplib::Response& res,
                           const std::string& body, const char* contentType);

// The whole file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);
// A loopback port that nothing listens on: connections to it are refused.
int ClosedPort();

// A temporary folder removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Every file below the folder, as relative paths.
    std::vector<std::string> Files() const;

  private:
    std::filesystem::path path_;
};

// A file's bytes; empty when it cannot be read.
std::string FileBytes(const std::filesystem::path& file);

}  // namespace brenvik::test
