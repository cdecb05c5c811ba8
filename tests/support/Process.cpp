#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace brenvik::test {

// Started with posix_spawn, not fork: a child of a threaded test (servers run in it) that
// allocated between fork and exec could wait for ever on a lock another thread held when
// it forked, which the sanitizers' allocators made likely.
Process::Process(const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int failed = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (failed != 0) {
        pid_ = -1;
        err_ = "cannot start " + argv.front();
    }
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) {
        ::close(outFd_);
    }
    if (errFd_ >= 0) {
        ::close(errFd_);
    }
}

void Process::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

ProcessResult Process::Wait(std::chrono::seconds limit) {
    if (pid_ <= 0) {
        return {-1, out_, err_};
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{outOpen ? outFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}};
        ::poll(fds, 2, 100);
        const auto drain = [](int fd, std::string& into, bool& open) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
            } else {
                open = false;
            }
        };
        if (fds[0].revents) {
            drain(outFd_, out_, outOpen);
        }
        if (fds[1].revents) {
            drain(errFd_, err_, errOpen);
        }
    }
    ProcessResult result;
    int status = 0;
    if (outOpen || errOpen) {
        ::kill(pid_, SIGKILL);
    }
    ::waitpid(pid_, &status, 0);
    if (!outOpen && !errOpen && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    pid_ = -1;
    result.out = out_;
    result.err = err_;
    return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::seconds limit) {
    Process process(argv);
    return process.Wait(limit);
}

}  // namespace brenvik::test
