// The followed owners on the command line: --follow, --unfollow, --following, --update.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace brenvik {
class Session;
}

namespace brenvik::cli {

// What the follow commands need to know of the run that main works out.
struct FollowContext {
    int site = 0;          // the site of --follow's address (the options' or the address's)
    int sub = 0;           // its QQ sub-selector
    std::string savePath;  // absolute: --save, else the last save path, else here
    int stoppedExitCode = 130;
    // Says which owner an update comes to (number from 1 of count).
    std::function<void(std::size_t number, std::size_t count, const std::string& owner)>
        ownerStarts;
};

// Runs the options' follow command; the exit status. `owners` are --update's addresses.
int RunFollowCommand(Session& session, const Options& options, const FollowContext& context,
                     const std::vector<std::string>& owners);

}  // namespace brenvik::cli
