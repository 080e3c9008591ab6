#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

#include "support/TempFolder.h"

namespace fs = std::filesystem;

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

const fs::path kSample = fs::path(KELVANE_TEST_DATA) / "connections" / "KelvaneConnections.txt";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs kelvane-cli with `args` in an environment of our own: HOME points into `home`, and the
// settings variables are set only when `configDirEnv` is given. Gives up after 30 seconds.
Result runCli(const std::vector<std::string>& args, const fs::path& home,
              const std::optional<std::string>& configDirEnv = std::nullopt) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) != 0 && entry.rfind("KELVANE_CONFIG_DIR=", 0) != 0 &&
            entry.rfind("XDG_CONFIG_HOME=", 0) != 0) {
            env.push_back(entry);
        }
    }
    env.push_back("HOME=" + home.string());
    if (configDirEnv) {
        env.push_back("KELVANE_CONFIG_DIR=" + *configDirEnv);
    }
    std::vector<std::string> argv{KELVANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvp;
    for (auto& a : argv) {
        argvp.push_back(a.data());
    }
    argvp.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const fs::path outFile = home / "stdout.txt";
    const fs::path errFile = home / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argvp[0], &actions, nullptr, argvp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Result result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argvp[0];
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "kelvane-cli did not finish";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outFile);
    result.err = readFile(errFile);
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

// The two connections of the sample file as the listing must show them.
void expectSampleListing(const Result& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    const auto rows = lines(result.out);
    ASSERT_EQ(rows.size(), 3u) << result.out;
    const std::string& header = rows[0];
    for (const char* column : {"NAME", "SERVER", "USER", "PORT", "MODE", "TLS"}) {
        EXPECT_NE(header.find(column), std::string::npos) << header;
    }
    EXPECT_EQ(rows[1].rfind("alpha-site ", 0), 0u);
    EXPECT_EQ(rows[2].rfind("Beta Mirror ", 0), 0u);
    // The columns line up under the header.
    EXPECT_EQ(rows[1].find("ftp.alpha.example"), header.find("SERVER"));
    EXPECT_EQ(rows[2].find("192.0.2.7"), header.find("SERVER"));
    EXPECT_EQ(rows[1].find("webmaster"), header.find("USER"));
    EXPECT_EQ(rows[2].find("deploy"), header.find("USER"));
    EXPECT_EQ(rows[1].find("2121"), header.find("PORT"));
    EXPECT_EQ(rows[2].find("21 "), header.find("PORT"));  // port 0 is the protocol's 21
    EXPECT_EQ(rows[1].substr(header.find("MODE")), "passive  off");
    EXPECT_EQ(rows[2].substr(header.find("MODE")), "active   off");
    for (const std::string& hidden :
         {std::string("s3cret!"), std::string("Z\xc3\xbcrich"), std::string("\xb3s\xa3\xb2"),
          std::string("ops@example.org")}) {
        EXPECT_EQ(result.out.find(hidden), std::string::npos) << hidden;
        EXPECT_EQ(result.err.find(hidden), std::string::npos) << hidden;
    }
}

}  // namespace

TEST(CliConnections, ListsTheConnectionsOfTheSettingsFolderWithoutPasswords) {
    TempFolder temp;
    const fs::path config = temp.path() / "config";
    fs::create_directory(config);
    fs::copy_file(kSample, config / "KelvaneConnections.txt");
    expectSampleListing(runCli({"--config-dir", config.string(), "connections"}, temp.path()));
    // Global options may follow the subcommand as well.
    expectSampleListing(runCli({"connections", "--config-dir", config.string()}, temp.path()));
    // Without --config-dir the environment names the folder.
    expectSampleListing(runCli({"connections"}, temp.path(), config.string()));
}

TEST(CliConnections, TheSettingAndTheOptionChooseTheFile) {
    TempFolder temp;
    const fs::path config = temp.path() / "config";
    fs::create_directories(temp.path() / "elsewhere");
    fs::create_directory(config);
    fs::copy_file(kSample, temp.path() / "elsewhere" / "sites.txt");
    std::ofstream(config / "Kelvane.conf")
        << "ConnectionsFileName=sz:" << (temp.path() / "elsewhere" / "sites.txt").string() << "\n";
    expectSampleListing(runCli({"--config-dir", config.string(), "connections"}, temp.path()));

    // --connections wins over the setting for this call only.
    std::ofstream(temp.path() / "one.txt", std::ios::binary)
        << "KelvaneVersion=1.06\r\nConnectionName=solo\r\nServerName=solo.example\r\n"
           "UserName=\r\nPassword=\xb0\xb7\r\nPortNumber=0\r\nPassiveMode=1\r\nEndRecord=\r\n";
    const Result solo = runCli({"--config-dir", config.string(), "--connections",
                                (temp.path() / "one.txt").string(), "connections"},
                               temp.path());
    EXPECT_EQ(solo.status, 0);
    const auto rows = lines(solo.out);
    ASSERT_EQ(rows.size(), 2u) << solo.out;
    EXPECT_EQ(rows[1], "solo  solo.example  anonymous  21    passive  off");
    EXPECT_EQ(readFile(config / "Kelvane.conf").find("one.txt"), std::string::npos);
}

TEST(CliConnections, NoConnectionsIsANoteNotAFailure) {
    TempFolder temp;
    const fs::path config = temp.path() / "empty-config";
    const Result result = runCli({"--config-dir", config.string(), "connections"}, temp.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "No connections in " + (config / "KelvaneConnections.txt").string() + "\n");
    EXPECT_FALSE(fs::exists(config));  // listing creates no settings
}

TEST(CliConnections, VersionHelpAndUsageErrors) {
    TempFolder temp;
    const Result version = runCli({"--version"}, temp.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kelvane-cli " KELVANE_VERSION "\n");

    const Result help = runCli({"--help"}, temp.path());
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--config-dir", "--connections", "connections", "--version"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, {"nonsense"}, {"--config-dir"}, {"--bogus", "connections"}}) {
        const Result result = runCli(wrong, temp.path());
        EXPECT_EQ(result.status, 2);
        EXPECT_FALSE(result.err.empty());
    }
}
