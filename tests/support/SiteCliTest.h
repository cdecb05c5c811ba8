// A site family's local servers and brenvik-cli as a user runs it against them, for the
// test targets that know where brenvik-cli is (BRENVIK_CLI_PATH).
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/LocalSites.h"
#include "support/Process.h"
#include "support/TestServer.h"

namespace brenvik::test {

// Each run has a data folder of its own and the save path; the browser cookie file goes
// along once the test has written it.
template <typename Servers>
class SiteCliTest : public ::testing::Test {
  protected:
    std::vector<std::string> Command(std::vector<std::string> extra) {
        std::vector<std::string> front = {"--home", (home / "data").string()};
        if (std::filesystem::exists(CookieFile())) {
            front.insert(front.end(), {"--cookies", CookieFile().string()});
        }
        front.insert(front.end(), {"-o", save.Path().string()});
        extra.insert(extra.begin(), front.begin(), front.end());
        return CliCommand(BRENVIK_CLI_PATH, servers.Routes(), extra);
    }
    ProcessResult Run(std::vector<std::string> extra) {
        return RunProcess(Command(std::move(extra)));
    }
    std::filesystem::path CookieFile() const { return home / "browser-cookies.txt"; }

    // Every file below the save path, once each, and all of them inside it.
    void ExpectFilesInside(const std::set<std::string>& expected) const {
        std::set<std::string> found;
        for (const auto& file : save.Files()) {
            EXPECT_TRUE(found.insert(file).second) << file;
            EXPECT_EQ(file.find(".."), std::string::npos) << file;
        }
        EXPECT_EQ(found, expected);
    }

    Servers servers;
    TempDir home;
    TempDir save;
};

}  // namespace brenvik::test
