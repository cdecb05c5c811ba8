#include "settings/FollowList.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "net/AtomicFile.h"
#include "net/FolderLock.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::string_view kHeading = "# Brenvik 关注列表（由程序写入，每个关注对象一段）\n";
constexpr std::string_view kEntryStart = "[关注]";

// A value stays on its line: backslashes and control characters are written as escapes.
std::string Escaped(std::string_view value) {
    std::string out;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string Unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        if (next == 'n') {
            out += '\n';
        } else if (next == 'x' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
                   HexDigit(value[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            out += next;
        }
    }
    return out;
}

std::int64_t NumberOr(const std::string& text, std::int64_t fallback) {
    if (text.empty() || text.size() > 18 || !IsDigitsOnly(text)) {
        return fallback;
    }
    return std::stoll(text);
}

// Counts and indexes: what does not fit an int is out of range, not a wrapped number.
int CountOr(const std::string& text, int fallback) {
    const std::int64_t value = NumberOr(text, fallback);
    return value > INT_MAX ? fallback : static_cast<int>(value);
}

void Line(std::string& out, std::string_view key, std::string_view value) {
    out.append(key).append("=").append(Escaped(value)).append("\n");
}

// One "key=value" line into the entry being read.
void Take(FollowedOwner& entry, const std::string& key, const std::string& value) {
    if (key == "site") {
        entry.site = CountOr(value, -1);
    } else if (key == "sub") {
        entry.sub = CountOr(value, 0);
    } else if (key == "owner") {
        entry.owner = value;
    } else if (key == "save") {
        entry.savePath = value;
    } else if (key == "pick") {
        entry.picked.push_back(value);
    } else if (key == "known") {
        entry.known.push_back(value);
    } else if (key == "updated") {
        entry.lastUpdate = NumberOr(value, 0);
    } else if (key == "albums") {
        entry.albums = CountOr(value, 0);
    } else if (key == "photos") {
        entry.photos = NumberOr(value, 0);
    }
}

bool Usable(const FollowedOwner& entry) {
    return !Trimmed(entry.owner).empty() && entry.site >= 0 && entry.site < 100;
}

}  // namespace

bool SameOwner(const FollowedOwner& a, const FollowedOwner& b) {
    return a.site == b.site && (a.site != 0 || a.sub == b.sub) &&
           Trimmed(a.owner) == Trimmed(b.owner);
}

std::string FollowListText(const std::vector<FollowedOwner>& owners) {
    std::string out(kHeading);
    for (const FollowedOwner& entry : owners) {
        out.append("\n").append(kEntryStart).append("\n");
        Line(out, "site", std::to_string(entry.site));
        Line(out, "sub", std::to_string(entry.sub));
        Line(out, "owner", entry.owner);
        Line(out, "save", entry.savePath);
        Line(out, "updated", std::to_string(entry.lastUpdate));
        Line(out, "albums", std::to_string(entry.albums));
        Line(out, "photos", std::to_string(entry.photos));
        for (const auto& name : entry.picked) {
            Line(out, "pick", name);
        }
        for (const auto& name : entry.known) {
            Line(out, "known", name);
        }
    }
    return out;
}

std::vector<FollowedOwner> ParseFollowList(std::string_view text) {
    std::vector<FollowedOwner> owners;
    std::istringstream in{std::string(text)};
    bool inEntry = false;
    const auto finish = [&] {
        if (inEntry && !Usable(owners.back())) {
            owners.pop_back();
        }
    };
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == kEntryStart) {
            finish();
            owners.emplace_back();
            inEntry = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inEntry || line.starts_with('#') || equals == std::string::npos) {
            continue;
        }
        Take(owners.back(), line.substr(0, equals), Unescaped(line.substr(equals + 1)));
    }
    finish();
    return owners;
}

FollowListRead LoadFollowList(const std::filesystem::path& home,
                              std::vector<FollowedOwner>& owners) {
    owners.clear();
    const std::filesystem::path file = home / kFollowListFile;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return FollowListRead::Missing;
    }
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        return FollowListRead::Unreadable;
    }
    if (size > kMaxFollowListBytes) {
        return FollowListRead::TooLarge;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        return size == 0 ? FollowListRead::Read : FollowListRead::Unreadable;
    }
    owners = ParseFollowList(text.str());
    return FollowListRead::Read;
}

FollowListChange ChangeFollowList(const std::filesystem::path& home,
                                  const std::function<bool(std::vector<FollowedOwner>&)>& change) {
    const FolderLock lock(home);
    if (lock.Abandoned()) {
        return FollowListChange::NotSaved;
    }
    std::vector<FollowedOwner> owners;
    const FollowListRead read = LoadFollowList(home, owners);
    if (read == FollowListRead::TooLarge || read == FollowListRead::Unreadable) {
        return FollowListChange::NotSaved;
    }
    if (!change(owners)) {
        return FollowListChange::Unchanged;
    }
    return WriteFileAtomically(home / kFollowListFile, FollowListText(owners))
               ? FollowListChange::Saved
               : FollowListChange::NotSaved;
}

}  // namespace brenvik
