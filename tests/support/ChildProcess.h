#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A server process started by a test. It runs in a process group of its own, dies with the
// thread that started it (so a crashed test leaves nothing running), and is stopped with its
// whole group when the object goes.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a full path). Standard error goes to `logFile`; standard output too,
    // unless `captureOutput`, in which case readLine() reads it. Standard input is a pipe that
    // stays open for as long as the object lives.
    bool start(const std::vector<std::string>& argv, const std::filesystem::path& logFile,
               bool captureOutput);
    // One line of standard output, without its line end; nothing when none came in time or
    // the process closed its output.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    // False once the process has ended.
    bool running();
    void stop();
    // Stops the process and its group with SIGKILL, giving it no chance to clean up.
    void kill();

    pid_t pid() const { return pid_; }
    const std::string& error() const { return error_; }

  private:
    pid_t pid_ = -1;
    int inputFd_ = -1;
    int outputFd_ = -1;
    std::string pendingOutput_;
    std::string error_;
};

}  // namespace testsupport
