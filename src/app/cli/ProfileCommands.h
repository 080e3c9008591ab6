#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/CliOptions.h"

namespace CLI {
class App;
}
class Profile;

// What `profile new` was given. Whatever it does not name starts as a new profile of the
// desktop program starts, except deleting, which only --delete turns on: a profile written by a
// script must not delete from a server unless the script says so.
struct NewProfileRequest {
    std::string file;
    std::string local;
    std::string ftp;
    bool deleteMissing = false;
    bool noAdd = false;
    bool noSubFolders = false;
    std::string compare = "time";
    std::optional<std::string> adjust;
    std::optional<std::string> log;
    bool logAppend = false;
    std::vector<std::string> excludeLocal;
    std::vector<std::string> excludeFtp;
    bool silent = false;
    bool autoStart = false;
    bool force = false;
};

// `kelvane-cli profile new FILE.kvp ...`: writes a profile through the profile's own writer, so
// the desktop program opens it unchanged. Refused input prints its reason, exits with 2 and
// writes nothing; a connection that is not (yet) in the connections file is only a warning.
int runProfileNew(const CliOptions& options, const NewProfileRequest& request, std::ostream& out,
                  std::ostream& err);

// `kelvane-cli profile show FILE.kvp`: the settings in words, one per line.
int runProfileShow(const std::string& file, std::ostream& out, std::ostream& err);

// "[-]H:MM" with at most 12 hours and 59 minutes, the ranges of the More Options dialog; the
// sign applies to both.
bool parseTimeAdjustment(const std::string& text, int& hours, int& minutes);
// The net correction of a profile: "+1:30", "-0:45", "0:00".
std::string formatTimeAdjustment(int hours, int minutes);

// Label and value of every setting as `profile show` prints them; a list with several entries
// takes one line each, the label on the first.
std::vector<std::pair<std::string, std::string>> describeProfile(const Profile& profile);

// The two subcommands of `profile` on the command line.
class ProfileCli {
  public:
    // The options are bound to this object: it stays where it was made.
    // The options write into this object, which therefore stays where it was made.
    explicit ProfileCli(CLI::App& app);
    ProfileCli(const ProfileCli&) = delete;
    ProfileCli& operator=(const ProfileCli&) = delete;

    // Runs the subcommand the command line gave; nothing when it gave none of them.
    std::optional<int> run(const CliOptions& options, std::ostream& out, std::ostream& err) const;

  private:
    NewProfileRequest request_;
    std::string showFile_;
    CLI::App* new_ = nullptr;
    CLI::App* show_ = nullptr;
};
