#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What a finished kelvane-cli call left: its exit status and both outputs.
struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// kelvane-cli (KELVANE_CLI_PATH) running in the background with its output going to files in
// `folder`. Killed when the object goes, so a hung program never outlives its test.
class CliProcess {
  public:
    // With `errorFd` the program's standard error is that descriptor (a terminal) instead of a
    // file. With `input` its standard input is a file holding those bytes.
    CliProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
               int errorFd = -1, const std::optional<std::string>& input = std::nullopt);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Still running; the exit status stays to be collected by finish().
    bool running() const;
    void signal(int number) const;

    // Waits for the end, at most `limit`; a program still running then is killed and fails the
    // test.
    CliResult finish(std::chrono::seconds limit = std::chrono::seconds(60));

  private:
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
    pid_t pid_ = -1;
};

// The lines of a program's output.
std::vector<std::string> lines(const std::string& text);

}  // namespace testsupport
