#include "net/CookieFile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "net/TextKit.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExpectedForm =
    "应为 Netscape 格式的 cookies.txt(每行7个用Tab分隔的字段) 或浏览器扩展导出的 JSON Cookie 列表";

std::string Refusal(const fs::path& file, const std::string& why) {
    return "无法使用 cookies 文件 " + file.string() + ": " + why + "，" + kExpectedForm;
}

// Text has no control characters but tabs and line ends (a program or an image has).
bool LooksLikeText(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7f;
    });
}

// A Netscape line: domain, subdomains flag, path, secure flag, expiry, name[, value].
bool IsNetscapeLine(std::string_view line) {
    static constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (line.starts_with(kHttpOnly)) {
        line.remove_prefix(kHttpOnly.size());
    }
    Pieces fields;
    SplitAll(line, "\t", fields);
    if (fields.size() < 6 || fields.size() > 7 || fields[0].empty() || fields[5].empty()) {
        return false;
    }
    const auto flag = [](const std::string& f) { return f == "TRUE" || f == "FALSE"; };
    return flag(fields[1]) && flag(fields[3]) && !fields[4].empty() &&
           fields[4].find_first_not_of("0123456789-") == std::string::npos;
}

bool IsCommentOrBlank(std::string_view line) {
    return line.empty() || (line.front() == '#' && !line.starts_with("#HttpOnly_"));
}

std::vector<std::string> NetscapeLines(const std::string& text, int& badLines) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (IsCommentOrBlank(line)) {
            continue;
        }
        if (IsNetscapeLine(line)) {
            lines.push_back(line);
        } else {
            ++badLines;
        }
    }
    return lines;
}

// --- The JSON export: a list of flat objects ------------------------------------------------

class JsonCursor {
  public:
    explicit JsonCursor(const std::string& text) : text_(text) {}

    bool Take(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipSpace();
        return pos_ >= text_.size();
    }
    std::optional<std::string> String() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string out;
        std::string escapes;  // a run of \uXXXX, turned into text as one (surrogate pairs)
        const auto flush = [&] {
            out += UnescapeUnicode(escapes);
            escapes.clear();
        };
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (text_[pos_] != '\\') {
                flush();
                out += text_[pos_++];
                continue;
            }
            if (pos_ + 1 >= text_.size()) {
                return std::nullopt;
            }
            const char escaped = text_[pos_ + 1];
            pos_ += 2;
            if (escaped == 'u') {
                if (pos_ + 4 > text_.size()) {
                    return std::nullopt;
                }
                escapes += "\\u" + text_.substr(pos_, 4);
                pos_ += 4;
                continue;
            }
            flush();
            static const std::map<char, char> kEscapes = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},
                                                          {'b', '\b'}, {'f', '\f'},  {'n', '\n'},
                                                          {'r', '\r'}, {'t', '\t'}};
            const auto found = kEscapes.find(escaped);
            if (found == kEscapes.end()) {
                return std::nullopt;
            }
            out += found->second;
        }
        flush();
        if (!Take('"')) {
            return std::nullopt;
        }
        return out;
    }
    // A number, true, false or null, as its text.
    std::optional<std::string> Word() {
        SkipSpace();
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                std::string_view("+-.").find(text_[pos_]) != std::string_view::npos)) {
            ++pos_;
        }
        if (pos_ == start) {
            return std::nullopt;
        }
        return text_.substr(start, pos_ - start);
    }
    // Skips an object or a list (values the cookie does not need).
    bool SkipNested() {
        SkipSpace();
        int depth = 0;
        bool inString = false;
        for (; pos_ < text_.size(); ++pos_) {
            const char c = text_[pos_];
            if (inString) {
                if (c == '\\') {
                    ++pos_;
                } else if (c == '"') {
                    inString = false;
                }
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                ++pos_;
                return true;
            }
        }
        return false;
    }
    char Peek() {
        SkipSpace();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }

  private:
    void SkipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }
    const std::string& text_;
    std::size_t pos_ = 0;
};

using JsonObject = std::map<std::string, std::string>;

std::optional<JsonObject> ReadObject(JsonCursor& json) {
    JsonObject object;
    if (!json.Take('{')) {
        return std::nullopt;
    }
    if (json.Take('}')) {
        return object;
    }
    do {
        const auto key = json.String();
        if (!key || !json.Take(':')) {
            return std::nullopt;
        }
        const char next = json.Peek();
        if (next == '{' || next == '[') {
            if (!json.SkipNested()) {
                return std::nullopt;
            }
            continue;
        }
        const auto value = next == '"' ? json.String() : json.Word();
        if (!value) {
            return std::nullopt;
        }
        object[*key] = *value;
    } while (json.Take(','));
    return json.Take('}') ? std::optional(object) : std::nullopt;
}

std::string Field(const JsonObject& object, const std::string& key) {
    const auto found = object.find(key);
    return found == object.end() ? "" : found->second;
}

// Whole seconds of an export's expiry (a fraction of seconds since 1970); 0 for none, and
// never beyond the year 9999 however large the number.
long long ExpirySeconds(const std::string& text) {
    constexpr double kLatest = 253402300799.0;
    const double seconds = text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
    return seconds > 0 ? static_cast<long long>(std::min(seconds, kLatest)) : 0;
}

// One exported cookie as a Netscape line; empty when it lacks a domain or a name.
std::string LineOf(const JsonObject& cookie) {
    std::string domain = Field(cookie, "domain");
    const std::string name = Field(cookie, "name");
    const std::string value = Field(cookie, "value");
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    for (const std::string& text : {domain, name, value}) {
        if (std::any_of(text.begin(), text.end(), isControl)) {
            return "";
        }
    }
    if (domain.empty() || name.empty()) {
        return "";
    }
    // A host-only cookie is one without the leading dot.
    const bool hostOnly = Field(cookie, "hostOnly") == "true";
    if (hostOnly && domain.front() == '.') {
        domain.erase(0, 1);
    } else if (!hostOnly && domain.front() != '.' && cookie.count("hostOnly")) {
        domain.insert(0, ".");
    }
    const std::string path = Field(cookie, "path").empty() ? "/" : Field(cookie, "path");
    const bool session = Field(cookie, "session") == "true";
    const long long expires = session ? 0 : ExpirySeconds(Field(cookie, "expirationDate"));
    const auto flag = [](bool on) { return on ? "TRUE" : "FALSE"; };
    return std::string(Field(cookie, "httpOnly") == "true" ? "#HttpOnly_" : "") + domain + "\t" +
           flag(domain.front() == '.') + "\t" + path + "\t" +
           flag(Field(cookie, "secure") == "true") + "\t" + std::to_string(expires) + "\t" + name +
           "\t" + value;
}

}  // namespace

std::vector<std::string> CookieLinesFromJson(const std::string& text) {
    JsonCursor json(text);
    std::vector<std::string> lines;
    if (!json.Take('[')) {
        return lines;
    }
    if (json.Take(']')) {
        return lines;
    }
    do {
        const auto cookie = ReadObject(json);
        if (!cookie) {
            return {};
        }
        if (std::string line = LineOf(*cookie); !line.empty()) {
            lines.push_back(std::move(line));
        }
    } while (json.Take(','));
    if (!json.Take(']') || !json.AtEnd()) {
        return {};
    }
    return lines;
}

CookieFileLines ReadCookieFile(const fs::path& file) {
    CookieFileLines result;
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        result.error = Refusal(file, "这是一个文件夹");
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.error = Refusal(file, "无法读取");
        return result;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!LooksLikeText(text)) {
        result.error = Refusal(file, "这不是文本文件");
        return result;
    }
    const std::string start = Trimmed(text.substr(0, 64));
    if (start.starts_with("[") || start.starts_with("{")) {
        result.lines = CookieLinesFromJson(text);
        if (result.lines.empty()) {
            result.error = Refusal(file, "JSON 内容不是 Cookie 列表");
        }
        return result;
    }
    int badLines = 0;
    result.lines = NetscapeLines(text, badLines);
    // An empty jar as curl and the browser extensions write it is a cookie file all the same.
    const bool emptyJar = badLines == 0 && (text.starts_with("# Netscape HTTP Cookie File") ||
                                            text.starts_with("# HTTP Cookie File"));
    if (result.lines.empty() && !emptyJar) {
        result.error = Refusal(file, "没有一行是有效的 Cookie");
    }
    return result;
}

}  // namespace brenvik
