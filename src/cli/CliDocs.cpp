#include "cli/CliDocs.h"

#include <array>
#include <sstream>
#include <vector>

#include "cli/CliOptions.h"

namespace brenvik::cli {
namespace {

// Where the help's descriptions start; longer option columns put them on the next line.
constexpr std::size_t kHelpColumn = 24;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

std::string ShortName(const CliOption& option) {
    const std::string names = option.names;
    return names.starts_with("--") ? "" : names.substr(0, names.find(','));
}

std::string LongName(const CliOption& option) {
    const std::string names = option.names;
    return names.substr(names.find("--"));
}

std::vector<std::string> Names(const CliOption& option) {
    return Split(option.names, ',');
}

// "  -o, --save DIR" or "      --home DIR".
std::string HelpColumn(const CliOption& option) {
    const std::string shortName = ShortName(option);
    std::string column = shortName.empty() ? "      " : "  " + shortName + ", ";
    column += LongName(option);
    if (option.value) {
        column += std::string(" ") + option.value;
    }
    return column;
}

std::string Roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (out.starts_with('.') || out.starts_with('\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

struct EnvironmentEntry {
    const char* name;
    const char* meaning;
};

constexpr std::array<EnvironmentEntry, 5> kEnvironment = {{
    {"BRENVIK_HOME",
     "数据目录(没有 --home 时); 否则为 $XDG_DATA_HOME/brenvik 或 "
     "~/.local/share/brenvik"},
    {"http_proxy, https_proxy, all_proxy, no_proxy",
     "没有 --proxy 时使用的代理, 与 curl 的读法相同(也读大写的名字, http_proxy 除外)"},
    {"BRENVIK_CONNECT_TO", "以逗号分隔的 --connect-to 规则"},
    {"BRENVIK_CACERT", "额外信任的 CA 证书文件, 同 --cacert"},
    {"XDG_DATA_HOME", "数据目录的上级目录"},
}};

// Text for zsh's "[description]" inside a single-quoted word.
std::string ZshDescription(const CliOption& option) {
    const std::string firstLine = Split(option.help, '\n').front();
    std::string out;
    for (const char c : firstLine) {
        if (c == '[' || c == ']' || c == '\\') {
            out += '\\';
        }
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out;
}

std::string ZshAction(const CliOption& option) {
    switch (option.completion) {
        case Completion::File:
            return "_files";
        case Completion::Folder:
            return "_files -/";
        case Completion::Words:
            return std::string("(") + option.words + ")";
        case Completion::None:
            break;
    }
    return " ";
}

std::string BashValues(const CliOption& option) {
    switch (option.completion) {
        case Completion::File:
            return "compopt -o filenames; COMPREPLY=($(compgen -f -- \"$cur\"))";
        case Completion::Folder:
            return "compopt -o filenames; COMPREPLY=($(compgen -d -- \"$cur\"))";
        case Completion::Words:
            return std::string("COMPREPLY=($(compgen -W \"") + option.words + "\" -- \"$cur\"))";
        case Completion::None:
            break;
    }
    return "COMPREPLY=()";
}

std::string BashCompletion() {
    std::string names;
    std::string cases;
    for (const CliOption& option : OptionTable()) {
        if (option.hidden) {
            continue;
        }
        std::string pattern;
        for (const std::string& name : Names(option)) {
            names += (names.empty() ? "" : " ") + name;
            pattern += (pattern.empty() ? "" : "|") + name;
        }
        if (option.value) {
            cases += "        " + pattern + ")\n            " + BashValues(option) +
                     "\n            return ;;\n";
        }
    }
    return "# bash completion for brenvik-cli (made by brenvik-cli --print-completion bash)\n"
           "_brenvik_cli() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "    case \"$prev\" in\n" +
           cases +
           "    esac\n"
           "    if [[ \"$cur\" == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           names +
           "\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -F _brenvik_cli brenvik-cli\n";
}

std::string ZshCompletion() {
    std::string out =
        "#compdef brenvik-cli\n"
        "# zsh completion for brenvik-cli (made by brenvik-cli --print-completion zsh)\n"
        "_arguments -s -S \\\n";
    for (const CliOption& option : OptionTable()) {
        if (option.hidden) {
            continue;
        }
        const std::vector<std::string> names = Names(option);
        std::string word = "  '*'";
        word += names.size() > 1 ? "{" + names[0] + "," + names[1] + "}" : names[0];
        word += "'[" + ZshDescription(option) + "]";
        if (option.value) {
            word += std::string(":") + option.value + ":" + ZshAction(option);
        }
        out += word + "' \\\n";
    }
    return out + "  '*:地址: '\n";
}

}  // namespace

std::string ShortUsage() {
    return "用法: brenvik-cli [选项] 地址... (或 -i 文件)\n"
           "用 brenvik-cli -h 查看全部选项\n";
}

std::string HelpText() {
    std::string text =
        "用法: brenvik-cli [选项] 地址...\n"
        "      brenvik-cli [选项] -i 文件\n"
        "列出网站上的相册并下载. 可以给出多个地址(- 表示从标准输入逐行读取),\n"
        "每个地址依次列出并下载, 退出状态取其中最差的一个.\n"
        "\n"
        "选项:\n";
    for (const CliOption& option : OptionTable()) {
        if (option.hidden) {
            continue;
        }
        std::string column = HelpColumn(option);
        const std::vector<std::string> lines = Split(option.help, '\n');
        if (column.size() + 1 < kHelpColumn) {
            column.resize(kHelpColumn, ' ');
        } else {
            column += "\n" + std::string(kHelpColumn, ' ');
        }
        text += column + lines.front() + "\n";
        for (std::size_t i = 1; i < lines.size(); ++i) {
            text += std::string(kHelpColumn, ' ') + lines[i] + "\n";
        }
    }
    return text;
}

std::string ManPage() {
    std::string page =
        ".\\\" Made by brenvik-cli --print-man; edit the option table, not this file.\n"
        ".TH BRENVIK\\-CLI 1 \"\" \"" +
        Roff(kVersionText) +
        "\" \"用户命令\"\n"
        ".ad l\n"
        ".SH 名称\n"
        "brenvik\\-cli \\- 批量列出并下载网站相册\n"
        ".SH 概要\n"
        ".B brenvik\\-cli\n"
        "[\\fI选项\\fR] \\fI地址\\fR...\n"
        ".br\n"
        ".B brenvik\\-cli\n"
        "[\\fI选项\\fR] \\fB\\-i\\fR \\fI文件\\fR\n"
        ".SH 描述\n"
        "列出 QQ 空间、百度、网易、人人、新浪等网站上一个用户或一个地址的相册,\n"
        "并把选中的相册下载到保存路径下的相册目录里.\n"
        "可以给出多个地址; \\fB\\-\\fR 和 \\fB\\-i\\fR 文件里的地址逐行读取\n"
        "(空行和 # 开头的行除外). 每个地址依次列出并下载, 退出状态取其中最差的一个.\n"
        ".PP\n"
        "在终端上, 进度在一行里刷新: 第几个相册、已保存/总图片数、字节数、速度和剩余时间;\n"
        "输出到管道时每秒最多一行; 有 \\fB\\-q\\fR 时不显示.\n"
        ".SH 选项\n";
    for (const CliOption& option : OptionTable()) {
        if (option.hidden) {
            continue;
        }
        const std::string shortName = ShortName(option);
        page += ".TP\n";
        if (!shortName.empty()) {
            page += "\\fB" + Roff(shortName) + "\\fR, ";
        }
        page += "\\fB" + Roff(LongName(option)) + "\\fR";
        if (option.value) {
            page += " \\fI" + Roff(option.value) + "\\fR";
        }
        page += "\n";
        const std::vector<std::string> lines = Split(option.help, '\n');
        for (const std::string& line : lines) {
            page += Roff(line) + "\n";
        }
    }
    page += ".SH 环境变量\n";
    for (const EnvironmentEntry& entry : kEnvironment) {
        page += ".TP\n.B " + Roff(entry.name) + "\n" + Roff(entry.meaning) + "\n";
    }
    page +=
        ".SH 示例\n"
        ".nf\n"
        "brenvik\\-cli \\-l 12345\n"
        "brenvik\\-cli \\-a 1,3\\-4 \\-o ~/Pictures 12345\n"
        "brenvik\\-cli \\-\\-skip \\-\\-limit\\-rate 500K \\-i 地址.txt\n"
        ".fi\n";
    return page;
}

std::string CompletionScript(const std::string& shell) {
    if (shell == "bash") {
        return BashCompletion();
    }
    if (shell == "zsh") {
        return ZshCompletion();
    }
    return {};
}

}  // namespace brenvik::cli
