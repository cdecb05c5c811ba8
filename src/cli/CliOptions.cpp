#include "cli/CliOptions.h"

#include <array>
#include <cstdlib>

#include "download/ListExport.h"

namespace brenvik::cli {

const char* const kUsage =
    "用法: brenvik-cli [选项] 地址\n"
    "  -s, --site SITE     网站: 0-20 或名称 qzone qqgroup tweibo baidu netease renren sina 56\n"
    "                      poco yupoo 51 zol pchome taobao moko babytree pconline hupu jd\n"
    "                      instagram duitang huaban lofter topit (默认: 由地址判断, 否则 0)\n"
    "      --sub N         QQ 子类: 0 QQ空间相册(默认), 1 QQ群相册, 2 腾讯微博相册\n"
    "  -l, --list          只列出相册\n"
    "  -a, --albums ROWS   要下载的相册: all(默认) 或序号与范围, 如 1,3,5-7\n"
    "  -o, --save DIR      保存路径(默认: 上次的保存路径, 否则当前目录)\n"
    "      --home DIR      数据目录: soft.dat、下载器扩展设置.ini、hosts.ini、cookies.txt\n"
    "      --cookies FILE  先导入 Netscape 格式的 cookies.txt\n"
    "      --cookies-from-browser BROWSER[:PROFILE]\n"
    "                      先导入浏览器的 Cookie: firefox、chromium 或 chrome\n"
    "      --connect-to R  HOST:PORT:CONNECT-HOST:CONNECT-PORT, 可重复\n"
    "      --cacert FILE   额外信任的 CA 证书(PEM)\n"
    "      --yes, --no     回答所有是/否提问(默认: 否)\n"
    "      --json          以 JSON 输出相册列表和下载结果\n"
    "      --export FORMAT 不下载, 在相册目录写出地址列表: lst、aria2(含 Referer 与 Cookie)\n"
    "                      或 json, 可重复\n"
    "      --save-pages DIR\n"
    "                      把取回的每个页面按序号保存到 DIR(首行注释为地址), 用于报告问题\n"
    "  -q, --quiet         不显示进度\n"
    "  -h, --help          显示本帮助\n"
    "      --version       显示版本\n";

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

std::optional<unsigned> ExportByName(const std::string& name) {
    if (name == "lst") {
        return kExportLst;
    }
    if (name == "aria2") {
        return kExportAria2;
    }
    if (name == "json") {
        return kExportJson;
    }
    return std::nullopt;
}

}  // namespace

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
    Options options;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "-l" || arg == "--list") {
            options.listOnly = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--yes") {
            options.answer = Answer::Yes;
        } else if (arg == "--no") {
            options.answer = Answer::No;
        } else if (arg == "-s" || arg == "--site") {
            if (!value(v)) {
                return {std::nullopt, "--site 需要一个网站"};
            }
            const auto choice = SiteByName(v);
            if (!choice) {
                return {std::nullopt, "未知的网站: " + v};
            }
            options.site = choice->site;
            if (choice->sub) {
                options.sub = choice->sub;
            }
        } else if (arg == "--sub") {
            if (!value(v) || !SmallNumber(v, 0, 2)) {
                return {std::nullopt, "--sub 需要 0、1 或 2"};
            }
            options.sub = SmallNumber(v, 0, 2);
        } else if (arg == "-a" || arg == "--albums") {
            if (!value(options.albums)) {
                return {std::nullopt, "--albums 需要相册序号"};
            }
        } else if (arg == "-o" || arg == "--save") {
            if (!value(v)) {
                return {std::nullopt, "--save 需要一个目录"};
            }
            options.savePath = v;
        } else if (arg == "--home") {
            if (!value(v)) {
                return {std::nullopt, "--home 需要一个目录"};
            }
            options.home = v;
        } else if (arg == "--cookies") {
            if (!value(v)) {
                return {std::nullopt, "--cookies 需要一个文件"};
            }
            options.cookieFiles.push_back(v);
        } else if (arg == "--cookies-from-browser") {
            if (!value(v)) {
                return {std::nullopt, "--cookies-from-browser 需要 firefox、chromium 或 chrome"};
            }
            options.cookieBrowsers.push_back(v);
        } else if (arg == "--connect-to") {
            if (!value(v)) {
                return {std::nullopt, "--connect-to 需要一条规则"};
            }
            options.connectTo.push_back(v);
        } else if (arg == "--cacert") {
            if (!value(v)) {
                return {std::nullopt, "--cacert 需要一个文件"};
            }
            options.caFile = v;
        } else if (arg == "--export") {
            const auto format = value(v) ? ExportByName(v) : std::nullopt;
            if (!format) {
                return {std::nullopt, "--export 需要 lst、aria2 或 json"};
            }
            options.exports |= *format;
        } else if (arg == "--save-pages") {
            if (!value(v)) {
                return {std::nullopt, "--save-pages 需要一个目录"};
            }
            options.savePages = v;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return {std::nullopt, "未知的选项: " + arg};
        } else {
            positional.push_back(arg);
        }
    }
    if (options.help || options.version) {
        return {options, ""};
    }
    if (positional.size() != 1) {
        return {std::nullopt, positional.empty() ? "缺少地址" : "只能给出一个地址"};
    }
    options.address = positional[0];
    return {options, ""};
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

}  // namespace brenvik::cli
