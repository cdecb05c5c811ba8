// Why an exchange failed, in words a person can act on: the host did not resolve, refused
// the connection, went silent, or answered with an error. Messages name the host and the
// cause instead of guessing at a login.
#pragma once

#include <string>

namespace brenvik {

enum class FetchProblem {
    None,
    Resolve,      // the host name did not resolve
    Refused,      // nothing listens there
    Reset,        // the connection broke off
    TimedOut,     // no answer in time
    Tls,          // the secure connection failed
    HttpStatus,   // the server answered with an error status
    Empty,        // the server answered with nothing
    TooLarge,     // the body passed the built-in ceiling
    Redirect,     // a redirect that may not be followed
    DiskFull,     // no room left to save the body
    WriteFailed,  // the body could not be written
    Stopped,      // the user stopped the job
    Other,
};

// True for the causes that lie in the network, not in what a site answered.
bool IsNetworkProblem(FetchProblem problem);

// The cause in Chinese ("连接被拒绝", "HTTP 404"); `status` serves HttpStatus.
std::string ProblemText(FetchProblem problem, long status);

}  // namespace brenvik
