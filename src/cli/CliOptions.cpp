#include "cli/CliOptions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include <CLI/CLI.hpp>

#include "download/ListExport.h"

namespace brenvik::cli {
namespace {

struct SiteName {
    const char* name;
    int site;
    int sub;  // -1: no sub-selector choice
};

constexpr std::array<SiteName, 25> kSiteNames = {{
    {"qzone", 0, 0},      {"qqgroup", 0, 1},  {"tweibo", 0, 2},   {"baidu", 1, -1},
    {"netease", 2, -1},   {"renren", 3, -1},  {"sina", 4, -1},    {"56", 5, -1},
    {"poco", 6, -1},      {"yupoo", 7, -1},   {"51", 8, -1},      {"zol", 9, -1},
    {"pchome", 10, -1},   {"taobao", 11, -1}, {"moko", 12, -1},   {"babytree", 13, -1},
    {"pconline", 14, -1}, {"hupu", 15, -1},   {"jd", 16, -1},     {"instagram", 17, -1},
    {"duitang", 18, -1},  {"huaban", 18, -1}, {"lofter", 19, -1}, {"topit", 20, -1},
    {"qq", 0, -1},
}};

constexpr int kMaxRetries = 20;

std::optional<int> SmallNumber(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int value = std::atoi(text.c_str());
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

struct ExportName {
    const char* name;
    unsigned bit;
};
constexpr std::array<ExportName, 3> kExportNames = {
    {{"lst", kExportLst}, {"aria2", kExportAria2}, {"json", kExportJson}}};

bool Fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

// An option's value kept as given; empty values are refused with the option's own message.
bool Keep(std::optional<std::string>& into, const std::string& value, std::string& error,
          const char* message) {
    if (value.empty()) {
        return Fail(error, message);
    }
    into = value;
    return true;
}

bool Append(std::vector<std::string>& into, const std::string& value, std::string& error,
            const char* message) {
    if (value.empty()) {
        return Fail(error, message);
    }
    into.push_back(value);
    return true;
}

bool ApplySite(Options& o, const std::string& v, std::string& e) {
    const auto choice = SiteByName(v);
    if (!choice) {
        return Fail(e, v.empty() ? "--site 需要一个网站" : "未知的网站: " + v);
    }
    o.site = choice->site;
    if (choice->sub) {
        o.sub = choice->sub;
    }
    return true;
}

bool ApplySub(Options& o, const std::string& v, std::string& e) {
    o.sub = SmallNumber(v, 0, 2);
    return o.sub ? true : Fail(e, "--sub 需要 0、1 或 2");
}

bool ApplyExport(Options& o, const std::string& v, std::string& e) {
    for (const ExportName& format : kExportNames) {
        if (v == format.name) {
            o.exports |= format.bit;
            return true;
        }
    }
    return Fail(e, "--export 需要 lst、aria2 或 json");
}

bool ApplyRetries(Options& o, const std::string& v, std::string& e) {
    o.retries = SmallNumber(v, 0, kMaxRetries);
    return o.retries ? true : Fail(e, "--retries 需要 0 到 20 的次数");
}

bool ApplyRate(Options& o, const std::string& v, std::string& e) {
    o.limitRate = ParseRate(v);
    return o.limitRate ? true : Fail(e, "--limit-rate 需要每秒字节数, 如 500K 或 2M");
}

constexpr std::array<const char*, 4> kProxySchemes = {"http://", "https://", "socks5://",
                                                      "socks5h://"};

bool ApplyProxy(Options& o, const std::string& v, std::string& e) {
    const bool known =
        std::any_of(kProxySchemes.begin(), kProxySchemes.end(), [&v](const char* scheme) {
            return v.starts_with(scheme) && v.size() > std::strlen(scheme);
        });
    if (!known) {
        return Fail(e, "--proxy 需要以 http://、https://、socks5:// 或 socks5h:// 开头的地址");
    }
    o.proxy = v;
    return true;
}

// One followed-owners command per run: a second one is refused rather than left out.
bool ApplyFollow(Options& o, FollowCommand command, const std::string& target, std::string& e) {
    if (o.follow != FollowCommand::None && o.follow != command) {
        return Fail(e, "--follow、--unfollow、--following 与 --update 每次只能用一个");
    }
    o.follow = command;
    o.followTarget = target;
    return true;
}

bool ApplyAria2Rpc(Options& o, const std::string& v, std::string& e) {
    if (!v.starts_with("http://") && !v.starts_with("https://")) {
        return Fail(
            e, "--aria2-rpc 需要 http:// 或 https:// 开头的地址, 如 http://127.0.0.1:6800/jsonrpc");
    }
    o.aria2Rpc = v;
    return true;
}

bool ApplyCompletionShell(Options& o, const std::string& v, std::string& e) {
    if (v != "bash" && v != "zsh") {
        return Fail(e, "--print-completion 需要 bash 或 zsh");
    }
    o.printCompletion = v;
    return true;
}

constexpr const char* kSiteWords =
    "qzone qqgroup tweibo baidu netease renren sina 56 poco yupoo 51 zol pchome taobao moko "
    "babytree pconline hupu jd instagram duitang huaban lofter topit qq";

using C = Completion;

const auto kOptions = std::to_array<CliOption>({
    {"-s,--site", "SITE",
     "网站: 0-20 或名称 qzone qqgroup tweibo baidu netease renren sina 56\n"
     "poco yupoo 51 zol pchome taobao moko babytree pconline hupu jd\n"
     "instagram duitang huaban lofter topit (默认: 由地址判断, 否则 0)",
     C::Words, kSiteWords, false, &ApplySite},
    {"--sub", "N", "QQ 子类: 0 QQ空间相册(默认), 1 QQ群相册, 2 腾讯微博相册", C::Words, "0 1 2",
     false, &ApplySub},
    {"-l,--list", nullptr, "只列出相册", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) { return o.listOnly = true; }},
    {"-a,--albums", "ROWS", "要下载的相册: all(默认) 或序号与范围, 如 1,3,5-7", C::None, nullptr,
     false,
     +[](Options& o, const std::string& v, std::string& e) {
         o.albums = v;
         return !v.empty() || Fail(e, "--albums 需要相册序号");
     }},
    {"-o,--save", "DIR", "保存路径(默认: 上次的保存路径, 否则当前目录)", C::Folder, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Keep(o.savePath, v, e, "--save 需要一个目录");
     }},
    {"-i,--input-file", "FILE",
     "从文件逐行读取地址, # 开头的行是注释; FILE 为 - 时读标准输入.\n"
     "可重复; 地址 - 也读标准输入. 每个地址依次列出并下载",
     C::File, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Append(o.inputFiles, v, e, "--input-file 需要一个文件");
     }},
    {"--follow", "ADDRESS",
     "关注这个对象(QQ号、用户名或网址, 网站由地址判断或用 --site),\n"
     "保存到 --save 的目录; 带 --albums 时只关注这些相册",
     C::None, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return !v.empty() ? ApplyFollow(o, FollowCommand::Follow, v, e)
                           : Fail(e, "--follow 需要要关注的地址");
     }},
    {"--unfollow", "ADDRESS", "取消关注(地址与关注时相同)", C::None, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return !v.empty() ? ApplyFollow(o, FollowCommand::Unfollow, v, e)
                           : Fail(e, "--unfollow 需要关注时的地址");
     }},
    {"--following", nullptr, "列出关注的对象: 地址、网站、保存路径、上次更新、相册数、图片数",
     C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string& e) {
         return ApplyFollow(o, FollowCommand::Following, "", e);
     }},
    {"--update", nullptr,
     "更新关注的对象(给出地址时只更新这些): 下载新相册和已有相册的新图片,\n"
     "以前下载过的不再下载; 中断后再更新一次即从停下的地方继续",
     C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string& e) {
         return ApplyFollow(o, FollowCommand::Update, "", e);
     }},
    {"--skip", nullptr,
     "本次跳过以前下载过的图片(不论设置如何): 中断的下载再运行一次\n"
     "即从停下的地方继续, 只取还没有的图片",
     C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) {
         o.skipSaved = true;
         return true;
     }},
    {"--no-skip", nullptr, "本次不跳过以前下载过的图片(不论设置如何)", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) {
         o.skipSaved = false;
         return true;
     }},
    {"--retries", "N", "每个图片地址失败后再试的次数, 0-20 (默认: 1)", C::None, nullptr, false,
     &ApplyRetries},
    {"--limit-rate", "RATE", "限制总下载速度(所有线程合计), 字节/秒, 可带 K 或 M, 如 500K", C::None,
     nullptr, false, &ApplyRate},
    {"--proxy", "URL",
     "经代理访问: http://、https://、socks5:// 或 socks5h://HOST:PORT\n"
     "不给出时照常使用环境变量 http_proxy、https_proxy、all_proxy 与 no_proxy",
     C::None, nullptr, false, &ApplyProxy},
    {"--aria2-rpc", "URL",
     "不自己下载, 把每个相册的图片交给运行中的 aria2 (JSON-RPC 地址,\n"
     "如 http://127.0.0.1:6800/jsonrpc). --connect-to、hosts.ini 与 --cacert\n"
     "对 aria2 不起作用; 登录 Cookie 会随任务发给 aria2",
     C::None, nullptr, false, &ApplyAria2Rpc},
    {"--aria2-secret", "TOKEN", "aria2 的 RPC 密钥(--rpc-secret)", C::None, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Keep(o.aria2Secret, v, e, "--aria2-secret 需要密钥");
     }},
    {"--aria2-dir", "DIR",
     "aria2 在另一台机器上时, 它那边代表保存路径的目录;\n"
     "相册目录接在其后. 不给出时 aria2 直接写入本机的相册目录",
     C::None, nullptr, false,
     +[](Options& o, const std::string& v,
         std::string& e) { return Keep(o.aria2Dir, v, e, "--aria2-dir 需要一个目录"); }},
    {"--wait", nullptr,
     "等 aria2 下载完每张图片: 首选地址失败的改用备用地址,\n"
     "只把完成的图片记为已下载",
     C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) { return o.aria2Wait = true; }},
    {"--home", "DIR", "数据目录: soft.dat、下载器扩展设置.ini、hosts.ini、cookies.txt", C::Folder,
     nullptr, false,
     +[](Options& o, const std::string& v,
         std::string& e) { return Keep(o.home, v, e, "--home 需要一个目录"); }},
    {"--cookies", "FILE", "先导入 Netscape 格式的 cookies.txt, 可重复", C::File, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Append(o.cookieFiles, v, e, "--cookies 需要一个文件");
     }},
    {"--cookies-from-browser", "BROWSER[:PROFILE]",
     "先导入浏览器的 Cookie: firefox、chromium、chrome、brave、edge 或 vivaldi;\n"
     "PROFILE 为配置名、配置文件夹或浏览器的用户数据文件夹",
     C::Words, "firefox chromium chrome brave edge vivaldi", false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Append(o.cookieBrowsers, v, e, "--cookies-from-browser 需要一个浏览器名");
     }},
    {"--connect-to", "R", "HOST:PORT:CONNECT-HOST:CONNECT-PORT, 可重复", C::None, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Append(o.connectTo, v, e, "--connect-to 需要一条规则");
     }},
    {"--cacert", "FILE", "额外信任的 CA 证书(PEM)", C::File, nullptr, false,
     +[](Options& o, const std::string& v, std::string& e) {
         return Keep(o.caFile, v, e, "--cacert 需要一个文件");
     }},
    {"--yes", nullptr, "对所有是/否提问回答“是”", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) {
         o.answer = Answer::Yes;
         return true;
     }},
    {"--no", nullptr, "对所有是/否提问回答“否”(默认)", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) {
         o.answer = Answer::No;
         return true;
     }},
    {"--json", nullptr, "以 JSON 输出相册列表和下载结果", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) { return o.json = true; }},
    {"--export", "FORMAT",
     "不下载, 在相册目录写出地址列表: lst、aria2(含 Referer 与 Cookie)\n"
     "或 json, 可重复",
     C::Words, "lst aria2 json", false, &ApplyExport},
    {"--save-pages", "DIR", "把取回的每个页面按序号保存到 DIR(首行注释为地址), 用于报告问题",
     C::Folder, nullptr, false,
     +[](Options& o, const std::string& v,
         std::string& e) { return Keep(o.savePages, v, e, "--save-pages 需要一个目录"); }},
    {"-v,--verbose", nullptr,
     "在标准错误上显示每个请求(方法、地址、状态、字节数、用时)\n和每个失败的原因", C::None, nullptr,
     false, +[](Options& o, const std::string&, std::string&) { return o.verbose = true; }},
    {"-q,--quiet", nullptr, "下载时只显示错误: 没有相册表格和进度(--list 仍然列出相册)", C::None,
     nullptr, false, +[](Options& o, const std::string&, std::string&) { return o.quiet = true; }},
    {"-h,--help", nullptr, "显示本帮助", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) { return o.help = true; }},
    {"--version", nullptr, "显示版本", C::None, nullptr, false,
     +[](Options& o, const std::string&, std::string&) { return o.version = true; }},
    {"--print-man", nullptr, "写出 roff 格式的手册页", C::None, nullptr, true,
     +[](Options& o, const std::string&, std::string&) { return o.printMan = true; }},
    {"--print-completion", "SHELL", "写出 bash 或 zsh 的补全脚本", C::Words, "bash zsh", true,
     &ApplyCompletionShell},
});

// The option an argument that ended the command line without its value belongs to.
const CliOption* OptionForArgument(const std::string& argument) {
    std::string name = argument;
    if (!argument.starts_with("--") && argument.size() > 1) {
        name = std::string("-") + argument.back();  // the last of bundled short names
    }
    name = name.substr(0, name.find('='));
    for (const CliOption& declared : kOptions) {
        for (const auto& each : CLI::detail::split(declared.names, ',')) {
            if (each == name) {
                return &declared;
            }
        }
    }
    return nullptr;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The visible long name nearest to a mistyped one, when it is near enough to be meant.
std::string NearestOption(const std::string& typed) {
    constexpr std::size_t kMaxDistance = 2;
    const std::string name = typed.substr(0, typed.find('='));
    std::string best;
    std::size_t bestDistance = kMaxDistance + 1;
    for (const CliOption& declared : kOptions) {
        const std::string names = declared.names;
        const std::string longName = names.substr(names.find("--"));
        const std::size_t distance = EditDistance(name, longName);
        if (!declared.hidden && distance < bestDistance) {
            best = longName;
            bestDistance = distance;
        }
    }
    return best;
}

ParseResult Refuse(std::string error, std::string suggestion = {}) {
    return {std::nullopt, std::move(error), std::move(suggestion)};
}

std::string Trimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

void ReadAddressLines(std::istream& in, std::vector<std::string>& into) {
    for (std::string line; std::getline(in, line);) {
        const std::string address = Trimmed(line);
        if (!address.empty() && !address.starts_with('#')) {
            into.push_back(address);
        }
    }
}

}  // namespace

std::span<const CliOption> OptionTable() {
    return kOptions;
}

std::optional<SiteChoice> SiteByName(const std::string& name) {
    if (const auto index = SmallNumber(name, 0, 20)) {
        return SiteChoice{*index, std::nullopt};
    }
    for (const SiteName& entry : kSiteNames) {
        if (name == entry.name) {
            return SiteChoice{entry.site,
                              entry.sub < 0 ? std::nullopt : std::optional<int>(entry.sub)};
        }
    }
    return std::nullopt;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    CLI::App app("", "brenvik-cli");
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::map<const CLI::Option*, const CliOption*> declaredBy;
    for (const CliOption& declared : kOptions) {
        declaredBy[declared.value ? app.add_option(declared.names) : app.add_flag(declared.names)] =
            &declared;
    }
    std::vector<std::string> positional;
    const CLI::Option* inputs = app.add_option("inputs", positional);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch&) {
        // A value is missing only when its option ends the command line.
        const CliOption* declared = OptionForArgument(args.back());
        std::string error;
        Options ignored;
        if (declared && declared->apply && !declared->apply(ignored, "", error)) {
            return Refuse(error);
        }
        return Refuse("选项缺少值: " + args.back());
    } catch (const CLI::ParseError& e) {
        return Refuse(std::string("选项写法有误: ") + e.what());
    }
    for (const std::string& extra : app.remaining()) {
        // The parser lists the "--" that ended the options among the extras.
        if (extra.size() > 1 && extra[0] == '-' && extra != "--") {
            return Refuse("未知的选项: " + extra, NearestOption(extra));
        }
    }

    // Applied in the order given, so that the later of --yes/--no or --skip/--no-skip wins.
    Options options;
    std::map<const CLI::Option*, std::size_t> taken;
    for (const CLI::Option* option : app.parse_order()) {
        const std::size_t k = taken[option]++;
        const std::string value = k < option->results().size() ? option->results()[k] : "";
        if (option == inputs) {
            options.inputs.push_back(value);
            continue;
        }
        std::string error;
        if (!declaredBy[option]->apply(options, value, error)) {
            return Refuse(error);
        }
    }
    const bool generator = options.printMan || options.printCompletion;
    const bool needsNoAddress = options.follow != FollowCommand::None;
    if (!options.help && !options.version && !generator && !needsNoAddress &&
        options.inputs.empty() && options.inputFiles.empty()) {
        return Refuse("缺少地址");
    }
    return {options, "", ""};
}

std::optional<std::vector<std::string>> GatherInputs(const Options& options, std::istream& stdIn,
                                                     std::string& error) {
    std::vector<std::string> addresses;
    bool stdInRead = false;
    const auto readStdIn = [&] {
        if (!stdInRead) {
            ReadAddressLines(stdIn, addresses);
            stdInRead = true;
        }
    };
    for (const std::string& input : options.inputs) {
        if (input == "-") {
            readStdIn();
        } else {
            addresses.push_back(input);
        }
    }
    for (const std::string& file : options.inputFiles) {
        if (file == "-") {
            readStdIn();
            continue;
        }
        std::ifstream in(file);
        if (!in) {
            error = "无法读取地址文件: " + file;
            return std::nullopt;
        }
        ReadAddressLines(in, addresses);
    }
    if (addresses.empty()) {
        error = "没有读到任何地址";
        return std::nullopt;
    }
    return addresses;
}

std::optional<std::vector<int>> ParseAlbumSelection(const std::string& selection, int count) {
    std::vector<int> rows;
    if (selection == "all") {
        for (int i = 0; i < count; ++i) {
            rows.push_back(i);
        }
        return rows;
    }
    std::size_t start = 0;
    while (start <= selection.size()) {
        const std::size_t comma = selection.find(',', start);
        const std::string part =
            selection.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = part.find('-');
        const auto first = SmallNumber(part.substr(0, dash), 1, count);
        const auto last =
            dash == std::string::npos ? first : SmallNumber(part.substr(dash + 1), 1, count);
        if (!first || !last || *last < *first) {
            return std::nullopt;
        }
        for (int row = *first; row <= *last; ++row) {
            rows.push_back(row - 1);
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return rows;
}

std::optional<std::uint64_t> ParseRate(const std::string& text) {
    struct Unit {
        char suffix;
        double factor;
    };
    constexpr std::array<Unit, 4> kUnits = {
        {{'k', 1024.0}, {'K', 1024.0}, {'m', 1024.0 * 1024}, {'M', 1024.0 * 1024}}};
    if (text.empty() || text.size() > 16 ||
        text.find_first_not_of("0123456789.kKmM") != std::string::npos) {
        return std::nullopt;
    }
    double factor = 1;
    std::string number = text;
    for (const Unit& unit : kUnits) {
        if (number.back() == unit.suffix) {
            factor = unit.factor;
            number.pop_back();
            break;
        }
    }
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !(value > 0)) {
        return std::nullopt;
    }
    const double bytes = std::floor(value * factor);
    if (bytes < 1 || bytes > 1e15) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(bytes);
}

}  // namespace brenvik::cli
