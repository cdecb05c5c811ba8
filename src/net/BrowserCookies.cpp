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
#include "net/Hosts.h"
#include "net/Keyring.h"
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

// --- Chromium's encrypted values -----------------------------------------------------------

// Chromium on Linux without a keyring encrypts with a fixed password ("v10"); values
// marked "v11" use a password kept in the desktop's keyring. Both make the AES key alike.
constexpr std::string_view kFixedPassword = "peanuts";

std::optional<std::string> DecryptWithPassword(std::string_view data, std::string_view password) {
    static constexpr std::string_view kSalt = "saltysalt";
    unsigned char key[16];
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
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

// What a search for a browser's cookie database found, and every place it looked.
struct Located {
    fs::path database;
    std::vector<fs::path> searched;
};

// The profile folder of a profiles.ini/installs.ini entry's "Default=" or "Path=" value.
fs::path InBase(const fs::path& base, const std::string& path) {
    return fs::path(path).is_absolute() ? fs::path(path) : base / path;
}

// The profile Firefox itself starts with: installs.ini names the profile of this
// installation (on a first run profiles.ini marks an empty profile Default=1 while the
// data sits in the one installs.ini names), then profiles.ini's [Install…] sections, then
// the profile marked Default=1, then the first one.
fs::path FirefoxDefaultProfile(const fs::path& base) {
    for (const auto& section : ReadProfilesIni(base / "installs.ini")) {
        if (const auto value = section.values.find("Default"); value != section.values.end()) {
            return InBase(base, value->second);
        }
    }
    const auto sections = ReadProfilesIni(base / "profiles.ini");
    for (const auto& section : sections) {
        const auto value = section.values.find("Default");
        if (section.name.starts_with("Install") && value != section.values.end()) {
            return InBase(base, value->second);
        }
    }
    fs::path first;
    for (const auto& section : sections) {
        if (!section.name.starts_with("Profile")) {
            continue;
        }
        const auto flag = section.values.find("Default");
        if (flag != section.values.end() && flag->second == "1") {
            return ProfileFolder(base, section);
        }
        if (first.empty()) {
            first = ProfileFolder(base, section);
        }
    }
    return first;
}

// A profile by its name in profiles.ini or its folder's name.
fs::path FirefoxNamedProfile(const fs::path& base, const std::string& wanted) {
    for (const auto& section : ReadProfilesIni(base / "profiles.ini")) {
        const fs::path folder = ProfileFolder(base, section);
        const auto name = section.values.find("Name");
        if ((name != section.values.end() && name->second == wanted) ||
            (!folder.empty() && folder.filename() == wanted)) {
            return folder;
        }
    }
    return base / wanted;
}

fs::path ChromiumCookieFile(const fs::path& profile) {
    const fs::path network = profile / "Network" / "Cookies";
    return fs::exists(network) ? network : profile / "Cookies";
}

// The profile Chromium used last, from "last_used" in the user-data folder's "Local State".
std::string ChromiumLastUsedProfile(const fs::path& userData) {
    std::ifstream in(userData / "Local State", std::ios::binary);
    const std::string state((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t key = state.find("\"last_used\"");
    if (key == std::string::npos) {
        return "";
    }
    const std::size_t open = state.find('"', state.find(':', key));
    const std::size_t close = open == std::string::npos ? open : state.find('"', open + 1);
    if (close == std::string::npos) {
        return "";
    }
    const std::string name = state.substr(open + 1, close - open - 1);
    // A profile is a folder directly inside the user-data folder.
    return name.find_first_of("/\\") == std::string::npos && name != ".." ? name : "";
}

// The profiles to try in a user-data folder: the one used last, then "Default".
std::vector<fs::path> ChromiumProfilesOf(const fs::path& userData) {
    std::vector<fs::path> profiles;
    if (const std::string last = ChromiumLastUsedProfile(userData); !last.empty()) {
        profiles.push_back(userData / last);
    }
    if (profiles.empty() || profiles.front().filename() != "Default") {
        profiles.push_back(userData / "Default");
    }
    return profiles;
}

struct Browser {
    std::string_view name;
    bool firefox;
    // Where the browser keeps its profiles (Firefox) or user data (Chromium family), below
    // the user's home: the usual place first, then newer, snap and flatpak ones.
    std::vector<std::string_view> configFolders;
    std::string_view keyringLabel = {};  // the keyring item with the "v11" password
};

const std::vector<Browser>& Browsers() {
    static const std::vector<Browser> browsers = {
        {"firefox",
         true,
         {".mozilla/firefox", ".config/mozilla/firefox", "snap/firefox/common/.mozilla/firefox",
          ".var/app/org.mozilla.firefox/.mozilla/firefox",
          ".var/app/org.mozilla.firefox/config/mozilla/firefox"}},
        {"chromium",
         false,
         {".config/chromium", "snap/chromium/common/chromium",
          ".var/app/org.chromium.Chromium/config/chromium"},
         "Chromium Safe Storage"},
        {"chrome",
         false,
         {".config/google-chrome", ".var/app/com.google.Chrome/config/google-chrome"},
         "Chrome Safe Storage"},
        {"brave", false, {".config/BraveSoftware/Brave-Browser"}, "Brave Safe Storage"},
        {"edge", false, {".config/microsoft-edge"}, "Microsoft Edge Safe Storage"},
        {"vivaldi", false, {".config/vivaldi"}, "Vivaldi Safe Storage"},
    };
    return browsers;
}

const Browser* BrowserNamed(const std::string& name) {
    for (const Browser& browser : Browsers()) {
        if (browser.name == name) {
            return &browser;
        }
    }
    return nullptr;
}

std::string BrowserNames() {
    std::string names;
    for (const Browser& browser : Browsers()) {
        names += (names.empty() ? "" : "、") + std::string(browser.name);
    }
    return names;
}

// Takes the first candidate that holds a database, recording each one looked at.
void TryCandidates(const std::vector<fs::path>& databases, Located& found) {
    for (const fs::path& database : databases) {
        if (!found.database.empty()) {
            return;
        }
        found.searched.push_back(database);
        if (fs::is_regular_file(database)) {
            found.database = database;
        }
    }
}

// The cookie databases to try in a folder the user named, or below one of the browser's
// configuration folders.
using Candidates = std::function<std::vector<fs::path>(const fs::path& folder)>;

// A profile folder the user named is tried alone; otherwise each configuration folder of
// the browser in turn, a missing one recorded as searched.
Located Locate(const Browser& browser, const fs::path& home, const std::string& profile,
               const Candidates& inNamedFolder, const Candidates& inConfigFolder) {
    Located found;
    if (!profile.empty() && fs::is_directory(profile)) {
        TryCandidates(inNamedFolder(profile), found);
        return found;
    }
    for (const std::string_view folder : browser.configFolders) {
        const fs::path base = home / folder;
        if (!fs::is_directory(base)) {
            found.searched.push_back(base);
            continue;
        }
        TryCandidates(inConfigFolder(base), found);
    }
    return found;
}

Located LocateFirefox(const Browser& browser, const fs::path& home, const std::string& profile) {
    return Locate(
        browser, home, profile,
        [](const fs::path& folder) { return std::vector{folder / "cookies.sqlite"}; },
        [&profile](const fs::path& base) {
            const fs::path chosen =
                profile.empty() ? FirefoxDefaultProfile(base) : FirefoxNamedProfile(base, profile);
            return std::vector{chosen.empty() ? base / "profiles.ini" : chosen / "cookies.sqlite"};
        });
}

// A folder the user named may be a user-data folder (it holds "Local State") or a profile.
std::vector<fs::path> ChromiumFolderCandidates(const fs::path& folder) {
    std::vector<fs::path> databases;
    const bool userData = fs::exists(folder / "Local State");
    for (const fs::path& profile : userData ? ChromiumProfilesOf(folder) : std::vector{folder}) {
        databases.push_back(ChromiumCookieFile(profile));
    }
    return databases;
}

Located LocateChromium(const Browser& browser, const fs::path& home, const std::string& profile) {
    return Locate(browser, home, profile, ChromiumFolderCandidates,
                  [&profile](const fs::path& base) {
                      if (!profile.empty()) {
                          return std::vector{ChromiumCookieFile(base / profile)};
                      }
                      std::vector<fs::path> databases;
                      for (const fs::path& candidate : ChromiumProfilesOf(base)) {
                          databases.push_back(ChromiumCookieFile(candidate));
                      }
                      return databases;
                  });
}

std::string NotFoundMessage(const Located& located) {
    std::string message = "找不到浏览器的Cookie数据库，已查找:";
    for (const fs::path& place : located.searched) {
        message += "\n  " + place.string();
    }
    return message;
}

// --- Which cookies are taken ---------------------------------------------------------------

// Second-level names under which a country's sites register ("x.com.cn").
bool IsSecondLevelSuffix(std::string_view labels) {
    static constexpr std::string_view kSuffixes[] = {"com.cn", "net.cn", "org.cn", "gov.cn",
                                                     "com.tw", "com.hk", "co.jp"};
    return std::find(std::begin(kSuffixes), std::end(kSuffixes), labels) != std::end(kSuffixes);
}

// The site a host table entry belongs to: "photo.163.com" -> "163.com"; an address of a
// test or an override ("127.0.0.1:8080", "http://h:1") is kept as its host.
std::string SiteDomainOf(std::string entry) {
    if (const auto scheme = entry.find("://"); scheme != std::string::npos) {
        entry.erase(0, scheme + 3);
    }
    entry = entry.substr(0, entry.find_first_of("/:"));
    while (!entry.empty() && entry.front() == '.') {
        entry.erase(0, 1);
    }
    while (!entry.empty() && entry.back() == '.') {
        entry.pop_back();
    }
    if (entry.find('.') == std::string::npos ||
        entry.find_first_not_of("0123456789.") == std::string::npos) {
        return entry.find('.') == std::string::npos ? "" : entry;
    }
    const std::size_t last = entry.rfind('.');
    std::size_t cut = entry.rfind('.', last - 1);
    if (cut != std::string::npos && IsSecondLevelSuffix(entry.substr(cut + 1))) {
        cut = entry.rfind('.', cut - 1);
    }
    return cut == std::string::npos ? entry : entry.substr(cut + 1);
}

// Every site Brenvik talks to, as the host table (with its overrides) names them now.
std::vector<std::string> SiteDomains() {
    std::vector<std::string> domains;
    for (const HostRole& role : BuiltInHosts()) {
        const std::string domain = SiteDomainOf(Host(role.role));
        if (!domain.empty() && std::find(domains.begin(), domains.end(), domain) == domains.end()) {
            domains.push_back(domain);
        }
    }
    return domains;
}

// The cookie's domain belongs to one of the sites (the site itself or a host under it).
bool IsForSites(const std::string& line, const std::vector<std::string>& sites) {
    std::string domain = line.substr(0, line.find('\t'));
    if (domain.starts_with("#HttpOnly_")) {
        domain.erase(0, 10);
    }
    while (!domain.empty() && domain.front() == '.') {
        domain.erase(0, 1);
    }
    return std::any_of(sites.begin(), sites.end(), [&](const std::string& site) {
        return domain == site || domain.ends_with("." + site);
    });
}

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

BrowserCookies ReadChromiumCookies(const fs::path& database, std::string_view keyringPassword) {
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
                const std::string_view password = encrypted.starts_with("v10")   ? kFixedPassword
                                                  : encrypted.starts_with("v11") ? keyringPassword
                                                                                 : "";
                const auto plain =
                    password.empty()
                        ? std::nullopt
                        : DecryptWithPassword(std::string_view(encrypted).substr(3), password);
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
    const std::size_t colon = choice.find(':');
    const std::string browserName = choice.substr(0, colon);
    const std::string profile = colon == std::string::npos ? "" : choice.substr(colon + 1);
    const Browser* browser = BrowserNamed(browserName);
    if (!browser) {
        result.error = "不支持的浏览器: " + browserName + "(可用 " + BrowserNames() + ")";
        return result;
    }
    const Located located = browser->firefox ? LocateFirefox(*browser, userHome, profile)
                                             : LocateChromium(*browser, userHome, profile);
    if (located.database.empty()) {
        result.error = NotFoundMessage(located);
        return result;
    }
    result.source = located.database;
    BrowserCookies cookies = browser->firefox ? ReadFirefoxCookies(located.database)
                                              : ReadChromiumCookies(located.database);
    // The keyring is asked only when values need it; without it "v10" values still serve.
    if (cookies.locked > 0 && !browser->keyringLabel.empty()) {
        const KeyringSecret keyring = LookUpKeyringSecret(browser->keyringLabel);
        if (keyring.secret.empty()) {
            result.keyringProblem = keyring.problem;
        } else {
            cookies = ReadChromiumCookies(located.database, keyring.secret);
        }
    }
    result.error = cookies.error;
    result.locked = cookies.locked;
    // A store of login cookies holds only the sites Brenvik talks to, not the user's bank.
    const std::vector<std::string> sites = SiteDomains();
    for (const std::string& line : cookies.lines) {
        if (!IsForSites(line, sites)) {
            ++result.leftOut;
        } else if (store.Put(line)) {
            ++result.imported;
        }
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
    if (result.leftOut > 0) {
        report += "，其他网站的" + std::to_string(result.leftOut) + "个Cookie未导入";
    }
    if (!result.source.empty()) {
        report += "(读取 " + result.source.string() + ")";
    }
    if (result.locked > 0) {
        const std::string why = result.keyringProblem.empty() ? "" : result.keyringProblem + "；";
        report += "，另有" + std::to_string(result.locked) + "个Cookie由系统钥匙环加密，无法读取(" +
                  why + "可在浏览器里改用基本密码存储，或在登录菜单里登录)";
    }
    return report;
}

}  // namespace brenvik
