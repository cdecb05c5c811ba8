#include "net/Ini.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "net/TextKit.h"

namespace brenvik {
namespace {

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return FromUtf16(units);
}

}  // namespace

IniFile::IniFile(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        return;
    }
    exists_ = true;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    ParseText(DecodeFileBytes(bytes.str()));
}

std::string IniFile::DecodeFileBytes(const std::string& bytes) {
    if (bytes.starts_with("\xFF\xFE")) {
        return Utf16LeToUtf8(std::string_view(bytes).substr(2));
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return FromCodePage(std::string_view(bytes).substr(3), kCodePageUtf8);
    }
    if (IsUtf8(bytes)) {
        return bytes;
    }
    return FromCodePage(bytes, kCodePageGbk);
}

void IniFile::ParseText(const std::string& text) {
    sections_.clear();
    badLines_.clear();
    Section* current = nullptr;
    std::istringstream lines(text);
    for (std::string raw; std::getline(lines, raw);) {
        const std::string line = Trimmed(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            current = &sections_[LowerAscii(Trimmed(line.substr(1, line.size() - 2)))];
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || current == nullptr) {
            badLines_.push_back(line);
            continue;
        }
        const std::string key = Trimmed(line.substr(0, eq));
        const std::string lowered = LowerAscii(key);
        // The first definition of a key wins, as with the Windows calls.
        if (current->values.emplace(lowered, Unquote(Trimmed(line.substr(eq + 1)))).second) {
            current->order.push_back(key);
        }
    }
}

const std::string* IniFile::Find(const std::string& section, const std::string& key) const {
    const auto s = sections_.find(LowerAscii(section));
    if (s == sections_.end()) {
        return nullptr;
    }
    const auto v = s->second.values.find(LowerAscii(key));
    return v == s->second.values.end() ? nullptr : &v->second;
}

std::string IniFile::GetString(const std::string& section, const std::string& key,
                            const std::string& fallback) const {
    const std::string* value = Find(section, key);
    return value ? *value : fallback;
}

unsigned IniFile::GetInt(const std::string& section, const std::string& key, unsigned fallback) const {
    const std::string* value = Find(section, key);
    if (!value || value->empty()) {
        return fallback;
    }
    return static_cast<unsigned>(std::strtoul(value->substr(0, 64).c_str(), nullptr, 10));
}

bool IniFile::Has(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
    const auto s = sections_.find(LowerAscii(section));
    return s == sections_.end() ? std::vector<std::string>{} : s->second.order;
}

}  // namespace brenvik
