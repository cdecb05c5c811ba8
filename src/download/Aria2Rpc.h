// Talking to a running aria2 over its JSON-RPC interface (HTTP POST through the page
// fetcher). Every call carries the secret as its first parameter; several calls travel
// together through system.multicall.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace brenvik {

// What the daemon answered to one call: its result, or why it gave none.
struct RpcAnswer {
    bool ok = false;
    nlohmann::json result;
    std::string error;  // the daemon's own message, or why it could not be asked
};

struct RpcCall {
    std::string method;
    nlohmann::json params = nlohmann::json::array();  // without the secret
};

// Said when the daemon cannot be asked at all; each names the daemon's address.
inline constexpr const char* kAria2UnreachableFormat = "无法连接aria2 (%s)：%s";
inline constexpr const char* kAria2UnauthorizedFormat =
    "aria2拒绝了密钥 (%s)：请检查 --aria2-secret 或设置中的RPC密钥";
inline constexpr const char* kAria2ErrorFormat = "aria2返回错误 (%s)：%s";
inline constexpr const char* kAria2BadAnswerFormat = "aria2的回答无法识别 (%s)";

class Aria2Rpc {
  public:
    Aria2Rpc(std::string address, std::string secret);

    // The calls, a few hundred to a request, one answer for each in order. Fewer answers,
    // with `failure` set in the user's words, when the daemon could not be reached,
    // refused the secret or answered something that is no answer.
    std::vector<RpcAnswer> Calls(const std::vector<RpcCall>& calls, std::string& failure) const;

    const std::string& Address() const { return address_; }

  private:
    // One system.multicall request; nothing, with `failure` set, when it got no answers.
    std::vector<RpcAnswer> Request(const std::vector<RpcCall>& calls, std::string& failure) const;
    nlohmann::json Params(const nlohmann::json& params) const;
    std::string Said(const char* format, const std::string& detail = {}) const;

    std::string address_;
    std::string secret_;
};

// What the body of a system.multicall answer holds: one answer per call, or the daemon's
// error (its message in `fault`); neither when it is no such answer.
struct MulticallAnswer {
    std::vector<RpcAnswer> answers;
    std::string fault;
};
MulticallAnswer ReadMulticallAnswer(std::string_view body, std::size_t calls);

// True when the address names this machine (a loopback host), where login cookies sent
// over plain http stay on the machine.
bool IsLoopbackAddress(const std::string& address);

}  // namespace brenvik
