// The real brenvik-cli against servers that never finish: Ctrl-C and SIGTERM end it
// promptly with a stop status and without half-written files.
#include <signal.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "sites/QzoneServers.h"
#include "sites/QzoneStalls.h"
#include "support/LocalSites.h"
#include "support/Process.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::QzoneServers;

using test::kServerPatience;
using test::kStopPrompt;

class CliStopTest : public ::testing::Test {
  protected:
    CliStopTest() {
        test::ServeOneAlbumOfOnePhoto(servers);
        std::ofstream(home / "browser-cookies.txt", std::ios::trunc)
            << "# Netscape HTTP Cookie File\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tskey\t" << QzoneServers::kSkey << "\n"
            << ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0012345\n";
    }
    std::vector<std::string> Command(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--home", (home / "data").string(), "--cookies",
                                     (home / "browser-cookies.txt").string()});
        return test::CliCommand(BRENVIK_CLI_PATH, servers.Routes(), extra);
    }

    void MakeImagesEndless() { test::MakeQzoneImagesEndless(servers, kServerPatience, pieces); }
    void MakeAlbumListTrickle() {
        test::MakeQzoneAlbumListTrickle(servers, listRequests, kServerPatience);
    }

    // Waits until the image's body is being written.
    bool WaitForBodyUnderWay() const {
        const auto end = Clock::now() + 20s;
        while (pieces < 3 && Clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        return pieces >= 3;
    }

    // Nothing half-written is left: no temporary file, no image under its name.
    void ExpectNoPartOfTheImage() const {
        for (const auto& file : save.Files()) {
            EXPECT_EQ(file.find(".part"), std::string::npos) << "left behind: " << file;
            EXPECT_EQ(file.find("海边"), std::string::npos) << "half-written: " << file;
        }
    }

    QzoneServers servers;
    std::atomic<int> listRequests{0};
    std::atomic<int> pieces{0};
    test::TempDir home;
    test::TempDir save;
};

TEST_F(CliStopTest, CtrlCEndsANeverEndingImage) {
    MakeImagesEndless();
    test::Process cli(Command({"-a", "1", "-o", save.Path().string(), "--json", "12345"}));
    ASSERT_TRUE(WaitForBodyUnderWay());
    const auto signalled = Clock::now();
    cli.Signal(SIGINT);
    const auto result = cli.Wait(30s);
    EXPECT_LT(Clock::now() - signalled, kStopPrompt);
    EXPECT_EQ(result.exitCode, 128 + SIGINT) << result.err;
    EXPECT_NE(result.out.find("\"stopped\":true"), std::string::npos) << result.out;
    ExpectNoPartOfTheImage();
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "pic.zvt"));
}

TEST_F(CliStopTest, SigtermEndsANeverEndingImage) {
    MakeImagesEndless();
    test::Process cli(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    ASSERT_TRUE(WaitForBodyUnderWay());
    const auto signalled = Clock::now();
    cli.Signal(SIGTERM);
    const auto result = cli.Wait(30s);
    EXPECT_LT(Clock::now() - signalled, kStopPrompt);
    EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err;
    ExpectNoPartOfTheImage();
}

TEST_F(CliStopTest, SecondCtrlCEndsAtOnceWithoutHalfWrittenFiles) {
    MakeImagesEndless();
    test::Process cli(Command({"-a", "1", "-o", save.Path().string(), "12345"}));
    ASSERT_TRUE(WaitForBodyUnderWay());
    const auto signalled = Clock::now();
    cli.Signal(SIGINT);
    cli.Signal(SIGINT);
    const auto result = cli.Wait(30s);
    EXPECT_LT(Clock::now() - signalled, kStopPrompt);
    EXPECT_EQ(result.exitCode, 128 + SIGINT) << "ended by itself, not killed";
    ExpectNoPartOfTheImage();
}

TEST_F(CliStopTest, SigtermEndsATricklingAlbumList) {
    MakeAlbumListTrickle();
    test::Process cli(Command({"-l", "12345"}));
    const auto end = Clock::now() + 20s;
    while (listRequests == 0 && Clock::now() < end) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_GT(listRequests, 0);
    const auto signalled = Clock::now();
    cli.Signal(SIGTERM);
    const auto result = cli.Wait(30s);
    EXPECT_LT(Clock::now() - signalled, kStopPrompt);
    EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err;
}

// Not a stop, but the same promise to scripts: what --json prints is valid UTF-8 even when
// a site sends code points above U+10FFFF or the old five-byte forms.
TEST_F(CliStopTest, JsonStaysValidUtf8WhateverTheSiteSends) {
    servers.albums[0].name = "坏\xF4\x90\x80\x80\xF8\x88\x80\x80\x80名";
    servers.v2Empty = true;  // the UTF-8 album list answers
    const auto result = test::RunProcess(Command({"-l", "--json", "12345"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("\"name\":\"坏\uFFFD"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("名\""), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find('\xF8'), std::string::npos);
    EXPECT_EQ(result.out.find("\xF4\x90"), std::string::npos);
}

}  // namespace
}  // namespace brenvik
