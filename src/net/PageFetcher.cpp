// The page fetcher on libcurl. Each exchange owns its easy handle; the only shared
// state is the cookie store: the cookies of the hosts a transfer visits are handed to it
// and its changes merged back after.
#include "net/PageFetcher.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/AtomicFile.h"
#include "net/CookieStore.h"
#include "net/Routing.h"
#include "net/TextKit.h"
#include "net/TransferPace.h"
#include "net/TransferStop.h"

namespace brenvik {
namespace {

using Clock = std::chrono::steady_clock;

// Idle connections the shared pool keeps: room for every worker thread on a few hosts.
constexpr long kPooledConnections = 48;

void EnsureCurlInitialised() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    (void)initialised;
}

// Connections, DNS answers and TLS sessions are shared by every exchange, so a run of
// image downloads from one host reuses its connections. Cookies are deliberately not
// shared here (see CookieStore). Each exchange holds the pool it started with; a pool
// that was replaced closes its connections once its last exchange ends.
// Easy handles are kept for the next exchange too: a new one costs a wake-up socket
// pair and buffers, paid once per image otherwise.
class ConnectionPool {
  public:
    ConnectionPool() : share_(curl_share_init()) {
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &ConnectionPool::Lock);
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &ConnectionPool::Unlock);
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~ConnectionPool() {
        for (CURL* handle : idle_) {
            curl_easy_cleanup(handle);
        }
        curl_share_cleanup(share_);
    }
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;
    CURLSH* Handle() const { return share_; }

    // A handle in its initial state (as curl_easy_init leaves it, but for the cookies it
    // holds, which the caller clears) that uses this pool; null when none can be made.
    CURL* TakeEasy() {
        CURL* handle = nullptr;
        {
            std::lock_guard lock(idleMutex_);
            if (!idle_.empty()) {
                handle = idle_.back();
                idle_.pop_back();
            }
        }
        if (!handle) {
            handle = curl_easy_init();
        }
        if (handle) {
            curl_easy_setopt(handle, CURLOPT_SHARE, share_);
        }
        return handle;
    }
    void GiveBack(CURL* handle) {
        // Forgets every option, so nothing of this exchange (its header lists are about
        // to be freed) reaches the next one.
        curl_easy_reset(handle);
        {
            std::lock_guard lock(idleMutex_);
            if (idle_.size() < kIdleHandles) {
                idle_.push_back(handle);
                return;
            }
        }
        curl_easy_cleanup(handle);
    }

  private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<ConnectionPool*>(self)->mutexes_[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<ConnectionPool*>(self)->mutexes_[data].unlock();
    }

    // As many as worker threads run at once.
    static constexpr std::size_t kIdleHandles = 16;

    CURLSH* share_;
    std::mutex mutexes_[CURL_LOCK_DATA_LAST];
    std::mutex idleMutex_;
    std::vector<CURL*> idle_;
};

std::mutex& PoolMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<ConnectionPool>& PoolSlot() {
    // Never destroyed: exchanges may still run on other threads at exit.
    static auto* pool = new std::shared_ptr<ConnectionPool>();
    return *pool;
}

std::shared_ptr<ConnectionPool> CurrentPool() {
    EnsureCurlInitialised();
    std::lock_guard lock(PoolMutex());
    auto& pool = PoolSlot();
    if (!pool) {
        pool = std::make_shared<ConnectionPool>();
    }
    return pool;
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(Slist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

// A body being saved: written to a temporary file beside the target, renamed into
// place only when the whole exchange succeeded, removed otherwise. Or written into a file
// the caller holds open (an unnamed file of the download workers): there a failed
// exchange leaves the file empty, and the caller decides what becomes of it.
class SaveFile {
  public:
    explicit SaveFile(std::filesystem::path target) : target_(std::move(target)) {}
    explicit SaveFile(int descriptor) : fd_(descriptor), callersFile_(true) {
        // What an earlier exchange left there goes first.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && st.st_size > 0) {
            (void)::ftruncate(fd_, 0);
        }
    }
    ~SaveFile() { Discard(); }
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    bool Write(const char* data, std::size_t size) {
        if (fd_ < 0 && !OpenTemporary()) {
            return false;
        }
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, offset_);
            if (n <= 0) {
                error_ = n < 0 ? errno : ENOSPC;  // a write of nothing: no room left
                return false;
            }
            done += static_cast<std::size_t>(n);
            offset_ += n;
        }
        return true;
    }
    // The error number of the write or open that failed; 0 when none did.
    int Error() const { return error_; }
    bool Commit() {
        if (callersFile_) {
            committed_ = true;
            return true;
        }
        if (fd_ < 0 && !OpenTemporary()) {
            return false;
        }
        const bool closed = ::close(fd_) == 0;
        error_ = closed ? 0 : errno;
        fd_ = -1;
        std::error_code ec;
        if (closed) {
            std::filesystem::rename(temp_, target_, ec);
            error_ = ec.value();
        }
        if (!closed || ec) {
            Discard();
            return false;
        }
        ForgetTemporary(temp_);
        temp_.clear();
        return true;
    }
    void Discard() {
        if (callersFile_) {
            if (!committed_ && offset_ > 0) {
                (void)::ftruncate(fd_, 0);
            }
            return;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (!temp_.empty()) {
            ::unlink(temp_.c_str());
            ForgetTemporary(temp_);
            temp_.clear();
        }
    }

  private:
    bool OpenTemporary() {
        temp_ = TemporaryBeside(target_);
        fd_ = CreateTemporary(temp_);
        if (fd_ < 0) {
            error_ = errno;
            temp_.clear();
        }
        return fd_ >= 0;
    }

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    off_t offset_ = 0;
    const bool callersFile_ = false;
    bool committed_ = false;
    int error_ = 0;
};

// Scheme, host and port of an address as curl reads it; empty host when it cannot.
struct Origin {
    std::string scheme;
    std::string host;
    long port = 0;
};

Origin OriginOf(const std::string& address) {
    Origin origin;
    CURLU* url = curl_url();
    if (!url) {
        return origin;
    }
    if (curl_url_set(url, CURLUPART_URL, address.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK) {
        char* part = nullptr;
        if (curl_url_get(url, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
            origin.scheme = LowerAscii(part);
            curl_free(part);
        }
        if (curl_url_get(url, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
            origin.host = LowerAscii(part);
            curl_free(part);
        }
        if (curl_url_get(url, CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            origin.port = std::atol(part);
            curl_free(part);
        }
    }
    curl_url_cleanup(url);
    return origin;
}

// The numeric address a socket is about to connect to; empty for other families.
std::string NumericAddress(const curl_sockaddr& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address.addr);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    } else if (address.family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address.addr);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    }
    return text;
}

// The state one exchange's callbacks share.
class Exchange {
  public:
    Exchange(const URLRequest& request, FetchResponse& response)
        : request_(request), response_(response) {
        if (request.saveDescriptor >= 0) {
            save_ = std::make_unique<SaveFile>(request.saveDescriptor);
        } else if (!request.savePath.empty()) {
            save_ = std::make_unique<SaveFile>(request.savePath);
        }
    }

    bool Run(unsigned fetchFlags);

  private:
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        return static_cast<Exchange*>(self)->Header(std::string_view(data, size * count));
    }
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        return static_cast<Exchange*>(self)->Body(data, size * count);
    }
    static int OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        return static_cast<Exchange*>(self)->Progress(dlnow, ulnow);
    }
    // The address check of a redirect happens before a connection is made to it: not a
    // TCP handshake, let alone a TLS hello, may reach an address the hop may not use.
    static curl_socket_t OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
        const std::string ip = NumericAddress(*address);
        if (!static_cast<Exchange*>(self)->HopAllowed(ip.empty() ? nullptr : ip.c_str())) {
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }
    static int OnConnected(void* self, char* remoteIp, char*, int, int) {
        auto* exchange = static_cast<Exchange*>(self);
        if (!exchange->HopAllowed(remoteIp)) {
            exchange->reason_ = "拒绝重定向到内部地址或从 https 转到 http";
            return CURL_PREREQFUNC_ABORT;
        }
        exchange->HandCookiesForHop();
        return CURL_PREREQFUNC_OK;
    }

    std::size_t Header(std::string_view line);
    std::size_t Body(const char* data, std::size_t size);
    int Progress(curl_off_t dlnow, curl_off_t ulnow);
    bool HopAllowed(const char* remoteIp) const;
    void HandCookies(const std::string& host);
    void HandCookiesForHop();
    bool HeadersAcceptable();
    bool Accepted(CURLcode rc);
    std::string FailureReason(CURLcode rc) const;
    bool OverMaximum(std::size_t size) {
        const bool over =
            request_.maxSizeKiB != 0 && size > static_cast<std::size_t>(request_.maxSizeKiB) * 1024;
        response_.sizeRejected |= over;
        return over;
    }
    // The built-in ceilings: the whole response of a page, an image without a maximum.
    bool OverCeiling(std::size_t size) const {
        if (save_) {
            return request_.maxSizeKiB == 0 && size > kDefaultMaxImageBytes;
        }
        return size > kMaxPageBytes;
    }
    bool UnderMinimum(std::size_t size) {
        const bool under =
            request_.minSizeKiB > 0 && size < static_cast<std::size_t>(request_.minSizeKiB) * 1024;
        response_.sizeRejected |= under;
        return under;
    }
    void Fail(FetchProblem problem) {
        failed_ = true;
        problem_ = problem;
    }
    // The cause of a failed exchange: what a callback saw, else what curl reported.
    FetchProblem ProblemAfter(CURLcode rc) const;
    void KeepBody(const char* data, std::size_t size);
    void Configure(CURL* curl, unsigned fetchFlags, Slist& headers, Slist& connectTo);

    const URLRequest& request_;
    FetchResponse& response_;
    std::unique_ptr<SaveFile> save_;
    CURL* curl_ = nullptr;
    Origin origin_;
    Routing routing_;
    bool headersChecked_ = false;
    bool headersDone_ = false;
    bool failed_ = false;
    FetchProblem problem_ = FetchProblem::None;
    bool endMarkerMet_ = false;
    std::size_t endScanFrom_ = 0;
    Clock::time_point lastActivity_ = Clock::now();
    curl_off_t lastDown_ = 0;
    curl_off_t lastUp_ = 0;
    std::vector<std::string> cookieHosts_;  // the hosts whose cookies were handed
    std::vector<std::string> cookiesGiven_;
    const char* reason_ = nullptr;  // why a callback ended the exchange
};

std::size_t Exchange::Header(std::string_view line) {
    lastActivity_ = Clock::now();
    if (line.starts_with("HTTP/")) {
        // Each response of a redirect chain starts over; the last one is kept.
        response_.rawHeaders.clear();
        headersDone_ = false;
    }
    response_.rawHeaders.append(line);
    if (line == "\r\n" || line == "\n") {
        headersDone_ = true;
    }
    return line.size();
}

bool Exchange::HeadersAcceptable() {
    headersChecked_ = true;
    response_.gzip = response_.rawHeaders.find("gzip") != std::string::npos;
    const std::size_t at = response_.rawHeaders.find("Content-Length:");
    if (at == std::string::npos) {
        return true;
    }
    const char* digits = response_.rawHeaders.c_str() + at + std::strlen("Content-Length:");
    const auto announced = static_cast<std::size_t>(std::max(0LL, std::atoll(digits)));
    return !UnderMinimum(announced) && !OverMaximum(announced) && !OverCeiling(announced);
}

void Exchange::KeepBody(const char* data, std::size_t size) {
    std::string& body = response_.body;
    const std::size_t before = body.size();
    body.append(data, size);
    if (response_.gzip) {
        return;
    }
    const std::string& start = request_.startMarker;
    if (!start.empty()) {
        // Only bytes that arrived now (plus a marker's overlap) can hold a new occurrence.
        std::size_t from = before >= start.size() ? before - start.size() + 1 : 0;
        std::size_t cut = std::string::npos;
        for (std::size_t p = body.find(start, from); p != std::string::npos;
             p = body.find(start, p + start.size())) {
            cut = p + start.size();
        }
        if (cut != std::string::npos) {
            body.erase(0, cut);
            endScanFrom_ = 0;
        }
    }
    const std::string& end = request_.endMarker;
    if (!end.empty()) {
        const std::size_t from = endScanFrom_ >= end.size() ? endScanFrom_ - end.size() + 1 : 0;
        const std::size_t p = body.find(end, from);
        if (p != std::string::npos) {
            body.resize(p);
            endMarkerMet_ = true;
        }
    }
    endScanFrom_ = body.size();
}

std::size_t Exchange::Body(const char* data, std::size_t size) {
    if (!headersChecked_ && !HeadersAcceptable()) {
        failed_ = true;
        return 0;
    }
    response_.received += size;
    if (OverCeiling(response_.received)) {
        response_.pageTooLarge = !save_;
        Fail(FetchProblem::TooLarge);
        return 0;
    }
    if (!PaceReceived(size)) {
        Fail(FetchProblem::Stopped);
        return 0;
    }
    if (save_) {
        const std::size_t room = kSavedBodyHead - std::min(kSavedBodyHead, response_.body.size());
        response_.body.append(data, std::min(room, size));
        if (!save_->Write(data, size)) {
            response_.writeError = save_->Error();
            Fail(response_.writeError == ENOSPC ? FetchProblem::DiskFull : FetchProblem::WriteFailed);
            return 0;
        }
        if (OverMaximum(response_.received)) {
            failed_ = true;
            return 0;
        }
        return size;
    }
    KeepBody(data, size);
    if (endMarkerMet_) {
        return 0;  // the rest of the response is not needed
    }
    if (OverMaximum(response_.body.size())) {
        failed_ = true;
        return 0;
    }
    return size;
}

int Exchange::Progress(curl_off_t dlnow, curl_off_t ulnow) {
    if (StopAskedOnThisThread()) {
        Fail(FetchProblem::Stopped);
        return 1;
    }
    const auto now = Clock::now();
    if (dlnow != lastDown_ || ulnow != lastUp_) {
        lastDown_ = dlnow;
        lastUp_ = ulnow;
        lastActivity_ = now;
        return 0;
    }
    // Waiting for the response is part of the operation; waiting inside the body is a read.
    const unsigned limitMs = headersDone_ ? request_.readTimeoutMs : request_.operationTimeoutMs;
    if (now - lastActivity_ > std::chrono::milliseconds(limitMs)) {
        Fail(FetchProblem::TimedOut);
        return 1;
    }
    return 0;
}

// The first request goes where the caller asked. A redirect may reach an internal address
// only on the requested host itself or where the user's connect-to rules send it: an
// outside server must not make us fetch from the local machine or network.
bool Exchange::HopAllowed(const char* remoteIp) const {
    long redirects = 0;
    curl_easy_getinfo(curl_, CURLINFO_REDIRECT_COUNT, &redirects);
    if (redirects == 0) {
        return true;
    }
    const char* current = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_EFFECTIVE_URL, &current);
    const Origin hop = OriginOf(current ? current : "");
    if (hop.host.empty()) {
        return false;
    }
    if (hop.host == origin_.host && hop.port == origin_.port) {
        return true;
    }
    if (RoutedByRule(routing_, hop.host, hop.port)) {
        return true;
    }
    if (!routing_.proxy.empty() || ProxyConfiguredFor(hop.scheme)) {
        // The connection is the proxy's; only the name tells where the request goes.
        return !IsInternalHostName(hop.host);
    }
    return remoteIp && !IsInternalAddress(remoteIp);
}

// Only the cookies of the hosts a transfer visits go to it: libcurl takes each cookie
// handed to it at some cost, and a store of a dozen logged-in sites made that the larger
// part of an image's download. The request reaches these callbacks before it is sent,
// also after each redirect, so every hop still carries its cookies.
void Exchange::HandCookies(const std::string& host) {
    if (host.empty() ||
        std::find(cookieHosts_.begin(), cookieHosts_.end(), host) != cookieHosts_.end()) {
        return;
    }
    std::vector<std::string> lines = CookieStore::Shared().LinesFor(host, cookieHosts_);
    cookieHosts_.push_back(host);
    for (auto& line : lines) {
        curl_easy_setopt(curl_, CURLOPT_COOKIELIST, line.c_str());
        cookiesGiven_.push_back(std::move(line));
    }
}

void Exchange::HandCookiesForHop() {
    long redirects = 0;
    curl_easy_getinfo(curl_, CURLINFO_REDIRECT_COUNT, &redirects);
    if (redirects == 0) {
        return;
    }
    const char* current = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_EFFECTIVE_URL, &current);
    HandCookies(OriginOf(current ? current : "").host);
}

void Exchange::Configure(CURL* curl, unsigned fetchFlags, Slist& headers, Slist& connectTo) {
    curl_easy_setopt(curl, CURLOPT_URL, request_.address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // What was asked over https is never continued in the clear.
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR,
                     origin_.scheme == "https" ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Exchange::OnOpenSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    // Checked again before each request: a pooled connection opened no socket.
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Exchange::OnConnected);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // HTTP/1.1 keeps header names as servers write them ("Content-Length:").
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    // Bodies stay as sent; GetText inflates them.
    curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // 64 KB: larger receive buffers (100 KB) together with a saved body's kept head went
    // over the allocator's trim threshold, so each worker's heap was handed back to the
    // system and faulted in again for every image.
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 65536L);
    // A finished exchange leaves its connection in the shared pool for the next one;
    // libcurl's default keeps five there and closes the rest, so fifteen workers would
    // open a new connection for nearly every image.
    curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, kPooledConnections);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, request_.rejectErrorStatus ? 1L : 0L);
    const std::string agent =
        AgentHeaderValue((fetchFlags & kFetchOldAgent) ? kAgentOld : kAgentDefault);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max(1u, request_.operationTimeoutMs)));
    if (!save_) {
        const unsigned wholeMs =
            std::max({1u, request_.readTimeoutMs, request_.operationTimeoutMs});
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(wholeMs));
    }

    Pieces lines;
    SplitN(request_.headers, "\r\n", CountOccurrences(request_.headers, "\r\n"), lines);
    for (const auto& line : lines) {
        if (!line.empty()) {
            Append(headers, line);
        }
    }
    if (!request_.body.empty()) {
        Append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request_.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request_.body.c_str());
    } else if (request_.verb == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, 0L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
    }
    if (request_.verb != "GET" && request_.verb != "POST") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request_.verb.c_str());
    } else if (request_.verb == "GET" && !request_.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "GET");
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());

    for (const auto& rule : routing_.connectTo) {
        Append(connectTo, rule);
    }
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo.get());
    if (!routing_.proxy.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, routing_.proxy.c_str());
    }
    if (!routing_.extraCaFile.empty()) {
        // The extra file is added to the system's certificates, not put in their place.
        curl_easy_setopt(curl, CURLOPT_CAINFO, routing_.extraCaFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
    }

    // The cookie engine is switched on by handing it a cookie (the usual empty
    // CURLOPT_COOKIEFILE leaks its list on every curl_easy_reset of a pooled handle), and
    // a handle kept from an earlier exchange still holds that exchange's cookies: both
    // go with "ALL", the engine stays.
    curl_easy_setopt(curl, CURLOPT_COOKIELIST, "Set-Cookie: brenvik=1; domain=brenvik.invalid");
    curl_easy_setopt(curl, CURLOPT_COOKIELIST, "ALL");
    HandCookies(origin_.host);

    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Exchange::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
}

std::vector<std::string> CookieLines(CURL* curl) {
    std::vector<std::string> lines;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist* item = list; item; item = item->next) {
            lines.emplace_back(item->data);
        }
        curl_slist_free_all(list);
    }
    return lines;
}

bool Exchange::Run(unsigned fetchFlags) {
    // The pool outlives the handle: a handle must leave its share before the share goes.
    const std::shared_ptr<ConnectionPool> pool = CurrentPool();
    // The lists outlive the handle, which goes back to the pool first.
    Slist headers;
    Slist connectTo;
    const auto giveBack = [&pool](CURL* handle) { pool->GiveBack(handle); };
    std::unique_ptr<CURL, decltype(giveBack)> curl(pool->TakeEasy(), giveBack);
    if (!curl) {
        response_.failure = "无法建立连接";
        return false;
    }
    curl_ = curl.get();
    origin_ = OriginOf(request_.address);
    routing_ = CurrentRouting();
    Configure(curl.get(), fetchFlags, headers, connectTo);

    const CURLcode rc = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &response_.status);
    curl_off_t retryAfter = 0;
    if (curl_easy_getinfo(curl.get(), CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK) {
        response_.retryAfterSeconds = static_cast<long>(std::max<curl_off_t>(0, retryAfter));
    }
    CookieStore::Shared().Merge(cookiesGiven_, CookieLines(curl.get()));
    const bool ok = Accepted(rc);
    response_.failure = ok ? "" : FailureReason(rc);
    return ok;
}

bool Exchange::Accepted(CURLcode rc) {
    const bool transferred = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && endMarkerMet_);
    if (failed_ || !transferred) {
        response_.problem = ProblemAfter(rc);
        return false;
    }
    if (!headersChecked_ && !HeadersAcceptable()) {
        response_.problem = ProblemAfter(rc);
        return false;
    }
    const std::size_t size = save_ ? response_.received : response_.body.size();
    if (UnderMinimum(size) || OverMaximum(size)) {
        return false;
    }
    if (save_ && !save_->Commit()) {
        response_.writeError = save_->Error();
        response_.problem =
            response_.writeError == ENOSPC ? FetchProblem::DiskFull : FetchProblem::WriteFailed;
        return false;
    }
    return true;
}

// curl's codes by the cause a person can act on.
FetchProblem ProblemOfCurlCode(CURLcode rc) {
    static constexpr std::pair<CURLcode, FetchProblem> kCauses[] = {
        {CURLE_COULDNT_RESOLVE_HOST, FetchProblem::Resolve},
        {CURLE_COULDNT_RESOLVE_PROXY, FetchProblem::Resolve},
        {CURLE_COULDNT_CONNECT, FetchProblem::Refused},
        {CURLE_OPERATION_TIMEDOUT, FetchProblem::TimedOut},
        {CURLE_SSL_CONNECT_ERROR, FetchProblem::Tls},
        {CURLE_PEER_FAILED_VERIFICATION, FetchProblem::Tls},
        {CURLE_SSL_CACERT_BADFILE, FetchProblem::Tls},
        {CURLE_SSL_CERTPROBLEM, FetchProblem::Tls},
        {CURLE_SSL_CIPHER, FetchProblem::Tls},
        {CURLE_RECV_ERROR, FetchProblem::Reset},
        {CURLE_SEND_ERROR, FetchProblem::Reset},
        {CURLE_GOT_NOTHING, FetchProblem::Reset},
        {CURLE_PARTIAL_FILE, FetchProblem::Reset},
        {CURLE_HTTP_RETURNED_ERROR, FetchProblem::HttpStatus},
        {CURLE_TOO_MANY_REDIRECTS, FetchProblem::Redirect},
        {CURLE_UNSUPPORTED_PROTOCOL, FetchProblem::Redirect},
        {CURLE_ABORTED_BY_CALLBACK, FetchProblem::Redirect},
    };
    for (const auto& [code, problem] : kCauses) {
        if (code == rc) {
            return problem;
        }
    }
    return FetchProblem::Other;
}

FetchProblem Exchange::ProblemAfter(CURLcode rc) const {
    if (problem_ != FetchProblem::None) {
        return problem_;
    }
    if (response_.sizeRejected) {
        return FetchProblem::None;  // our limits said no; the host answered
    }
    if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) {
        return response_.status >= 400 ? FetchProblem::HttpStatus : FetchProblem::Other;
    }
    return ProblemOfCurlCode(rc);
}

// Why the exchange failed, in the words a user reads in the verbose log.
std::string Exchange::FailureReason(CURLcode rc) const {
    if (response_.sizeRejected) {
        return "大小不在设置的范围内";
    }
    if (reason_) {
        return reason_;
    }
    const FetchProblem problem =
        response_.problem != FetchProblem::None ? response_.problem : ProblemAfter(rc);
    return ProblemText(problem, response_.status);
}

// A busy server (429) or one down for maintenance (503) may say when to come back.
bool ToldToWait(const FetchResponse& response) {
    return (response.status == 429 || response.status == 503) && response.retryAfterSeconds > 0;
}

}  // namespace

bool FetchResponse::FetchOnce(const URLRequest& request, unsigned fetchFlags) {
    body.clear();
    rawHeaders.clear();
    received = 0;
    status = 0;
    sizeRejected = false;
    pageTooLarge = false;
    writeError = 0;
    retryAfterSeconds = 0;
    failure.clear();
    problem = FetchProblem::None;
    startMarker = request.startMarker;
    endMarker = request.endMarker;
    gzip = false;
    Exchange exchange(request, *this);
    return exchange.Run(fetchFlags);
}

std::string AgentHeaderValue(std::string_view agent) {
    constexpr std::string_view kName = "User-Agent:";
    if (agent.size() >= kName.size() &&
        LowerAscii(std::string(agent.substr(0, kName.size()))) == LowerAscii(std::string(kName))) {
        agent.remove_prefix(kName.size());
    }
    return Trimmed(agent);
}

namespace {

std::mutex& ObserverMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const ExchangeObserver>& ObserverSlot() {
    static std::shared_ptr<const ExchangeObserver> observer;
    return observer;
}

std::shared_ptr<const ExchangeObserver> CurrentObserver() {
    std::lock_guard lock(ObserverMutex());
    return ObserverSlot();
}

// What the caller's checks found wrong with a body that arrived.
std::string UnacceptedReason(const FetchResponse& response) {
    if (ToldToWait(response)) {
        return "服务器要求 " + std::to_string(response.retryAfterSeconds) + " 秒后再试";
    }
    if (!response.failure.empty()) {
        return response.failure;
    }
    return response.body.empty() ? "内容为空" : "内容不完整或要求重试";
}

void Report(const URLRequest& request, const FetchResponse& response, bool ok,
            Clock::time_point start) {
    const auto observer = CurrentObserver();
    if (!observer) {
        return;
    }
    (*observer)({request.verb, request.address, response.status, response.received,
                 std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start), ok,
                 ok ? std::string() : UnacceptedReason(response)});
}

}  // namespace

void SetExchangeObserver(ExchangeObserver observer) {
    std::lock_guard lock(ObserverMutex());
    ObserverSlot() =
        observer ? std::make_shared<const ExchangeObserver>(std::move(observer)) : nullptr;
}

bool Fetch(const URLRequest& request, FetchResponse& response, unsigned fetchFlags) {
    int toldWaits = 0;
    for (unsigned attempt = 1; attempt <= request.attempts; ++attempt) {
        if (StopAskedOnThisThread()) {
            response.problem = FetchProblem::Stopped;
            return false;
        }
        const auto start = Clock::now();
        bool ok = response.FetchOnce(request, fetchFlags);
        if (response.pageTooLarge || response.writeError != 0) {
            return false;  // asking again would meet the same page, the same disk
        }
        if (ok && request.minLength == 0 && request.retryMarker.empty()) {
            ok = !response.body.empty();
            if (!ok) {
                response.problem = FetchProblem::Empty;
            }
        } else if (ok) {
            std::string inflated;
            const bool inflate = (fetchFlags & kFetchCacheWrite) && response.gzip;
            if (inflate && InflatesPastPageCap(inflated, response.body)) {
                response.pageTooLarge = true;
                return false;
            }
            const std::string& check = inflate ? inflated : response.body;
            ok = check.size() > request.minLength &&
                 (request.retryMarker.empty() ||
                  check.find(request.retryMarker) == std::string::npos);
            if (!ok) {
                response.problem = FetchProblem::Empty;
            }
        }
        Report(request, response, ok, start);
        if (ToldToWait(response) && toldWaits < kMaxToldWaits) {
            ++toldWaits;
            const long seconds = std::min(response.retryAfterSeconds, kMaxToldWaitSeconds);
            if (!SleepUnlessStopped(std::chrono::seconds(seconds))) {
                response.problem = FetchProblem::Stopped;
                return false;
            }
            --attempt;  // the server asked for the wait; the attempt was not spent
            continue;
        }
        if (ok) {
            return true;
        }
        if (!SleepUnlessStopped(std::chrono::seconds(request.pauseSeconds))) {
            response.problem = FetchProblem::Stopped;
            return false;
        }
    }
    return false;
}

void ResetConnectionPool() {
    std::lock_guard lock(PoolMutex());
    PoolSlot().reset();
}

std::string GetCookies(const std::string& address) {
    return CookieStore::Shared().CookiesFor(address);
}

}  // namespace brenvik
