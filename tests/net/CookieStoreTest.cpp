#include "net/CookieFile.h"
#include "net/CookieStore.h"

#include <sys/stat.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestServer.h"

namespace brenvik {
namespace {

TEST(CookieStore, MatchesDomainPathSecureAndExpiry) {
    CookieStore store;
    ASSERT_TRUE(store.Put(".qq.com\tTRUE\t/\tFALSE\t0\tskey\t@abc"));
    ASSERT_TRUE(store.Put("user.qzone.qq.com\tFALSE\t/proxy\tFALSE\t0\tp_skey\tx1"));
    ASSERT_TRUE(store.Put(".qq.com\tTRUE\t/\tTRUE\t0\tsecure\ts"));
    ASSERT_TRUE(store.Put(".qq.com\tTRUE\t/\tFALSE\t1000\told\tgone"));
    ASSERT_TRUE(store.Put("#HttpOnly_.qq.com\tTRUE\t/\tFALSE\t4102444800\tuin\to123"));
    EXPECT_FALSE(store.Put("# a comment"));
    EXPECT_FALSE(store.Put("not a cookie line"));

    EXPECT_EQ(store.CookiesFor("http://user.qzone.qq.com/proxy/list?x=1"),
              "p_skey=x1; skey=@abc; uin=o123");
    EXPECT_EQ(store.CookiesFor("http://user.qzone.qq.com/proxyother"), "skey=@abc; uin=o123");
    EXPECT_EQ(store.CookiesFor("https://qq.com/"), "secure=s; skey=@abc; uin=o123");
    EXPECT_EQ(store.CookiesFor("http://notqq.com/"), "");
    EXPECT_EQ(store.CookiesFor("not an address"), "");
}

TEST(CookieStore, MergeAppliesOnlyWhatATransferChanged) {
    CookieStore store;
    store.Put("a.test\tFALSE\t/\tFALSE\t0\tkeep\t1");
    store.Put("a.test\tFALSE\t/\tFALSE\t0\tdrop\t1");
    store.Put("a.test\tFALSE\t/\tFALSE\t0\tother\t1");
    const auto before = store.Lines();
    // Meanwhile another transfer changed "other".
    store.Put("a.test\tFALSE\t/\tFALSE\t0\tother\t2");
    // This transfer deleted "drop", set "new" and still holds the stale "other".
    std::vector<std::string> after = {"a.test\tFALSE\t/\tFALSE\t0\tkeep\t1",
                                      "a.test\tFALSE\t/\tFALSE\t0\tother\t1",
                                      "a.test\tFALSE\t/\tFALSE\t0\tnew\t3"};
    store.Merge(before, after);
    EXPECT_EQ(store.CookiesFor("http://a.test/"), "keep=1; new=3; other=2");
}

TEST(CookieStore, LinesForAHostLeaveOutOtherSitesAndHandedHosts) {
    const std::string skey = ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t@abc";
    const std::string pskey = "user.qzone.qq.com\tFALSE\t/\tFALSE\t0\tp_skey\tx1";
    const std::string img = "a1.qpic.cn\tFALSE\t/\tFALSE\t0\timg\t1";
    const std::string bduss = ".Baidu.com\tTRUE\t/\tFALSE\t0\tBDUSS\tb";
    CookieStore store;
    for (const auto& line : {skey, pskey, img, bduss}) {
        ASSERT_TRUE(store.Put(line));
    }
    ASSERT_TRUE(store.Put("notqq.com\tFALSE\t/\tFALSE\t0\tlookalike\t1"));
    using Lines = std::vector<std::string>;
    // The host's own cookies, the domain's above it and the hosts' below it.
    EXPECT_EQ(store.LinesFor("qzone.qq.com"), (Lines{skey, pskey}));
    EXPECT_EQ(store.LinesFor("PHOTO.baidu.com"), Lines{bduss});
    EXPECT_EQ(store.LinesFor("a1.qpic.cn"), Lines{img});
    EXPECT_EQ(store.LinesFor("example.test"), Lines{});
    // After a redirect: what the transfer holds for qq.com already is not handed again.
    EXPECT_EQ(store.LinesFor("user.qzone.qq.com", {"qzone.qq.com"}), Lines{});
    EXPECT_EQ(store.LinesFor("a1.qpic.cn", {"qzone.qq.com"}), Lines{img});
}

TEST(CookieStore, PersistsOwnerOnlyAndSurvivesRestart) {
    test::TempDir dir;
    const auto file = dir / "cookies.txt";
    {
        CookieStore store;
        ASSERT_TRUE(store.Open(file));
        store.Put(".baidu.com\tTRUE\t/\tFALSE\t0\tBDUSS\tlogin");
    }
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    CookieStore restarted;
    ASSERT_TRUE(restarted.Open(file));
    EXPECT_EQ(restarted.CookiesFor("http://tieba.baidu.com/"), "BDUSS=login");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"cookies.txt"});
}

TEST(CookieStore, ImportAndClearForOneAddress) {
    test::TempDir dir;
    std::ofstream(dir / "import.txt") << "# Netscape HTTP Cookie File\n"
                                         ".huaban.com\tTRUE\t/\tFALSE\t0\tsid\ts1\r\n"
                                         "other.test\tFALSE\t/\tFALSE\t0\tk\tv\n"
                                         "broken line\n";
    CookieStore store;
    EXPECT_EQ(store.Import(dir / "import.txt"), 2);
    EXPECT_EQ(store.Import(dir / "missing.txt"), -1);
    store.ClearFor("http://huaban.com/boards/1");
    EXPECT_EQ(store.CookiesFor("http://huaban.com/"), "");
    EXPECT_EQ(store.CookiesFor("http://other.test/"), "k=v");
    EXPECT_EQ(store.Size(), 1u);
}

std::string Cookie(const std::string& name, const std::string& value = "1") {
    return "share.test\tFALSE\t/\tFALSE\t0\t" + name + "\t" + value;
}

// Two stores on one file, as two runs on one home: each saves while the other holds
// changes of its own, and neither undoes the other's.
TEST(CookieStore, ConcurrentStoresOnOneFileLoseNothing) {
    test::TempDir dir;
    const auto file = dir / "cookies.txt";
    {
        CookieStore seed;
        ASSERT_TRUE(seed.Open(file));
        seed.Put(Cookie("shared", "old"));
        seed.Put(Cookie("doomed"));
    }
    CookieStore first;
    CookieStore second;
    ASSERT_TRUE(first.Open(file));
    ASSERT_TRUE(second.Open(file));
    std::thread a([&] {
        for (int i = 0; i < 20; ++i) {
            first.Put(Cookie("a" + std::to_string(i)));
        }
        first.Remove("share.test", "/", "doomed");
    });
    std::thread b([&] {
        for (int i = 0; i < 20; ++i) {
            second.Put(Cookie("b" + std::to_string(i)));
        }
        second.Put(Cookie("shared", "new"));
    });
    a.join();
    b.join();
    // A last change of each, so each has merged what the other saved.
    first.Put(Cookie("a-last"));
    second.Put(Cookie("b-last"));

    CookieStore reader;
    ASSERT_TRUE(reader.Open(file));
    EXPECT_EQ(reader.Size(), 43u) << "20 + 20 + two last + shared, without doomed";
    const std::string sent = reader.CookiesFor("http://share.test/");
    EXPECT_NE(sent.find("shared=new"), std::string::npos);
    EXPECT_EQ(sent.find("doomed"), std::string::npos) << "a removal is a change too";
    EXPECT_EQ(second.Size(), 43u) << "the store took over what the other saved";
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"cookies.txt"});
}

TEST(CookieStore, FailedSaveIsReportedAndKeptForTheNextSave) {
    test::TempDir dir;
    CookieStore store;
    int failures = 0;
    int owner = 0;
    store.SetSaveFailureHandler(&owner, [&failures] { ++failures; });
    ASSERT_TRUE(store.Open(dir / "missing-folder" / "cookies.txt")) << "nothing to save yet";
    EXPECT_EQ(failures, 0);
    store.Put(Cookie("kept"));
    EXPECT_TRUE(store.SaveFailed());
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(store.CookiesFor("http://share.test/"), "kept=1") << "still used in this run";

    // Once the folder exists, the next change saves the earlier one too.
    std::filesystem::create_directory(dir / "missing-folder");
    store.Put(Cookie("later"));
    EXPECT_FALSE(store.SaveFailed());
    CookieStore reader;
    ASSERT_TRUE(reader.Open(dir / "missing-folder" / "cookies.txt"));
    EXPECT_EQ(reader.CookiesFor("http://share.test/"), "kept=1; later=1");

    store.SetSaveFailureHandler(&dir, nullptr);  // not the owner: stays
    std::filesystem::remove_all(dir / "missing-folder");
    store.Put(Cookie("again"));
    EXPECT_EQ(failures, 2);
    store.SetSaveFailureHandler(&owner, nullptr);
    store.Put(Cookie("unheard"));
    EXPECT_EQ(failures, 2);
}

TEST(CookieFile, JsonExportsBecomeNetscapeLines) {
    EXPECT_EQ(CookieLinesFromJson(R"([{"domain": "a.qq.com", "hostOnly": true, "name": "n",
        "value": "\u4e2d\ud83d\ude00\\u", "path": "/x", "secure": true, "expirationDate": 5}])"),
              std::vector<std::string>{"a.qq.com\tFALSE\t/x\tTRUE\t5\tn\t中😀\\u"});
    for (const char* broken : {R"([{"domain": "qq.com", "name": "n")", R"([] x)", R"("text")"}) {
        EXPECT_TRUE(CookieLinesFromJson(broken).empty()) << broken;
    }
}

TEST(CookieStore, AFileLargerThanTheLimitIsRefusedUnread) {
    test::TempDir dir;
    const auto file = dir / "cookies.txt";
    std::ofstream(file) << ".a.example\tTRUE\t/\tFALSE\t0\tsid\t1\n";
    std::filesystem::resize_file(file, kMaxCookieFileBytes + 1);  // sparse: no disk used
    CookieStore store;
    store.Open(file);
    EXPECT_TRUE(store.FileTooLarge());
    EXPECT_EQ(store.Size(), 0u);
    EXPECT_EQ(store.Import(file), -1);
    EXPECT_TRUE(store.Put(".b.example\tTRUE\t/\tFALSE\t0\tsid\t2"));
    EXPECT_EQ(std::filesystem::file_size(file), kMaxCookieFileBytes + 1) << "left as it was";
}

}  // namespace
}  // namespace brenvik
