// Cookies read from browser databases built here the way Firefox and Chromium keep them,
// and the real brenvik-cli logging in with a Firefox profile's cookie.
#include <fstream>

#include <gtest/gtest.h>

#include "net/BrowserCookies.h"
#include "net/CookieStore.h"
#include "support/BrowserDatabases.h"
#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;
using namespace test::browser;

TEST(BrowserCookies, FirefoxRowsBecomeNetscapeLines) {
    test::TempDir dir;
    const fs::path db = dir / "cookies.sqlite";
    MakeFirefoxDatabase(db, FirefoxRow(".qq.com", "skey", "@abc", 4102444800, 1, 1) +
                                FirefoxRow("user.qzone.qq.com", "p_skey", "x", 4102444800000) +
                                FirefoxRow(".qq.com", "bad", "tab\there", 4102444800));
    const BrowserCookies cookies = ReadFirefoxCookies(db);
    EXPECT_TRUE(cookies.error.empty()) << cookies.error;
    EXPECT_EQ(cookies.lines, (std::vector<std::string>{
                                 "#HttpOnly_.qq.com\tTRUE\t/\tTRUE\t4102444800\tskey\t@abc",
                                 "user.qzone.qq.com\tFALSE\t/\tFALSE\t4102444800\tp_skey\tx",
                             }))
        << "milliseconds read as seconds; a value with a tab is left out";
    EXPECT_FALSE(fs::exists(db.string() + "-journal")) << "the browser's file is only copied";
}

TEST(BrowserCookies, ChromiumPlainAndV10ValuesAndKeyringOnes) {
    test::TempDir dir;
    for (const int version : {23, 24}) {
        const fs::path db = dir / std::to_string(version) / "Cookies";
        // From version 24 on, a 32-byte hash of the host precedes the decrypted value.
        const std::string hashed = version >= 24 ? std::string(32, 'h') : "";
        MakeChromiumDatabase(
            db, version,
            ChromiumRow(".baidu.com", "BDUSS", "plain", "", 0) +
                ChromiumRow(".baidu.com", "STOKEN", "", EncryptV10(hashed + "secret"),
                            ChromiumTime(4102444800)) +
                ChromiumRow(".baidu.com", "KEYRING", "", "v11xxxxxxxxxxxxxxxx", 0));
        const BrowserCookies cookies = ReadChromiumCookies(db);
        EXPECT_TRUE(cookies.error.empty()) << cookies.error;
        EXPECT_EQ(cookies.lines, (std::vector<std::string>{
                                     ".baidu.com\tTRUE\t/\tTRUE\t0\tBDUSS\tplain",
                                     ".baidu.com\tTRUE\t/\tTRUE\t4102444800\tSTOKEN\tsecret",
                                 }))
            << "version " << version;
        EXPECT_EQ(cookies.locked, 1) << "the keyring value is counted, never guessed";
    }
}

TEST(BrowserCookies, ProfilesAndErrors) {
    test::TempDir home;
    const fs::path firefox = home / ".mozilla/firefox";
    fs::create_directories(firefox);
    std::ofstream(firefox / "profiles.ini")
        << "[Profile1]\nName=work\nIsRelative=1\nPath=w0rk.work\n\n"
           "[Profile0]\nName=default\nIsRelative=1\nPath=d3f.default\nDefault=1\n";
    MakeFirefoxDatabase(firefox / "d3f.default/cookies.sqlite",
                        FirefoxRow(".qq.com", "who", "default", 0));
    MakeFirefoxDatabase(firefox / "w0rk.work/cookies.sqlite",
                        FirefoxRow(".qq.com", "who", "work", 0));
    const fs::path chromium = home / ".config/chromium/Default/Network/Cookies";
    MakeChromiumDatabase(chromium, 24,
                         ChromiumRow(".jd.com", "thor", "t", "", 0) +
                             ChromiumRow(".bank.example", "session", "s", "", 0));

    CookieStore store;
    BrowserImport result = ImportBrowserCookies("firefox", store, home.Path());
    EXPECT_EQ(result.imported, 1) << result.error;
    EXPECT_EQ(store.CookiesFor("https://user.qzone.qq.com/"), "who=default");
    result = ImportBrowserCookies("firefox:work", store, home.Path());
    EXPECT_EQ(store.CookiesFor("https://user.qzone.qq.com/"), "who=work") << "merged by name";
    result = ImportBrowserCookies("chromium", store, home.Path());
    EXPECT_EQ(result.imported, 1) << result.error;
    EXPECT_EQ(BrowserImportReport(result),
              "已从浏览器导入1个Cookie，其他网站的1个Cookie未导入(读取 " + chromium.string() + ")");
    EXPECT_EQ(store.CookiesFor("https://item.jd.com/1.html"), "thor=t");

    result = ImportBrowserCookies("chromium:Profile 9", store, home.Path());
    EXPECT_NE(result.error.find("找不到浏览器的Cookie数据库"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find((home / ".config/chromium/Profile 9/Cookies").string()),
              std::string::npos)
        << "the message names where it looked: " << result.error;
    EXPECT_EQ(store.CookiesFor("https://bank.example/"), "") << "other sites are left out";
    result = ImportBrowserCookies("netscape", store, home.Path());
    EXPECT_EQ(result.error,
              "不支持的浏览器: netscape(可用 firefox、chromium、chrome、brave、edge、vivaldi)");
    std::ofstream(home / "not-a-database") << "plain text, not SQLite";
    EXPECT_NE(ReadFirefoxCookies(home / "not-a-database").error, "");
}

// Where the browsers of today keep their profiles, and the one each starts with.
TEST(BrowserCookies, FindsTheProfileTheBrowserUses) {
    const auto firefoxProfile = [](const fs::path& base, const std::string& folder) {
        MakeFirefoxDatabase(base / folder / "cookies.sqlite",
                            FirefoxRow(".qq.com", "who", folder, 0));
    };
    const auto chromiumProfile = [](const fs::path& userData, const std::string& profile) {
        MakeChromiumDatabase(userData / profile / "Cookies", 24,
                             ChromiumRow(".qq.com", "who", profile, "", 0));
        std::ofstream(userData / "Local State")
            << "{\"profile\": {\"info_cache\": {}, \"last_used\": \"Profile 1\"}}";
    };
    struct Case {
        const char* choice;  // "@" stands for the user's home
        const char* who;
    };
    test::TempDir home;
    // First run of Firefox ESR: profiles.ini marks an empty profile, installs.ini the used one.
    const fs::path firefox = home / ".config/mozilla/firefox";
    fs::create_directories(firefox / "e1.default");
    std::ofstream(firefox / "profiles.ini")
        << "[Profile1]\nName=default-esr\nIsRelative=1\nPath=x9.default-esr\n\n"
           "[Profile0]\nName=default\nIsRelative=1\nPath=e1.default\nDefault=1\n";
    std::ofstream(firefox / "installs.ini") << "[3B6073811A6ABF12]\nDefault=x9.default-esr\n";
    firefoxProfile(firefox, "x9.default-esr");
    firefoxProfile(home / "elsewhere", "loose.profile");
    chromiumProfile(home / ".config/chromium", "Profile 1");
    chromiumProfile(home / "chromium-data", "Profile 1");
    chromiumProfile(home / "brave-data", "Default");
    for (const Case& c : std::initializer_list<Case>{
             {"firefox", "x9.default-esr"},
             {"firefox:default-esr", "x9.default-esr"},
             {"firefox:@/elsewhere/loose.profile", "loose.profile"},
             {"chromium", "Profile 1"},
             {"chromium:@/chromium-data", "Profile 1"},
             {"chromium:@/chromium-data/Profile 1", "Profile 1"},
             {"brave:@/brave-data", "Default"},
         }) {
        std::string choice = c.choice;
        if (const auto at = choice.find('@'); at != std::string::npos) {
            choice.replace(at, 1, home.Path().string());
        }
        CookieStore store;
        const BrowserImport result = ImportBrowserCookies(choice, store, home.Path());
        EXPECT_EQ(store.CookiesFor("https://user.qzone.qq.com/"), std::string("who=") + c.who)
            << choice << ": " << BrowserImportReport(result);
    }
}

// The real command line logs in to a site with the cookie of the user's Firefox.
TEST(BrowserCookiesCli, FirefoxLoginReachesTheSite) {
    test::TempDir userHome;
    test::TempDir data;
    test::TempDir save;
    const fs::path profile = userHome / ".mozilla/firefox/p.default";
    MakeFirefoxDatabase(profile / "cookies.sqlite", FirefoxRow(".jd.com", "thor", "secret", 0));
    std::ofstream(userHome / ".mozilla/firefox/profiles.ini")
        << "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n";

    test::TestServer server(/*https=*/true);
    server.On("item.jd.com", "/1.html", [](const httplib::Request& req, httplib::Response& res) {
        // Without the login the shop shows an empty page.
        if (req.get_header_value("Cookie").find("thor=secret") == std::string::npos) {
            res.set_content("<html>请登录</html>", "text/html");
            return;
        }
        res.set_content(
            "<div id=\"product-intro\"><h1>登录后的商品</h1><ul class=\"spec-items\">"
            "<li><img src=\"https://img.jd.com/a.jpg\"></li></ul></div>",
            "text/html; charset=utf-8");
    });
    server.On("img.jd.com", "*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("\xFF\xD8\xFF\xE0") + std::string(2000, 'j'), "image/jpeg");
    });
    std::vector<std::string> command = test::CliCommand(
        BRENVIK_CLI_PATH, {server.RouteFor("item.jd.com"), server.RouteFor("img.jd.com")},
        {"--home", data.Path().string(), "-o", save.Path().string(), "--cookies-from-browser",
         "firefox", "-s", "jd", "https://item.jd.com/1.html"});
    command.insert(command.begin(), {"/usr/bin/env", "HOME=" + userHome.Path().string()});
    const auto result = test::RunProcess(command);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("已从浏览器导入1个Cookie"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(save / "京东" / "登录后的商品" / "主图_1.jpg"));

    command[command.size() - 4] = "firefox:nobody";
    const auto missing = test::RunProcess(command);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("找不到浏览器的Cookie数据库"), std::string::npos) << missing.err;
}

// "v11" values with the password from a real keyring (gnome-keyring on a session bus of its
// own), and without one: the "v10" values still serve and the user is told why.
TEST(BrowserCookiesCli, KeyringValuesNeedTheSecretService) {
    test::TempDir home;
    fs::permissions(home.Path(), fs::perms::owner_all);
    const fs::path profile = home / "chromium-profile";
    MakeChromiumDatabase(
        profile / "Cookies", 24,
        ChromiumRow(".jd.com", "old", "", EncryptV10(std::string(32, 'h') + "o"), 0) +
            ChromiumRow(".jd.com", "thor", "",
                        EncryptWithPassword(std::string(32, 'h') + "keyed", "k3yr1ng", "v11"), 0));
    const std::vector<std::string> cli = {BRENVIK_CLI_PATH,
                                          "--home",
                                          (home / "data").string(),
                                          "--cookies-from-browser",
                                          "chromium:" + profile.string(),
                                          "-s",
                                          "qzone",
                                          "12a45"};
    const std::string keyring =
        "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets)\" >/dev/null; "
        "printf k3yr1ng | secret-tool store --label='Chromium Safe Storage' application chromium"
        " && exec \"$@\"";
    std::vector<std::string> withKeyring = {"/usr/bin/env",
                                            "-i",
                                            "PATH=/usr/bin:/bin",
                                            "HOME=" + home.Path().string(),
                                            "XDG_RUNTIME_DIR=" + home.Path().string(),
                                            "dbus-run-session",
                                            "--",
                                            "sh",
                                            "-c",
                                            keyring,
                                            "sh"};
    withKeyring.insert(withKeyring.end(), cli.begin(), cli.end());
    auto result = test::RunProcess(withKeyring);
    EXPECT_NE(result.err.find("已从浏览器导入2个Cookie"), std::string::npos) << result.err;
    std::ifstream stored(home / "data" / "cookies.txt");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(stored), {}).find("\tthor\tkeyed"),
              std::string::npos);

    std::vector<std::string> withoutBus = {"/usr/bin/env", "-i", "HOME=" + home.Path().string()};
    withoutBus.insert(withoutBus.end(), cli.begin(), cli.end());
    result = test::RunProcess(withoutBus);
    EXPECT_NE(result.err.find("已从浏览器导入1个Cookie"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("另有1个Cookie由系统钥匙环加密，无法读取(没有桌面会话总线"),
              std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace brenvik
