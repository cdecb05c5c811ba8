#include "net/BrowserCookies.h"

#include <openssl/evp.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "net/CookieStore.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;

// Seconds between 1601-01-01 (Chromium's epoch) and 1970-01-01.
constexpr long long kChromiumEpochOffset = 11644473600LL;
// From this database version on, a decrypted value starts with a 32-byte hash of its host.
constexpr int kChromiumHashedValueVersion = 24;

// A private copy of a database and its write-ahead log, removed with this object: the
// browser keeps its own copy locked while it runs.
class DatabaseCopy {
  public:
    explicit DatabaseCopy(const fs::path& database) {
        std::string pattern = (fs::temp_directory_path() / "brenvik-cookies-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        folder_ = pattern;
        std::error_code ec;
        fs::copy_file(database, folder_ / "db", ec);
        if (ec) {
            return;
        }
        fs::path wal = database;
        wal += "-wal";
        if (fs::exists(wal)) {
            fs::copy_file(wal, folder_ / "db-wal", ec);
        }
        path_ = folder_ / "db";
    }
    ~DatabaseCopy() {
        std::error_code ec;
        if (!folder_.empty()) {
            fs::remove_all(folder_, ec);
        }
    }
    DatabaseCopy(const DatabaseCopy&) = delete;
    DatabaseCopy& operator=(const DatabaseCopy&) = delete;

    const fs::path& Path() const { return path_; }

  private:
    fs::path folder_;
    fs::path path_;
};

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

Database OpenCopy(const fs::path& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return Database(db);
}

// Runs the query and hands every row to `row`; false when the query cannot run.
bool EachRow(sqlite3* db, const char* query, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, query, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return false;
    }
    Statement statement(raw);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        row(raw);
    }
    return step == SQLITE_DONE;
}

std::string TextColumn(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string BlobColumn(sqlite3_stmt* statement, int column) {
    const void* blob = sqlite3_column_blob(statement, column);
    return blob ? std::string(static_cast<const char*>(blob),
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : "";
}

struct BrowserCookie {
    std::string domain;
    std::string path;
    bool secure = false;
    bool httpOnly = false;
    long long expires = 0;  // seconds since 1970; 0 for a session cookie
    std::string name;
    std::string value;
};

// The cookie as a Netscape line; empty when a field would break the line format.
std::string NetscapeLine(const BrowserCookie& c) {
    for (const std::string* field : {&c.domain, &c.path, &c.name, &c.value}) {
        if (field->find_first_of("\t\r\n") != std::string::npos) {
            return "";
        }
    }
    if (c.domain.empty() || c.name.empty()) {
        return "";
    }
    const bool subdomains = c.domain.starts_with(".");
    return (c.httpOnly ? "#HttpOnly_" : "") + c.domain + "\t" + (subdomains ? "TRUE" : "FALSE") +
           "\t" + (c.path.empty() ? "/" : c.path) + "\t" + (c.secure ? "TRUE" : "FALSE") + "\t" +
           std::to_string(c.expires) + "\t" + c.name + "\t" + c.value;
}

void Keep(BrowserCookies& result, const BrowserCookie& cookie) {
    std::string line = NetscapeLine(cookie);
    if (!line.empty()) {
        result.lines.push_back(std::move(line));
    }
}

// The readable copy of a database, or the reason there is none.
bool OpenForReading(const fs::path& database, const DatabaseCopy& copy, Database& db,
                    std::string& error) {
    if (!fs::is_regular_file(database)) {
        error = "找不到浏览器的Cookie数据库: " + database.string();
        return false;
    }
    db = copy.Path().empty() ? nullptr : OpenCopy(copy.Path());
    if (!db) {
        error = "无法读取Cookie数据库: " + database.string();
        return false;
    }
    return true;
}

// --- Chromium's "v10" values -------------------------------------------------------------

// Chromium on Linux without a keyring encrypts with a fixed password ("v10"); values
// marked "v11" use a key kept in the system keyring, which we cannot reach.
std::optional<std::string> DecryptV10(std::string_view data) {
    static constexpr std::string_view kPassword = "peanuts";
    static constexpr std::string_view kSalt = "saltysalt";
    unsigned char key[16];
    if (PKCS5_PBKDF2_HMAC_SHA1(kPassword.data(), static_cast<int>(kPassword.size()),
                               reinterpret_cast<const unsigned char*>(kSalt.data()),
                               static_cast<int>(kSalt.size()), 1, sizeof key, key) != 1) {
        return std::nullopt;
    }
    unsigned char iv[16];
    std::fill(std::begin(iv), std::end(iv), ' ');
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    std::string plain(data.size() + 16, '\0');
    int written = 0;
    int last = 0;
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv) != 1 ||
        EVP_DecryptUpdate(ctx.get(), out, &written,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), out + written, &last) != 1) {
        return std::nullopt;
    }
    plain.resize(static_cast<std::size_t>(written + last));
    return plain;
}

int ChromiumVersion(sqlite3* db) {
    int version = 0;
    EachRow(db, "SELECT value FROM meta WHERE key='version'",
            [&](sqlite3_stmt* row) { version = std::atoi(TextColumn(row, 0).c_str()); });
    return version;
}

long long ChromiumExpiry(long long microseconds) {
    if (microseconds <= 0) {
        return 0;
    }
    return std::max(1LL, microseconds / 1000000 - kChromiumEpochOffset);
}

// --- Profiles ------------------------------------------------------------------------------

struct IniSection {
    std::string name;
    std::map<std::string, std::string> values;
};

std::vector<IniSection> ReadProfilesIni(const fs::path& file) {
    std::vector<IniSection> sections;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.starts_with("[") && line.ends_with("]")) {
            sections.push_back({line.substr(1, line.size() - 2), {}});
        } else if (const auto eq = line.find('='); eq != std::string::npos && !sections.empty()) {
            sections.back().values[Trimmed(line.substr(0, eq))] = Trimmed(line.substr(eq + 1));
        }
    }
    return sections;
}

fs::path ProfileFolder(const fs::path& base, const IniSection& profile) {
    const auto path = profile.values.find("Path");
    if (path == profile.values.end()) {
        return {};
    }
    const auto relative = profile.values.find("IsRelative");
    const bool isRelative = relative == profile.values.end() || relative->second != "0";
    return isRelative ? base / path->second : fs::path(path->second);
}

// The profile the user named, else the one the browser starts with.
fs::path FirefoxProfile(const fs::path& base, const std::string& wanted) {
    const auto sections = ReadProfilesIni(base / "profiles.ini");
    fs::path fallback;
    fs::path marked;
    for (const auto& section : sections) {
        const bool isProfile = section.name.starts_with("Profile");
        if (section.name.starts_with("Install") && wanted.empty()) {
            const auto value = section.values.find("Default");
            if (value != section.values.end()) {
                return base / value->second;
            }
        }
        if (!isProfile) {
            continue;
        }
        const fs::path folder = ProfileFolder(base, section);
        const auto name = section.values.find("Name");
        if (!wanted.empty() && ((name != section.values.end() && name->second == wanted) ||
                                folder.filename() == wanted)) {
            return folder;
        }
        if (fallback.empty()) {
            fallback = folder;
        }
        if (const auto flag = section.values.find("Default");
            flag != section.values.end() && flag->second == "1") {
            marked = folder;
        }
    }
    if (!wanted.empty()) {
        return base / wanted;
    }
    return marked.empty() ? fallback : marked;
}

fs::path ChromiumCookieFile(const fs::path& profile) {
    const fs::path network = profile / "Network" / "Cookies";
    return fs::exists(network) ? network : profile / "Cookies";
}

struct Browser {
    std::string_view name;
    bool firefox;
    std::string_view configFolder;  // below the user's home
};

constexpr Browser kBrowsers[] = {
    {"firefox", true, ".mozilla/firefox"},
    {"chromium", false, ".config/chromium"},
    {"chrome", false, ".config/google-chrome"},
};

}  // namespace

BrowserCookies ReadFirefoxCookies(const fs::path& database) {
    BrowserCookies result;
    const DatabaseCopy copy(database);
    Database db;
    if (!OpenForReading(database, copy, db, result.error)) {
        return result;
    }
    const bool read = EachRow(
        db.get(), "SELECT host, path, isSecure, isHttpOnly, expiry, name, value FROM moz_cookies",
        [&](sqlite3_stmt* row) {
            BrowserCookie cookie{TextColumn(row, 0),
                                 TextColumn(row, 1),
                                 sqlite3_column_int(row, 2) != 0,
                                 sqlite3_column_int(row, 3) != 0,
                                 sqlite3_column_int64(row, 4),
                                 TextColumn(row, 5),
                                 TextColumn(row, 6)};
            // Newer versions count the expiry in milliseconds.
            if (cookie.expires > 100000000000LL) {
                cookie.expires /= 1000;
            }
            Keep(result, cookie);
        });
    if (!read) {
        result.error = "无法读取Cookie数据库: " + database.string();
    }
    return result;
}

BrowserCookies ReadChromiumCookies(const fs::path& database) {
    BrowserCookies result;
    const DatabaseCopy copy(database);
    Database db;
    if (!OpenForReading(database, copy, db, result.error)) {
        return result;
    }
    const bool hashedValues = ChromiumVersion(db.get()) >= kChromiumHashedValueVersion;
    const bool read = EachRow(
        db.get(),
        "SELECT host_key, path, is_secure, is_httponly, expires_utc, name, value, "
        "encrypted_value FROM cookies",
        [&](sqlite3_stmt* row) {
            BrowserCookie cookie{TextColumn(row, 0),
                                 TextColumn(row, 1),
                                 sqlite3_column_int(row, 2) != 0,
                                 sqlite3_column_int(row, 3) != 0,
                                 ChromiumExpiry(sqlite3_column_int64(row, 4)),
                                 TextColumn(row, 5),
                                 TextColumn(row, 6)};
            const std::string encrypted = BlobColumn(row, 7);
            if (cookie.value.empty() && !encrypted.empty()) {
                const auto plain =
                    encrypted.starts_with("v10") ? DecryptV10(encrypted.substr(3)) : std::nullopt;
                if (!plain || (hashedValues && plain->size() < 32)) {
                    ++result.locked;
                    return;
                }
                cookie.value = hashedValues ? plain->substr(32) : *plain;
            }
            Keep(result, cookie);
        });
    if (!read) {
        result.error = "无法读取Cookie数据库: " + database.string();
    }
    return result;
}

BrowserImport ImportBrowserCookies(const std::string& choice, CookieStore& store,
                                   const fs::path& userHome) {
    BrowserImport result;
    const std::string browserName = choice.substr(0, choice.find(':'));
    const std::string profile =
        choice.find(':') == std::string::npos ? "" : choice.substr(choice.find(':') + 1);
    const Browser* browser = nullptr;
    for (const Browser& entry : kBrowsers) {
        if (entry.name == browserName) {
            browser = &entry;
        }
    }
    if (!browser) {
        result.error = "不支持的浏览器: " + browserName + "(可用 firefox、chromium、chrome)";
        return result;
    }
    const fs::path base = userHome / browser->configFolder;
    BrowserCookies cookies;
    if (browser->firefox) {
        const fs::path folder = !profile.empty() && fs::is_directory(profile)
                                    ? fs::path(profile)
                                    : FirefoxProfile(base, profile);
        cookies = ReadFirefoxCookies(folder / "cookies.sqlite");
    } else {
        const fs::path folder = !profile.empty() && fs::is_directory(profile)
                                    ? fs::path(profile)
                                    : base / (profile.empty() ? "Default" : profile);
        cookies = ReadChromiumCookies(ChromiumCookieFile(folder));
    }
    result.error = cookies.error;
    result.locked = cookies.locked;
    for (const std::string& line : cookies.lines) {
        result.imported += store.Put(line) ? 1 : 0;
    }
    return result;
}

fs::path UserHomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? fs::path(home) : fs::path();
}

std::string BrowserImportReport(const BrowserImport& result) {
    if (!result.error.empty()) {
        return result.error;
    }
    std::string report = "已从浏览器导入" + std::to_string(result.imported) + "个Cookie";
    if (result.locked > 0) {
        report += "，另有" + std::to_string(result.locked) +
                  "个Cookie由系统钥匙环加密，无法读取(可在浏览器里改用基本密码存储，"
                  "或在登录菜单里登录)";
    }
    return report;
}

}  // namespace brenvik
