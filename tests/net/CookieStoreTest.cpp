#include "net/CookieStore.h"

#include <sys/stat.h>

#include <fstream>

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

}  // namespace
}  // namespace brenvik
