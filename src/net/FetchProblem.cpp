#include "net/FetchProblem.h"

#include <array>

namespace brenvik {
namespace {

struct ProblemWords {
    FetchProblem problem;
    const char* text;
    bool network;
};

constexpr std::array<ProblemWords, 14> kProblems = {{
    {FetchProblem::None, "", false},
    {FetchProblem::Resolve, "无法解析主机名", true},
    {FetchProblem::Refused, "连接被拒绝", true},
    {FetchProblem::Reset, "连接被中断", true},
    {FetchProblem::TimedOut, "连接超时", true},
    {FetchProblem::Tls, "安全连接(TLS)失败", true},
    {FetchProblem::HttpStatus, "HTTP ", false},
    {FetchProblem::Empty, "服务器返回内容为空", false},
    {FetchProblem::TooLarge, "超出大小上限", false},
    {FetchProblem::Redirect, "不允许的重定向", false},
    {FetchProblem::DiskFull, "磁盘已满", false},
    {FetchProblem::WriteFailed, "无法写入文件", false},
    {FetchProblem::Stopped, "已停止", false},
    {FetchProblem::Other, "网络错误", false},
}};

const ProblemWords& WordsOf(FetchProblem problem) {
    for (const ProblemWords& words : kProblems) {
        if (words.problem == problem) {
            return words;
        }
    }
    return kProblems.back();
}

}  // namespace

bool IsNetworkProblem(FetchProblem problem) {
    return WordsOf(problem).network;
}

std::string ProblemText(FetchProblem problem, long status) {
    std::string text = WordsOf(problem).text;
    if (problem == FetchProblem::HttpStatus) {
        text += std::to_string(status);
    }
    return text;
}

}  // namespace brenvik
