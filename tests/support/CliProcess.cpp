#include "support/CliProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <thread>

#include "support/TempFolder.h"

extern char** environ;

namespace testsupport {

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                       int errorFd, const std::optional<std::string>& input)
    : outFile_(folder / "stdout.txt"), errFile_(folder / "stderr.txt") {
    std::vector<std::string> argv{KELVANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvp;
    for (std::string& arg : argv) {
        argvp.push_back(arg.data());
    }
    argvp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::filesystem::path inFile = folder / "stdin.txt";
    if (input) {
        writeFile(inFile, *input);
        posix_spawn_file_actions_addopen(&actions, 0, inFile.c_str(), O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (errorFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (posix_spawn(&pid_, argvp[0], &actions, nullptr, argvp.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool CliProcess::running() const {
    siginfo_t info{};
    return pid_ > 0 &&
           ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

void CliProcess::signal(int number) const {
    ::kill(pid_, number);
}

CliResult CliProcess::finish(std::chrono::seconds limit) {
    CliResult result;
    if (pid_ <= 0) {
        ADD_FAILURE() << "kelvane-cli did not start";
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            ADD_FAILURE() << "kelvane-cli did not finish";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outFile_);
    result.err = readFile(errFile_);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

}  // namespace testsupport
