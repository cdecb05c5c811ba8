// Runs a program of ours as a user would, capturing what it prints.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace brenvik::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not end by itself in time
    std::string out;
    std::string err;
};

class Process {
  public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Signal(int signal) const;
    pid_t Pid() const { return pid_; }
    // Waits for the end (killing the program after the time) and collects its output.
    ProcessResult Wait(std::chrono::seconds limit = std::chrono::seconds(60));

  private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
};

// Runs to the end.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace brenvik::test
