// Hostile pages and a failing disk met by the real brenvik-cli: a site's address cannot
// add lines to the files written one address a line, a decompression bomb costs no more
// memory than a page may, a full disk is named as such, and a run waiting for another
// run's home says so and still stops at once.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli/LocalRenren.h"
#include "net/TextKit.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;

using test::ReadFile;

using HostileInputTest = test::LocalRenrenCliTest;

TEST_F(HostileInputTest, AnAddressWithLineBreaksAddsNoLineToAnyList) {
    site.firstPictureTail = "\n dir=/elsewhere\r\n out=pwn.jpg";
    ASSERT_EQ(test::RunProcess(Command({"-a", "1", "--export", "lst"})).exitCode, 0);
    const std::string listed = ReadFile(Album() / "旅行.lst");
    EXPECT_EQ(CountOccurrences(listed, "\r\n"), 3u) << "three photos, three lines: " << listed;

    // The mangled address is not an image; each of the other two is one line of the record.
    EXPECT_EQ(test::RunProcess(Command({"-a", "1"})).exitCode, 1);
    const std::string recorded = ReadFile(Album() / "pic.zvt");
    EXPECT_EQ(CountOccurrences(recorded, "\r\n"), 2u) << recorded;
    EXPECT_EQ(recorded.find("\n "), std::string::npos) << recorded;
}

// A sanitizer's shadow memory and quarantine add to every figure; the bound is for the
// program people run.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kPeakKiB = 450 * 1024;
#else
constexpr long kPeakKiB = 150 * 1024;
#endif

TEST_F(HostileInputTest, AGzipBombListPageIsGivenUpWithinBoundedMemory) {
    site.gzipList = test::GzipBomb(std::size_t{1} << 30);
    const auto result = test::RunProcess(Command({"--list"}));
    EXPECT_NE(result.err.find("页面过大，已放弃: photo.renren.com"), std::string::npos)
        << result.err;
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, kPeakKiB) << "peak kilobytes of the command";
}

TEST_F(HostileInputTest, AFullDiskIsNamedAndNotBlamedOnTheServer) {
    if (test::RunProcess({"/usr/bin/unshare", "-m", "true"}).exitCode != 0) {
        GTEST_SKIP() << "no mount namespace here for a small tmpfs";
    }
    // A 4 KiB file system: the first picture fits, the second does not.
    std::vector<std::string> argv = {"/usr/bin/unshare",
                                     "-m",
                                     "/bin/sh",
                                     "-c",
                                     "mount -t tmpfs -o size=4k tmpfs \"$0\" && exec \"$@\"",
                                     save.Path().string()};
    const auto cli = Command({"-a", "1"});
    argv.insert(argv.end(), cli.begin(), cli.end());
    const auto result = test::RunProcess(argv);
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.err.find("磁盘空间不足: " + Album().string()), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("服务器"), std::string::npos) << result.err;
}

TEST_F(HostileInputTest, WaitingForAnotherRunsHomeIsToldAndEndsOnSigterm) {
    std::filesystem::create_directories(home / "data");
    const int held = ::open((home / "data").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::filesystem::path err = home / "err.txt";
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", err.string()};
    const auto cli = Command({"--list"});
    argv.insert(argv.end(), cli.begin(), cli.end());
    test::Process run(argv);
    for (int i = 0;
         i < 600 && ReadFile(err).find("正被另一个运行中的下载器使用") == std::string::npos; ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(ReadFile(err).find((home / "data").string()), std::string::npos) << ReadFile(err);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(30s).exitCode, 143) << "the lock is still held: the wait ended";
    EXPECT_TRUE(site.Pages().empty());
    ::close(held);
}

}  // namespace
}  // namespace brenvik
