// The real brenvik-cli binary against local servers, as a user runs it.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli/CliOptions.h"
#include "net/CookieStore.h"
#include "session/Session.h"
#include "settings/Settings.h"
#include "sites/QzoneServers.h"
#include "support/FakeFrontEnd.h"
#include "support/LocalSites.h"
#include "support/Process.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::QzoneAlbum;
using test::QzonePhoto;
using test::QzoneServers;

TEST(CliOptions, ParsesTheContract) {
    const auto parsed = cli::ParseCommandLine({"-s", "qqgroup", "-l", "--albums", "1,3", "-o",
                                               "/tmp/x", "--connect-to", "a::b:1", "--connect-to",
                                               "c::d:2", "--yes", "--json", "-q", "123"});
    ASSERT_TRUE(parsed.options);
    const cli::Options& o = *parsed.options;
    EXPECT_EQ(o.site, 0);
    EXPECT_EQ(o.sub, 1);
    EXPECT_TRUE(o.listOnly && o.json && o.quiet);
    EXPECT_EQ(o.albums, "1,3");
    EXPECT_EQ(o.connectTo.size(), 2u);
    EXPECT_EQ(o.answer, cli::Answer::Yes);
    EXPECT_EQ(o.inputs, std::vector<std::string>{"123"});
    EXPECT_EQ(cli::ParseCommandLine({"-s", "duitang", "http://x"}).options->site, 18);
    EXPECT_EQ(cli::ParseCommandLine({"-s", "20", "http://x"}).options->site, 20);
}

// What a parse left, in one line: inputs, save path, switches, run choices.
std::string Summary(const cli::Options& o) {
    std::string text;
    for (const auto& input : o.inputs) {
        text += input + " ";
    }
    for (const auto& file : o.inputFiles) {
        text += "file:" + file + " ";
    }
    text += "save:" + o.savePath.value_or("") + (o.listOnly ? " l" : "") + (o.quiet ? " q" : "") +
            (o.verbose ? " v" : "") + (o.answer == cli::Answer::Yes ? " yes" : "");
    if (o.skipSaved) {
        text += *o.skipSaved ? " skip" : " no-skip";
    }
    return text + " rate:" + std::to_string(o.limitRate.value_or(0)) +
           " retries:" + std::to_string(o.retries.value_or(-1)) + " proxy:" + o.proxy.value_or("");
}

TEST(CliOptions, AcceptedForms) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> forms = {
        {{"--save=/d", "1"}, "1 save:/d rate:0 retries:-1 proxy:"},
        {{"-lqv", "-o", "/d", "1", "2"}, "1 2 save:/d l q v rate:0 retries:-1 proxy:"},
        {{"-o/d", "--", "-1"}, "-1 save:/d rate:0 retries:-1 proxy:"},
        {{"-i", "a.txt", "-", "--input-file=-"},
         "- file:a.txt file:- save: rate:0 retries:-1 proxy:"},
        {{"--yes", "--no", "--no-skip", "--skip", "x"}, "x save: skip rate:0 retries:-1 proxy:"},
        {{"--skip", "--no-skip", "--yes", "x"}, "x save: yes no-skip rate:0 retries:-1 proxy:"},
        {{"--limit-rate", "500K", "--retries=0", "x"}, "x save: rate:512000 retries:0 proxy:"},
        {{"--limit-rate=1.5M", "--proxy", "socks5://127.0.0.1:9", "x"},
         "x save: rate:1572864 retries:-1 proxy:socks5://127.0.0.1:9"},
    };
    for (const auto& [args, summary] : forms) {
        const auto parsed = cli::ParseCommandLine(args);
        ASSERT_TRUE(parsed.options) << args.front() << ": " << parsed.error;
        EXPECT_EQ(Summary(*parsed.options), summary) << args.front();
    }
}

TEST(CliOptions, RefusedFormsSayWhy) {
    struct Refused {
        std::vector<std::string> args;
        std::string error;
        std::string suggestion;
    };
    const std::vector<Refused> refused = {
        {{"-s", "myspace", "x"}, "未知的网站: myspace", ""},
        {{"-s", "21", "x"}, "未知的网站: 21", ""},
        {{"--sub", "3", "x"}, "--sub 需要 0、1 或 2", ""},
        {{"--frobnicate", "x"}, "未知的选项: --frobnicate", ""},
        {{"--sve=/d", "x"}, "未知的选项: --sve=/d", "--save"},
        {{"--save-page", "d", "x"}, "未知的选项: --save-page", "--save-pages"},
        {{"-lz", "x"}, "未知的选项: -z", ""},
        {{}, "缺少地址", ""},
        {{"-o"}, "--save 需要一个目录", ""},
        {{"x", "-lo"}, "--save 需要一个目录", ""},
        {{"--retries", "-1", "x"}, "--retries 需要 0 到 20 的次数", ""},
        {{"--limit-rate", "fast", "x"}, "--limit-rate 需要每秒字节数, 如 500K 或 2M", ""},
        {{"--limit-rate", "0", "x"}, "--limit-rate 需要每秒字节数, 如 500K 或 2M", ""},
        {{"--proxy", "ftp://h", "x"},
         "--proxy 需要以 http://、https://、socks5:// 或 socks5h:// 开头的地址",
         ""},
    };
    for (const Refused& r : refused) {
        const auto parsed = cli::ParseCommandLine(r.args);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.error, r.error);
        EXPECT_EQ(parsed.suggestion, r.suggestion) << r.error;
    }
}

TEST(CliOptions, InputsComeInOrderAndStandardInputIsReadOnce) {
    const test::TempDir dir;
    std::ofstream(dir / "list.txt") << "# mine\n  222 \n\n#333\n444\n";
    cli::Options options;
    options.inputs = {"111", "-", "-"};
    options.inputFiles = {(dir / "list.txt").string(), "-"};
    std::istringstream stdIn("555\n# no\n666");
    std::string error;
    EXPECT_EQ(cli::GatherInputs(options, stdIn, error),
              (std::vector<std::string>{"111", "555", "666", "222", "444"}));
    options.inputFiles = {(dir / "missing.txt").string()};
    EXPECT_FALSE(cli::GatherInputs(options, stdIn, error));
    EXPECT_EQ(error, "无法读取地址文件: " + (dir / "missing.txt").string());
}

TEST(CliOptions, AMistypedOptionGetsTheUsageAndOneSuggestionNotTheHelp) {
    const auto result = test::RunProcess({BRENVIK_CLI_PATH, "--sve", "/d", "12345"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err,
              "brenvik-cli: 未知的选项: --sve\n是不是想用 --save ?\n" + cli::ShortUsage());
}

// The shipped manual page and completions are what the option table makes today.
TEST(CliOptions, ManPageAndCompletionsFollowTheOptions) {
    const std::filesystem::path data = BRENVIK_SOURCE_DIR "/data";
    const std::vector<std::pair<std::string, std::filesystem::path>> generated = {
        {"--print-man", data / "man/brenvik-cli.1"},
        {"--print-completion=bash", data / "completion/brenvik-cli.bash"},
        {"--print-completion=zsh", data / "completion/_brenvik-cli"},
    };
    for (const auto& [option, file] : generated) {
        std::ifstream in(file, std::ios::binary);
        const std::string shipped(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(test::RunProcess({BRENVIK_CLI_PATH, option}).out, shipped)
            << file << " is stale: run scripts/gen-cli-docs.sh";
    }
    for (const cli::CliOption& option : cli::OptionTable()) {
        const std::string longName =
            std::string(option.names).substr(std::string(option.names).find("--"));
        EXPECT_EQ(cli::HelpText().find(" " + longName + " ") == std::string::npos, option.hidden)
            << longName;
    }
}

TEST(CliOptions, AlbumSelections) {
    EXPECT_EQ(cli::ParseAlbumSelection("all", 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(cli::ParseAlbumSelection("1,3,5-7", 7), (std::vector<int>{0, 2, 4, 5, 6}));
    EXPECT_EQ(cli::ParseAlbumSelection("2", 2), std::vector<int>{1});
    EXPECT_FALSE(cli::ParseAlbumSelection("0", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("4", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("3-1", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("1,,2", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("x", 3));
    EXPECT_FALSE(cli::ParseAlbumSelection("", 3));
}

// The last line a run wrote to stderr: how the job ended.
std::string LastLine(const std::string& err) {
    const std::size_t end = err.find_last_not_of('\n');
    if (end == std::string::npos) {
        return {};
    }
    const std::size_t start = err.rfind('\n', end);
    return err.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1) + 1);
}

class CliQzoneTest : public ::testing::Test {
  protected:
    CliQzoneTest() {
        QzoneAlbum trip{"A1", "旅行", "1", {}};
        QzonePhoto one{.name = "海边", .raw = servers.Image("b1.qpic.cn", "p1")};
        one.pre = servers.Image("a1.qpic.cn", "p1pre");
        QzonePhoto two{.name = "山顶", .raw = servers.Image("b1.qpic.cn", "p2")};
        two.pre = servers.Image("a1.qpic.cn", "p2pre");
        trip.photos = {one, two};
        QzoneAlbum hidden{
            "A2", "私密", "3", {{.name = "秘密", .raw = servers.Image("b1.qpic.cn", "h1")}}};
        QzoneAlbum locked{
            "A3", "加密", "5", {{.name = "锁", .raw = servers.Image("b1.qpic.cn", "l1")}}};
        servers.albums = {trip, hidden, locked};
        WriteCookies(QzoneServers::kSkey);
    }
    void WriteCookies(const std::string& skey) {
        std::ofstream(home / "browser-cookies.txt", std::ios::trunc)
            << "# Netscape HTTP Cookie File\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << skey << "\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
    }
    std::vector<std::string> Command(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--home", (home / "data").string(), "--cookies",
                                     (home / "browser-cookies.txt").string()});
        return test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(), extra);
    }

    // The Qzone entry of soft.dat in the CLI's home, as the settings menu would leave it.
    void SetQzoneRules(std::uint16_t flags, std::uint8_t namingMode = kNameByDescription,
                       std::uint16_t maxK = 0) {
        test::FakeFrontEnd front;
        std::filesystem::create_directories(home / "data");
        Session settings(home / "data", front);
        SaveOptions rules = settings.SaveRules(0);
        rules.flags = flags;
        rules.namingMode = namingMode;
        settings.SetSaveRules(0, rules);
        DownloadParams params = settings.DownParams(0);
        params.maxK = maxK;
        settings.SetDownParams(0, params);
    }
    test::ProcessResult Download() {
        return test::RunProcess(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    }
    // The image ids asked for since the last call.
    std::multiset<std::string> TakeImageRequests() {
        std::multiset<std::string> ids;
        for (const auto& request : servers.server.Requests()) {
            const std::size_t at = request.path.find("?id=");
            if (request.host.ends_with("qpic.cn") && at != std::string::npos) {
                ids.insert(request.path.substr(at + 4));
            }
        }
        servers.server.ClearRequests();
        return ids;
    }
    std::string Bytes(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    QzoneServers servers;
    test::TempDir home;
    test::TempDir save;
};

TEST_F(CliQzoneTest, ListsPublicPrivateAndEncryptedAlbums) {
    const auto result = test::RunProcess(Command({"-l", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "0001\t旅行\t   2\t\n0002\t私密\t   1\t私密相册\n0003\t加密\t   1\t加密相册\n");
    EXPECT_NE(result.err.find("获取相册列表完成，共3个"), std::string::npos);
}

TEST_F(CliQzoneTest, DownloadsChosenAlbumsIntoNamedFolders) {
    servers.brokenImages.insert("p2");  // the full-size address fails; the preview serves
    const auto result =
        test::RunProcess(Command({"-a", "1-2", "-o", save.Path().string(), "--json", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"旅行/pic.zvt", "旅行/山顶.jpg", "旅行/海边.jpg",
                                        "私密/pic.zvt", "私密/秘密.jpg"}));
    std::ifstream in(save / "旅行" / "山顶.jpg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              QzoneServers::ImageBytes("p2pre"));
    EXPECT_NE(result.out.find("\"download\":{\"albums\":2,\"images\":3,\"failed\":0"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"name\":\"加密\""), std::string::npos);
}

TEST_F(CliQzoneTest, TheImportedSkeyDecidesTheToken) {
    WriteCookies("someone-else");
    const auto result = test::RunProcess(Command({"-l", "--no", "12345"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("是否进行身份验证?\n(验证成功后请重新获取相册列表) -> 否"),
              std::string::npos)
        << result.err;
}

TEST_F(CliQzoneTest, BadInputEndsWithAClearMessage) {
    auto result = test::RunProcess(Command({"12a45"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("请直接输入QQ号进行下载"), std::string::npos);

    result = test::RunProcess(Command({"-a", "9", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("相册序号有误"), std::string::npos);
    EXPECT_TRUE(save.Files().empty());

    result = test::RunProcess(Command({"-s", "nosuchsite", "12345"}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("未知的网站"), std::string::npos);

    result = test::RunProcess(Command({"   "}));
    EXPECT_EQ(result.exitCode, 2);

    std::ofstream(save / "file") << "x";
    result = test::RunProcess(Command({"-o", (save / "file" / "sub").string(), "12345"}));
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find("请检测设置的保存路径是否有误"), std::string::npos);
}

// A cookie file in any other form is refused whole, naming the file; nothing of it is kept.
TEST_F(CliQzoneTest, CookieFilesAreCheckedAndJsonExportsRead) {
    ASSERT_EQ(test::RunProcess(Command({"-l", "12345"})).exitCode, 0);
    const std::string stored = Bytes(home / "data" / "cookies.txt");
    std::ofstream(home / "binary", std::ios::binary) << std::string(
                                                            "\x7f"
                                                            "ELF\t\0\t",
                                                            8) +
                                                            "x\tTRUE";
    std::ofstream(home / "spaces.txt") << ".qq.com TRUE / FALSE 0 skey x\n";
    std::ofstream(home / "other.json") << "{\"cookies\": 1}";
    for (const fs::path& bad :
         {home / "binary", home / "spaces.txt", home / "other.json", home.Path()}) {
        const auto result = test::RunProcess(Command({"--cookies", bad.string(), "-l", "12345"}));
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_NE(result.err.find("无法使用 cookies 文件 " + bad.string() + ": "),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("应为 Netscape 格式的 cookies.txt"), std::string::npos);
        EXPECT_EQ(Bytes(home / "data" / "cookies.txt"), stored) << bad;
    }
    // The form browser extensions export: the login holds without a cookies.txt.
    std::ofstream(home / "export.json")
        << "[{\"domain\": \".qq.com\", \"hostOnly\": false, \"name\": \"skey\", \"path\": \"/\", "
        << "\"session\": true, \"value\": \"" << QzoneServers::kSkey
        << "\", \"partitionKey\": {}},\n"
        << " {\"domain\": \".qq.com\", \"name\": \"uin\", \"value\": \"o0012345\", "
        << "\"expirationDate\": 4102444800.5, \"httpOnly\": true}]";
    test::TempDir fresh;
    const auto result =
        test::RunProcess(test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(),
                                          {"--home", fresh.Path().string(), "--cookies",
                                           (home / "export.json").string(), "-l", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("0003\t加密"), std::string::npos) << "logged in: " << result.out;
}

// A save path given relative to one folder stays there for later runs from elsewhere.
TEST_F(CliQzoneTest, ARelativeSavePathIsRememberedWhereItLies) {
    test::TempDir elsewhere;
    const auto from = [](const fs::path& folder, std::vector<std::string> command) {
        command.insert(command.begin(), {"/usr/bin/env", "-C", folder.string()});
        return test::RunProcess(command);
    };
    ASSERT_EQ(from(save.Path(), Command({"-a", "1", "-o", "rel1", "12345"})).exitCode, 0);
    EXPECT_EQ(from(elsewhere.Path(), Command({"-a", "2", "12345"})).exitCode, 0);
    EXPECT_TRUE(fs::exists(save / "rel1" / "私密" / "秘密.jpg"));
    EXPECT_TRUE(elsewhere.Files().empty());
}

TEST_F(CliQzoneTest, CtrlCStopsTheDownload) {
    std::vector<QzonePhoto> many;
    for (int i = 0; i < 40; ++i) {
        QzonePhoto p{.name = "p" + std::to_string(i),
                     .raw = servers.Image("b1.qpic.cn", "m" + std::to_string(i))};
        many.push_back(p);
    }
    servers.albums[0].photos = many;
    servers.imageDelayMs = 400;
    test::Process cli(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    const auto start = std::chrono::steady_clock::now();
    while (servers.imageRequests < 1 && std::chrono::steady_clock::now() - start < 20s) {
        std::this_thread::sleep_for(10ms);
    }
    cli.Signal(SIGINT);
    const auto result = cli.Wait(20s);
    EXPECT_GE(result.exitCode, 0) << "ended by itself";
    EXPECT_LT(servers.imageRequests, 40);
    const auto files = save.Files();
    EXPECT_EQ(ReadFirstAddress(save / "旅行"), "") << "a stopped album is not complete";
    for (const auto& file : files) {
        EXPECT_EQ(file.find(".part"), std::string::npos) << "no half-written file: " << file;
    }
}

// Two runs on one home: each imports cookies of its own, receives a cookie while the
// other runs and remembers its address; nothing of either is lost.
TEST_F(CliQzoneTest, TwoRunsOnOneHomeKeepEveryCookieAndAddress) {
    servers.server.On(
        "r.qzone.qq.com", "/GetRoute", [this](const httplib::Request& req, httplib::Response& res) {
            // Both runs have loaded the home before either gets this answer.
            servers.server.Stall(1500ms);
            res.set_header("Set-Cookie", "route" + req.get_param_value("UIN") + "=1; Path=/");
            res.set_content(servers.RouteAnswer(), "application/json");
        });
    const auto cookieFile = [this](const std::string& run) {
        const auto file = home / ("cookies-" + run + ".txt");
        std::ofstream out(file);
        out << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << QzoneServers::kSkey << "\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
        for (int i = 0; i < 10; ++i) {
            out << ".example.test\tTRUE\t/\tFALSE\t0\t" << run << i << "\tv\n";
        }
        return file.string();
    };
    const auto run = [&](const std::string& name, const std::string& qq) {
        return test::CliCommand(
            BRENVIK_CLI_PATH, servers.Routes(),
            {"--home", (home / "data").string(), "--cookies", cookieFile(name), "-l", qq});
    };
    test::Process first(run("a", "12345"));
    test::Process second(run("b", "67890"));
    const auto firstResult = first.Wait(30s);
    const auto secondResult = second.Wait(30s);
    ASSERT_EQ(firstResult.exitCode, 0) << firstResult.err;
    ASSERT_EQ(secondResult.exitCode, 0) << secondResult.err;

    CookieStore store;
    ASSERT_TRUE(store.Open(home / "data" / "cookies.txt"));
    const std::string sent = store.CookiesFor("https://www.example.test/");
    for (const std::string name : {"a", "b"}) {
        for (int i = 0; i < 10; ++i) {
            EXPECT_NE(sent.find(name + std::to_string(i) + "=v"), std::string::npos)
                << name << i << " in " << sent;
        }
    }
    const std::string route = store.CookiesFor("https://r.qzone.qq.com/");
    EXPECT_NE(route.find("route12345=1"), std::string::npos) << route;
    EXPECT_NE(route.find("route67890=1"), std::string::npos) << route;
    EXPECT_EQ(store.Size(), 24u);

    const SettingsArea settings = LoadSettings(home / "data");
    const auto& recent = settings.recent[kRecentAddresses];
    EXPECT_NE(std::find(recent.begin(), recent.end(), "12345"), recent.end());
    EXPECT_NE(std::find(recent.begin(), recent.end(), "67890"), recent.end());
}

// A home the program may read but not write: it still lists, and says once that
// settings and cookies are not kept.
TEST_F(CliQzoneTest, ReadOnlyHomeSaysSoOnce) {
    ASSERT_EQ(test::RunProcess(Command({"-l", "12345"})).exitCode, 0);
    std::ofstream(home / "browser-cookies.txt", std::ios::app)
        << ".qq.com\tTRUE\t/\tFALSE\t0\tnew\tcookie\n";
    const auto data = home / "data";
    std::filesystem::permissions(
        data, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::vector<std::string> command = Command({"-l", "67890"});
    if (::geteuid() == 0) {
        // Root writes anywhere; without these capabilities it obeys the folder's mode.
        if (!std::filesystem::exists("/usr/bin/setpriv")) {
            std::filesystem::permissions(data, std::filesystem::perms::owner_all);
            GTEST_SKIP() << "running as root without setpriv";
        }
        command.insert(command.begin(), {"/usr/bin/setpriv", "--bounding-set",
                                         "-dac_override,-dac_read_search,-fowner", "--"});
    }
    const auto result = test::RunProcess(command);
    std::filesystem::permissions(data, std::filesystem::perms::owner_all);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with("0001\t旅行")) << "the listing itself works";
    const std::string warning = std::string("[提示] ") + kHomeNotWritable + data.string();
    const std::size_t at = result.err.find(warning);
    EXPECT_NE(at, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(kHomeNotWritable, at + warning.size()), std::string::npos)
        << "once: " << result.err;
    const SettingsArea settings = LoadSettings(data);
    const auto& recent = settings.recent[kRecentAddresses];
    EXPECT_EQ(std::find(recent.begin(), recent.end(), "67890"), recent.end());
}

// ---- Nothing a user saved is lost ----

TEST_F(CliQzoneTest, LaterRunsNeverOverwriteEarlierPhotos) {
    SetQzoneRules(kFlagOpenFolder, kNameBySequence);
    ASSERT_EQ(Download().exitCode, 0);
    const std::string p1 = QzoneServers::ImageBytes("p1");
    const std::string p2 = QzoneServers::ImageBytes("p2");
    EXPECT_EQ(Bytes(save / "旅行" / "1.jpg"), p1);

    // A new photo arrives in front: sequence names now point at other photos.
    QzonePhoto fresh{.name = "新", .raw = servers.Image("b1.qpic.cn", "p0")};
    servers.albums[0].photos.insert(servers.albums[0].photos.begin(), fresh);
    EXPECT_EQ(Download().exitCode, 0);
    EXPECT_EQ(Bytes(save / "旅行" / "1.jpg"), p1) << "the earlier photo is still there";
    EXPECT_EQ(Bytes(save / "旅行" / "2.jpg"), p2);
    EXPECT_EQ(Bytes(save / "旅行" / "1 (1).jpg"), QzoneServers::ImageBytes("p0"));
    EXPECT_EQ(Bytes(save / "旅行" / "2 (1).jpg"), p1);
    EXPECT_EQ(Bytes(save / "旅行" / "3.jpg"), p2);

    // The same list again: every photo is already there under one of its names.
    const auto before = save.Files();
    EXPECT_EQ(Download().exitCode, 0);
    EXPECT_EQ(save.Files(), before) << "identical content is not written twice";
}

TEST_F(CliQzoneTest, AnEmptyFileLeftByAPowerCutGivesWayToTheWholeImage) {
    std::filesystem::create_directories(save / "旅行");
    std::ofstream(save / "旅行" / "海边.jpg", std::ios::binary).flush();
    ASSERT_EQ(Download().exitCode, 0);
    EXPECT_EQ(Bytes(save / "旅行" / "海边.jpg"), QzoneServers::ImageBytes("p1"));
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "海边 (1).jpg"));
}

TEST_F(CliQzoneTest, AKilledRunLeavesNothingHalfWrittenAndTheNextSavesWhole) {
    // The images send half their body and then hang until released; the run is killed
    // while it waits for the rest.
    const auto hang = std::make_shared<std::atomic<bool>>(true);
    const auto halvesSent = std::make_shared<std::atomic<int>>(0);
    servers.server.On("b1.qpic.cn", "/img",
                      [hang, halvesSent](const httplib::Request& req, httplib::Response& res) {
                          const std::string bytes =
                              QzoneServers::ImageBytes(req.get_param_value("id"));
                          res.set_content_provider(
                              bytes.size(), "image/jpeg",
                              [hang, halvesSent, bytes](std::size_t offset, std::size_t,
                                                        httplib::DataSink& sink) {
                                  if (offset == 0) {
                                      sink.write(bytes.data(), bytes.size() / 2);
                                      ++*halvesSent;
                                      return true;
                                  }
                                  const auto start = std::chrono::steady_clock::now();
                                  while (*hang && std::chrono::steady_clock::now() - start < 20s) {
                                      std::this_thread::sleep_for(10ms);
                                  }
                                  sink.write(bytes.data() + offset, bytes.size() - offset);
                                  return true;
                              });
                      });
    const auto halfWritten = [this] {
        int count = 0;
        for (const auto& file : save.Files()) {
            count +=
                file.find(".part") != std::string::npos || file.find(".jpg") != std::string::npos;
        }
        return count;
    };
    test::Process killed(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    const auto start = std::chrono::steady_clock::now();
    while (*halvesSent < 2 && std::chrono::steady_clock::now() - start < 30s) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(*halvesSent, 2) << "both images were under way";
    std::this_thread::sleep_for(200ms);  // the halves reach the files
    killed.Signal(SIGKILL);
    killed.Wait(10s);
    EXPECT_EQ(halfWritten(), 0) << "the killed run left a half-written file";
    *hang = false;
    const auto result = Download();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(halfWritten(), 2);
    EXPECT_EQ(Bytes(save / "旅行" / "海边.jpg"), QzoneServers::ImageBytes("p1"));
}

TEST_F(CliQzoneTest, SourceNameFileIsNotWrittenThroughALink) {
    SetQzoneRules(kFlagSourceNames);
    std::ofstream(home / "victim.txt") << "not yours";
    std::filesystem::create_directories(save / "旅行");
    std::filesystem::create_symlink(home / "victim.txt", save / "旅行" / "旅行.txt");
    EXPECT_EQ(Download().exitCode, 0);
    EXPECT_EQ(Bytes(home / "victim.txt"), "not yours");
    EXPECT_FALSE(std::filesystem::is_symlink(save / "旅行" / "旅行.txt"));
    EXPECT_EQ(Bytes(save / "旅行" / "旅行.txt"),
              std::string("\xFF\xFE\x77\x6d\xb9\x8f\r\0\n\0\x71\x5c\x76\x98\r\0\n\0", 18));
}

TEST_F(CliQzoneTest, SizeLimitSkipsAreNotFailures) {
    SetQzoneRules(kFlagSkipDownloaded, kNameByDescription, /*maxK=*/2);
    const auto result =
        test::RunProcess(Command({"-a", "1", "-o", save.Path().string(), "--json", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(LastLine(result.err), "下载完毕：1个相册，已保存0张，跳过2张，其中2张超出大小限制");
    EXPECT_NE(result.out.find("\"failed\":0"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"skipped\":2"), std::string::npos) << result.out;
    EXPECT_EQ(ReadFirstAddress(save / "旅行"), "https://b1.qpic.cn/img?id=p1")
        << "an album whose images were only left out by the limits is complete";
    for (const auto& id : TakeImageRequests()) {
        EXPECT_EQ(id.find("pre"), std::string::npos) << "no fallback after a size rejection";
    }
}

TEST_F(CliQzoneTest, AStoppedAlbumResumesWhereItEnded) {
    SetQzoneRules(kFlagSkipDownloaded);
    std::vector<QzonePhoto> many;
    for (int i = 0; i < 200; ++i) {
        many.push_back({.name = "p" + std::to_string(i),
                        .raw = servers.Image("b1.qpic.cn", "m" + std::to_string(i))});
    }
    servers.albums[0].photos = many;
    servers.brokenImages.insert("m7");  // dead for good
    servers.imageDelayMs = 20;
    test::Process first(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    const auto start = std::chrono::steady_clock::now();
    while (servers.imageRequests < 100 && std::chrono::steady_clock::now() - start < 60s) {
        std::this_thread::sleep_for(5ms);
    }
    first.Signal(SIGINT);
    const auto stopped = first.Wait(30s);
    const std::size_t savedFirst = save.Files().size() - 1;  // and pic.zvt
    ASSERT_GT(savedFirst, 50u);
    ASSERT_LT(savedFirst, 190u) << "stopped halfway";
    EXPECT_EQ(stopped.exitCode, 128 + SIGINT);
    // Images the stop broke off are not failures; only the dead one may have failed.
    EXPECT_EQ(
        LastLine(stopped.err).rfind("已终止：已保存" + std::to_string(savedFirst) + "/200张", 0),
        0u)
        << stopped.err;
    std::set<std::string> missing;
    for (int i = 0; i < 200; ++i) {
        if (!std::filesystem::exists(save / "旅行" / ("p" + std::to_string(i) + ".jpg"))) {
            missing.insert("m" + std::to_string(i));
        }
    }
    TakeImageRequests();

    servers.imageDelayMs = 0;
    Download();
    const auto second = TakeImageRequests();
    EXPECT_EQ(std::set<std::string>(second.begin(), second.end()), missing)
        << "only the photos that are not there yet";
    EXPECT_EQ(save.Files().size(), 200u) << "199 photos and pic.zvt";

    Download();
    EXPECT_EQ(TakeImageRequests(), (std::multiset<std::string>{"m7", "m7"}))
        << "a dead image is asked again, nothing else";
}

TEST_F(CliQzoneTest, NothingNewRunsNoFallbackListAndNestsNoFolder) {
    SetQzoneRules(kFlagSkipDownloaded);
    ASSERT_EQ(Download().exitCode, 0);
    EXPECT_EQ(ReadFirstAddress(save / "旅行"), "https://b1.qpic.cn/img?id=p1");
    TakeImageRequests();
    Download();
    EXPECT_EQ(servers.plistRequests, 0) << "the list was empty because nothing is new";
    EXPECT_TRUE(TakeImageRequests().empty());
    EXPECT_EQ(save.Files(),
              (std::vector<std::string>{"旅行/pic.zvt", "旅行/山顶.jpg", "旅行/海边.jpg"}));
}

TEST_F(CliQzoneTest, NothingNewIsSaidAndKeepsNoDiagnosticPage) {
    SetQzoneRules(kFlagSkipDownloaded);
    ASSERT_EQ(Download().exitCode, 0);
    const auto again =
        test::RunProcess(Command({"-a", "1", "-o", save.Path().string(), "--json", "12345"}));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(LastLine(again.err), "下载完毕：1个相册，已保存0张，1个相册没有新图片");
    EXPECT_NE(again.out.find(R"("outcome":"nothing-new")"), std::string::npos) << again.out;
    EXPECT_FALSE(std::filesystem::exists(home / "data" / "diagnostics"));
}

TEST_F(CliQzoneTest, ADeadImageIsNamedWithItsAddressAndReason) {
    servers.brokenImages = {"p2", "p2pre"};
    const auto result =
        test::RunProcess(Command({"-a", "1", "-o", save.Path().string(), "--json", "12345"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("失败：山顶.jpg  https://b1.qpic.cn/img?id=p2  HTTP 404\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(LastLine(result.err), "下载完毕：1个相册，已保存1张，失败1张");
    EXPECT_NE(result.out.find(R"("outcome":"failed")"), std::string::npos);
    EXPECT_NE(result.out.find(R"({"file":"山顶.jpg","address":"https://b1.qpic.cn/img?id=p2",)"
                              R"("reason":"HTTP 404"})"),
              std::string::npos)
        << result.out;
}

TEST_F(CliQzoneTest, ARefusedHostIsNamedOnceWithoutALoginHint) {
    const int closed = test::ClosedPort();
    std::vector<std::string> extra = {"--home", (home / "data").string(), "-l", "12345"};
    const auto result = test::RunProcess(
        test::CliCommand(BRENVIK_CLI_PATH,
                         {"r.qzone.qq.com::127.0.0.1:" + std::to_string(closed),
                          "user.qzone.qq.com::127.0.0.1:" + std::to_string(closed)},
                         extra));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(LastLine(result.err), "获取相册列表失败：无法连接 user.qzone.qq.com：连接被拒绝");
    EXPECT_EQ(result.err.find("登录"), std::string::npos) << result.err;
    const std::size_t box = result.err.find("[提示]");
    EXPECT_EQ(result.err.find("[提示]", box + 1), std::string::npos)
        << "one message for one failure";
}

TEST_F(CliQzoneTest, AnAlbumFolderThatCannotBeMadeIsReported) {
    std::ofstream(save / "旅行") << "a file where the album folder would go";
    const auto result = Download();
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find("请检测设置的保存路径是否有误"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("保存在"), std::string::npos) << result.err;
    EXPECT_TRUE(TakeImageRequests().empty());
}

// Three addresses from a file, each listed and downloaded in turn; the worst outcome
// decides the exit status.
TEST_F(CliQzoneTest, SeveralInputsFromAFileEachGetTheirOutcome) {
    std::ofstream(home / "list.txt") << "# my accounts\n12345\n\n  12a45\n67890\n";
    const auto result = test::RunProcess(
        Command({"-a", "1", "-o", save.Path().string(), "-i", (home / "list.txt").string()}));
    EXPECT_EQ(result.exitCode, 1) << "the bad address is the worst of the three";
    const std::size_t second = result.err.find("== [2/3] 12a45\n");
    const std::size_t third = result.err.find("== [3/3] 67890\n");
    const std::size_t refusal = result.err.find("请直接输入QQ号进行下载");
    EXPECT_TRUE(second < refusal && refusal < third) << result.err;
    EXPECT_EQ(TakeImageRequests(), (std::multiset<std::string>{"p1", "p1", "p2", "p2"}))
        << "both good accounts downloaded";
}

TEST_F(CliQzoneTest, VerboseShowsTheFailedRequestAndWhy) {
    servers.brokenImages.insert("p2");
    const auto result =
        test::RunProcess(Command({"-v", "-a", "1", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::size_t at = result.err.find("[请求] GET https://b1.qpic.cn/img?id=p2 -> 404, ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const std::string line = result.err.substr(at, result.err.find('\n', at) - at);
    EXPECT_TRUE(line.ends_with(" 毫秒, 失败: HTTP 404")) << line;
}

TEST_F(CliQzoneTest, QuietDownloadShowsNoTableAndNoProgress) {
    const auto result =
        test::RunProcess(Command({"-q", "-a", "1", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out + result.err, "");
}

// --skip resumes whatever the stored setting says: only the photo not there is asked.
TEST_F(CliQzoneTest, SkipResumesAnUnfinishedAlbum) {
    servers.brokenImages = {"p2", "p2pre"};
    ASSERT_EQ(Download().exitCode, 1);
    TakeImageRequests();
    servers.brokenImages.clear();
    const auto result =
        test::RunProcess(Command({"--skip", "-a", "1", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(TakeImageRequests(), std::multiset<std::string>{"p2"});
    test::RunProcess(Command({"--no-skip", "-a", "1", "-o", save.Path().string(), "12345"}));
    EXPECT_EQ(TakeImageRequests(), (std::multiset<std::string>{"p1", "p2"}));
}

// The test certificate's folder leaves the temp folder with the process that made it.
TEST(TestSupport, CertificateFolderGoesWithItsProcess) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    test::Process child(
        {self.string(), "--gtest_filter=CliQzoneTest.TheImportedSkeyDecidesTheToken"});
    const pid_t pid = child.Pid();
    const auto result = child.Wait(60s);
    ASSERT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << "it made a certificate";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::temp_directory_path() /
                                         ("brenvik-cert-" + std::to_string(pid))));
}

}  // namespace
}  // namespace brenvik
