#include "download/Aria2Rpc.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "net/PageFetcher.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

using nlohmann::json;

// The daemon answers within moments when it runs at all; a hung one must not hold the job.
constexpr unsigned kRpcTimeoutMs = 30000;
constexpr const char* kUnauthorized = "Unauthorized";
// aria2 refuses requests above its rpc-max-request-size (2 MB by default): an album of
// thousands of photos goes in several requests.
constexpr std::size_t kCallsPerRequest = 200;

// A fault of system.multicall's list, or the error of a whole answer.
std::string FaultMessage(const json& fault) {
    if (fault.is_object() && fault.contains("message") && fault["message"].is_string()) {
        return fault["message"].get<std::string>();
    }
    return fault.dump();
}

// One entry of system.multicall's result: a one-element list on success, a fault struct
// otherwise.
RpcAnswer AnswerOf(const json& entry) {
    if (entry.is_array() && entry.size() == 1) {
        return {true, entry[0], {}};
    }
    return {false, json(), FaultMessage(entry)};
}

}  // namespace

Aria2Rpc::Aria2Rpc(std::string address, std::string secret)
    : address_(std::move(address)), secret_(std::move(secret)) {}

json Aria2Rpc::Params(const json& params) const {
    json withToken = json::array();
    if (!secret_.empty()) {
        withToken.push_back("token:" + secret_);
    }
    for (const json& param : params) {
        withToken.push_back(param);
    }
    return withToken;
}

std::string Aria2Rpc::Said(const char* format, const std::string& detail) const {
    char text[1024];
    std::snprintf(text, sizeof text, format, address_.c_str(), detail.c_str());
    return text;
}

std::vector<RpcAnswer> Aria2Rpc::Calls(const std::vector<RpcCall>& calls,
                                       std::string& failure) const {
    std::vector<RpcAnswer> answers;
    for (std::size_t first = 0; first < calls.size(); first += kCallsPerRequest) {
        const auto from = calls.begin() + static_cast<std::ptrdiff_t>(first);
        const auto to =
            from + static_cast<std::ptrdiff_t>(std::min(kCallsPerRequest, calls.size() - first));
        std::vector<RpcAnswer> batch = Request({from, to}, failure);
        if (batch.empty()) {
            break;
        }
        std::move(batch.begin(), batch.end(), std::back_inserter(answers));
    }
    return answers;
}

std::vector<RpcAnswer> Aria2Rpc::Request(const std::vector<RpcCall>& calls,
                                         std::string& failure) const {
    json list = json::array();
    for (const RpcCall& call : calls) {
        list.push_back({{"methodName", call.method}, {"params", Params(call.params)}});
    }
    const json request = {{"jsonrpc", "2.0"},
                          {"id", "brenvik"},
                          {"method", "system.multicall"},
                          {"params", json::array({list})}};
    URLRequest post(address_, {}, kRpcTimeoutMs);
    post.verb = "POST";
    post.headers = "Content-Type: application/json";
    post.SetBody(request.dump(-1, ' ', false, json::error_handler_t::replace));
    FetchResponse response;
    if (!Fetch(post, response, 0) && response.status == 0) {
        failure = Said(kAria2UnreachableFormat, response.failure);
        return {};
    }
    MulticallAnswer read = ReadMulticallAnswer(response.body, calls.size());
    if (read.fault == kUnauthorized) {
        failure = Said(kAria2UnauthorizedFormat);
    } else if (!read.fault.empty()) {
        failure = Said(kAria2ErrorFormat, read.fault);
    } else if (read.answers.size() != calls.size()) {
        failure = Said(kAria2BadAnswerFormat);
    }
    return failure.empty() ? std::move(read.answers) : std::vector<RpcAnswer>();
}

MulticallAnswer ReadMulticallAnswer(std::string_view body, std::size_t calls) {
    MulticallAnswer read;
    const json answer = json::parse(body, nullptr, false);
    if (answer.is_object() && answer.contains("error")) {
        read.fault = FaultMessage(answer["error"]);
        return read;
    }
    if (!answer.is_object() || !answer.contains("result") || !answer["result"].is_array() ||
        answer["result"].size() != calls) {
        return read;
    }
    for (const json& entry : answer["result"]) {
        read.answers.push_back(AnswerOf(entry));
        // A refused secret refuses every call alike.
        if (!read.answers.back().ok && read.answers.back().error == kUnauthorized) {
            read.fault = kUnauthorized;
            read.answers.clear();
            break;
        }
    }
    return read;
}

bool IsLoopbackAddress(const std::string& address) {
    std::string host = HostKey(address);
    if (host.starts_with('[')) {
        return host.starts_with("[::1]");
    }
    host = host.substr(0, host.find(':'));
    const bool ipv4Loopback =
        host.starts_with("127.") && host.find_first_not_of("0123456789.") == std::string::npos;
    return ipv4Loopback || host == "localhost" || host.ends_with(".localhost");
}

}  // namespace brenvik
