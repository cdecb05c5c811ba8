#include "support/TestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>

#include "net/Hosts.h"
#include "net/PageFetcher.h"

namespace brenvik::test {
namespace {

// More than the fetcher's pooled connections plus a few exchanges under way.
constexpr std::size_t kServerThreads = 64;

std::string Compress(std::string_view data, int windowBits) {
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 32, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::string HostWithoutPort(const std::string& host) {
    if (host.starts_with("[")) {
        return host.substr(0, host.find(']') + 1);
    }
    return host.substr(0, host.find(':'));
}

// Every name the certificate must cover: localhost and every host of the host table,
// each with a wildcard one level up so that sibling hosts work too.
std::set<std::string> CertificateNames() {
    // Hosts that sites name in their answers rather than in the host table.
    std::set<std::string> names{"localhost", "*.photo.qq.com", "*.qpic.cn", "*.photo.store.qq.com"};
    names.insert({"*.rrimg.com", "*.topitme.com"});
    for (const auto& entry : BuiltInHosts()) {
        std::string host(entry.host);
        if (host.find('/') != std::string::npos || host.starts_with(".") || host.ends_with(".") ||
            host.find('.') == std::string::npos) {
            continue;
        }
        names.insert(host);
        names.insert("*." + host);
        const std::size_t dot = host.find('.');
        if (host.find('.', dot + 1) != std::string::npos) {
            names.insert("*" + host.substr(dot));
        }
    }
    return names;
}

}  // namespace

std::string Gzip(std::string_view data) {
    return Compress(data, 31);
}

std::string Deflate(std::string_view data) {
    return Compress(data, 15);
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string GzipBomb(std::size_t inflatedBytes) {
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[65536];
    for (std::size_t done = 0; done < inflatedBytes; done += zeros.size()) {
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        s.avail_in = static_cast<uInt>(zeros.size());
        const int flush = done + zeros.size() >= inflatedBytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            deflate(&s, flush);
            out.append(buffer, sizeof buffer - s.avail_out);
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return out;
}

void ReplyGzipWhenAccepted(const httplib::Request& req, httplib::Response& res,
                           const std::string& body, const char* contentType) {
    if (req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(Gzip(body), contentType);
    } else {
        res.set_content(body, contentType);
    }
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

// The certificate's folder goes when the test process ends.
class CertificateFolder {
  public:
    explicit CertificateFolder(std::filesystem::path dir) : dir_(std::move(dir)) {
        std::filesystem::create_directories(dir_);
    }
    ~CertificateFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    CertificateFolder(const CertificateFolder&) = delete;
    CertificateFolder& operator=(const CertificateFolder&) = delete;
    const std::filesystem::path& Path() const { return dir_; }

  private:
    std::filesystem::path dir_;
};

const TestCertificate& TestCertificate::Get() {
    static const TestCertificate certificate = [] {
        TestCertificate made;
        static const CertificateFolder folder(std::filesystem::temp_directory_path() /
                                              ("brenvik-cert-" + std::to_string(::getpid())));
        const auto& dir = folder.Path();
        made.certFile = dir / "cert.pem";
        made.keyFile = dir / "key.pem";
        std::string san = "subjectAltName=IP:127.0.0.1";
        for (const auto& name : CertificateNames()) {
            san += ",DNS:" + name;
        }
        const auto config = dir / "openssl.cnf";
        std::ofstream(config) << "[req]\ndistinguished_name=dn\n[dn]\n[ext]\n"
                              << san
                              << "\nbasicConstraints=critical,CA:TRUE\n"
                                 "keyUsage=digitalSignature,keyEncipherment,keyCertSign\n";
        const std::string command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=brenvik-test"
            " -config '" +
            config.string() + "' -extensions ext -keyout '" + made.keyFile.string() + "' -out '" +
            made.certFile.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl could not make the test certificate");
        }
        return made;
    }();
    return certificate;
}

TestServer::TestServer(bool https) : https_(https) {
    if (https) {
        const auto& cert = TestCertificate::Get();
        server_ = std::make_unique<httplib::SSLServer>(cert.certFile.c_str(), cert.keyFile.c_str());
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
        Dispatch(req, res);
    };
    server_->Get(".*", dispatch);
    server_->Post(".*", dispatch);
    server_->Put(".*", dispatch);
    server_->Delete(".*", dispatch);
    server_->set_keep_alive_max_count(100);
    // Each kept-alive connection holds one server thread; the fetcher keeps one per
    // worker (up to 15) for the next image, as real servers let it.
    server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("test server could not bind");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestServer::~TestServer() {
    // Pooled keep-alive connections would hold the server's threads until they time out.
    ResetConnectionPool();
    ReleaseStalls();
    server_->stop();
    thread_.join();
}

std::string TestServer::Base() const {
    return (https_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_);
}

std::string TestServer::RouteFor(const std::string& host) const {
    return host + "::127.0.0.1:" + std::to_string(port_);
}

void TestServer::On(const std::string& host, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[{host, path}] = std::move(handler);
}

void TestServer::Serve(const std::string& host, const std::string& path, std::string body,
                       std::string contentType) {
    On(host, path,
       [body = std::move(body), contentType = std::move(contentType)](const httplib::Request&,
                                                                      httplib::Response& res) {
           res.set_content(body, contentType.c_str());
       });
}

void TestServer::Dispatch(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest recorded;
    recorded.method = req.method;
    recorded.host = HostWithoutPort(req.get_header_value("Host"));
    recorded.path = req.target;
    for (const auto& [key, value] : req.headers) {
        recorded.headers.emplace(key, value);
    }
    recorded.body = req.body;
    recorded.clientPort = req.remote_port;
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(recorded);
        auto found = routes_.find({recorded.host, req.path});
        if (found == routes_.end()) {
            found = routes_.find({"", req.path});
        }
        if (found == routes_.end()) {
            found = routes_.find({recorded.host, "*"});
        }
        if (found != routes_.end()) {
            handler = found->second;
        }
    }
    if (handler) {
        handler(req, res);
        if (res.has_header("Content-Encoding")) {
            // The page is compressed already; keep the library from adding a second layer.
            const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        }
    } else {
        res.status = 404;
        res.set_content("<html>404 not found</html>", "text/html");
    }
}

std::vector<RecordedRequest> TestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t TestServer::RequestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

void TestServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TestServer::ReleaseStalls() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    stallCv_.notify_all();
}

void TestServer::Stall(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    stallCv_.wait_for(lock, time, [this] { return stopping_; });
}

RawServer::RawServer(Script script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        throw std::runtime_error("raw server could not listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Loop(); });
}

RawServer::~RawServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);
    ::close(listenFd_);
    thread_.join();
    for (auto& worker : workers_) {
        worker.join();
    }
}

void RawServer::Loop() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        ++connections_;
        workers_.emplace_back([this, fd] {
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                head.append(buffer, static_cast<std::size_t>(n));
            }
            script_(fd, head, *this);
            ::close(fd);
        });
    }
}

void RawServer::Sleep(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, time, [this] { return stopping_; });
}

void RawServer::Send(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void RawServer::Reset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

TempDir::TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("brenvik-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> TempDir::Files() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
        if (entry.is_regular_file()) {
            files.push_back(std::filesystem::relative(entry.path(), path_).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);  // bound but never listening: the port is free again and refuses
    return ntohs(address.sin_port);
}

}  // namespace brenvik::test
