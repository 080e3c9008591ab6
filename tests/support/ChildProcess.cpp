#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace testsupport {

namespace {

void closeIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::filesystem::path& logFile,
                         bool captureOutput) {
    stop();
    int input[2];
    int output[2] = {-1, -1};
    if (::pipe2(input, O_CLOEXEC) != 0 || (captureOutput && ::pipe2(output, O_CLOEXEC) != 0)) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        error_ = "cannot open " + logFile.string() + ": " + std::strerror(errno);
        return false;
    }
    // Everything the child needs is prepared before fork(): after it, in a threaded process,
    // only async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(captureOutput ? output[1] : log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::close_range(3, ~0U, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(log);
    if (captureOutput) {
        ::close(output[1]);
    }
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        ::close(input[1]);
        if (captureOutput) {
            ::close(output[0]);
        }
        return false;
    }
    ::setpgid(pid, pid);  // also here, so that stop() works before the child got that far
    pid_ = pid;
    inputFd_ = input[1];
    outputFd_ = captureOutput ? output[0] : -1;
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::size_t end = pendingOutput_.find('\n');
        if (end != std::string::npos) {
            std::string line = pendingOutput_.substr(0, end);
            pendingOutput_.erase(0, end + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (outputFd_ < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        pollfd fd{outputFd_, POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[512];
        ssize_t count = ::read(outputFd_, buffer, sizeof buffer);
        if (count <= 0) {
            return std::nullopt;
        }
        pendingOutput_.append(buffer, static_cast<std::size_t>(count));
    }
}

bool ChildProcess::running() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::stop() {
    if (pid_ > 0) {
        // The whole group: vsftpd serves each session from a process of its own.
        ::kill(-pid_, SIGTERM);
        bool ended = false;
        for (int i = 0; i < 300 && !ended; ++i) {  // up to 3 s
            int status = 0;
            ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        ::kill(-pid_, SIGKILL);
        if (!ended) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    closeIfOpen(inputFd_);
    closeIfOpen(outputFd_);
    pendingOutput_.clear();
}

void ChildProcess::kill() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    stop();
}

}  // namespace testsupport
