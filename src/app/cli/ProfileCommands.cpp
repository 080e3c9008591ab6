#include "app/cli/ProfileCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "profiles/Profile.h"
#include "transfer/ConnectionsFile.h"
#include "transfer/FtpLocation.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxAdjustHours = 12;
constexpr int kMaxAdjustMinutes = 59;

int refuse(std::ostream& err, const std::string& message) {
    err << message << '\n';
    return kExitFailed;
}

// A run of `fewest` to `most` decimal digits and nothing else.
bool readNumber(std::string_view text, std::size_t fewest, std::size_t most, int& value) {
    if (text.size() < fewest || text.size() > most ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
    }
    return true;
}

// A profile is run later, from wherever the job happens to start, so a relative path given now
// is made absolute now. An absolute path is kept as it was typed.
bool makeAbsolute(const std::string& given, std::string& absolute) {
    if (fs::path(given).is_absolute()) {
        absolute = given;
        return true;
    }
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    if (ec) {
        return false;
    }
    absolute = (here / given).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') {
        absolute.pop_back();
    }
    return true;
}

bool isWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

// Exclusions hold full paths, the way each side names what it lists; a relative path is taken
// from `top`, the side's folder in the profile. False for a path that names `top` itself or a
// place above it, which would exclude the whole run or nothing.
bool resolveBelow(const std::string& top, const std::string& given, std::string& resolved) {
    if (!given.empty() && given.front() == '/') {
        resolved = given;
        return true;
    }
    const std::string relative = fs::path(given).lexically_normal().generic_string();
    if (relative.empty() || relative == "." || relative == "./" || relative == ".." ||
        relative.rfind("../", 0) == 0) {
        return false;
    }
    resolved = top;
    if (resolved.empty() || resolved.back() != '/') {
        resolved += '/';
    }
    resolved += relative;
    return true;
}

// --exclude-local: a wildcard without a folder (*.tmp) applies in every folder and is kept as
// given; any other text is placed below the local folder. A path that names a folder is stored
// as a folder entry, as the exclusion dialogs store one.
bool addLocalExclusion(Profile& profile, const std::string& pattern) {
    const bool wildcard = isWildcard(pattern);
    if (wildcard && pattern.find('/') == std::string::npos) {
        profile.exclusions.addWildcard(pattern);
        return true;
    }
    std::string path;
    if (!resolveBelow(profile.location1, pattern, path)) {
        return false;
    }
    if (wildcard) {
        profile.exclusions.addWildcard(path);
        return true;
    }
    std::error_code ec;
    if (path.back() != '/' && fs::is_directory(path, ec)) {
        path += '/';
    }
    profile.exclusions.addPath(path);
    return true;
}

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string logFileText(const Profile& profile) {
    if (!profile.log_file_on) {
        return profile.log_file_path.empty() ? "off" : "off (" + profile.log_file_path + ")";
    }
    return profile.log_file_path + (profile.log_file_append ? " (append)" : " (overwrite)");
}

using Lines = std::vector<std::pair<std::string, std::string>>;

void describeList(Lines& lines, const std::string& label, const std::vector<FileEntryPtr>& entries,
                  bool exact) {
    if (entries.empty()) {
        lines.emplace_back(label, "none");
        return;
    }
    std::string shownLabel = label;
    for (const FileEntryPtr& entry : entries) {
        lines.emplace_back(shownLabel,
                           exact ? ExclusionSet::displayPath(*entry) : entry->fullPath());
        shownLabel.clear();
    }
}

void printAligned(std::ostream& out, const Lines& lines) {
    std::size_t width = 0;
    for (const auto& [label, value] : lines) {
        width = std::max(width, label.size() + 1);
    }
    for (const auto& [label, value] : lines) {
        const std::string head = label.empty() ? "" : label + ":";
        out << head << std::string(width - head.size() + 1, ' ') << value << '\n';
    }
}

}  // namespace

bool parseTimeAdjustment(const std::string& text, int& hours, int& minutes) {
    std::string_view rest = text;
    int sign = 1;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        sign = rest.front() == '-' ? -1 : 1;
        rest.remove_prefix(1);
    }
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    int h = 0;
    int m = 0;
    if (!readNumber(rest.substr(0, colon), 1, 2, h) ||
        !readNumber(rest.substr(colon + 1), 2, 2, m) || h > kMaxAdjustHours ||
        m > kMaxAdjustMinutes) {
        return false;
    }
    hours = sign * h;
    minutes = sign * m;
    return true;
}

std::string formatTimeAdjustment(int hours, int minutes) {
    // The hours and the minutes are stored apart and may differ in sign; what a run applies is
    // their sum.
    const long total = static_cast<long>(hours) * 60 + minutes;
    const long size = total < 0 ? -total : total;
    char text[32];
    std::snprintf(text, sizeof text, "%s%ld:%02ld", total < 0 ? "-" : (total > 0 ? "+" : ""),
                  size / 60, size % 60);
    return text;
}

std::vector<std::pair<std::string, std::string>> describeProfile(const Profile& profile) {
    Lines lines{
        {"Local location", profile.location1},
        {"FTP location", profile.location2},
        {"Add new files", yesNo(profile.add_files)},
        {"Delete missing", yesNo(profile.delete_files)},
        {"Sub-folders", yesNo(profile.check_sub_folders)},
        {"Compare on", profile.compare_on_time ? "time" : "size"},
        {"Time adjustment",
         formatTimeAdjustment(profile.adjust_time_hours, profile.adjust_time_mins)},
        {"Confirm deletes", yesNo(profile.confirm_deletes)},
        {"Check actions", yesNo(profile.check_actions)},
        {"Silent mode", yesNo(profile.silent_mode)},
        {"Auto start", yesNo(profile.auto_start != 0)},
        {"Exit on completion", yesNo(profile.exit_on_completion)},
        {"Log file", logFileText(profile)},
    };
    describeList(lines, "Local exclusions", profile.exclusions.exactEntries(), true);
    describeList(lines, "Local wildcards", profile.exclusions.wildcardEntries(), false);
    describeList(lines, "FTP exclusions", profile.ftp_exclusions.exactEntries(), true);
    // The desktop program makes no FTP wildcards, but a profile may carry them.
    if (!profile.ftp_exclusions.wildcardEntries().empty()) {
        describeList(lines, "FTP wildcards", profile.ftp_exclusions.wildcardEntries(), false);
    }
    return lines;
}

int runProfileNew(const CliOptions& options, const NewProfileRequest& request, std::ostream& out,
                  std::ostream& err) {
    if (fileKind(request.file) != FileKind::Profile) {
        return refuse(err, "A profile's file name must end in \".kvp\": " + request.file);
    }
    std::error_code ec;
    if (!request.force && (fs::exists(request.file, ec) || fs::is_symlink(request.file, ec))) {
        return refuse(err, request.file + " already exists (--force replaces it)");
    }
    Profile profile;
    if (!fs::is_directory(request.local, ec) || !makeAbsolute(request.local, profile.location1)) {
        return refuse(err, "The local location " + request.local + " is not a folder");
    }
    std::string connectionName;
    std::string serverPath;
    if (!parseFtpLocation(request.ftp, connectionName, serverPath) || connectionName.empty()) {
        return refuse(err, "Not an FTP location: " + request.ftp + " (expected FTP:NAME/PATH)");
    }
    profile.location2 = request.ftp;
    if (request.adjust && !parseTimeAdjustment(*request.adjust, profile.adjust_time_hours,
                                               profile.adjust_time_mins)) {
        return refuse(err,
                      "The time adjustment must be [-]H:MM with at most 12 hours and 59 "
                      "minutes, not \"" +
                          *request.adjust + "\"");
    }
    if (request.log) {
        if (request.log->empty() || !makeAbsolute(*request.log, profile.log_file_path)) {
            return refuse(err, "--log needs the path of the log file");
        }
        profile.log_file_on = true;
        profile.log_file_append = request.logAppend;
    }
    for (const std::string& pattern : request.excludeLocal) {
        if (!addLocalExclusion(profile, pattern)) {
            return refuse(err, "--exclude-local " + pattern +
                                   " does not name a place inside the local folder");
        }
    }
    for (const std::string& path : request.excludeFtp) {
        std::string resolved;
        if (!resolveBelow(serverPath, path, resolved)) {
            return refuse(err,
                          "--exclude-ftp " + path + " does not name a place inside the FTP folder");
        }
        profile.ftp_exclusions.addPath(resolved);
    }
    profile.exclusions.sort();
    profile.ftp_exclusions.sort();
    profile.delete_files = request.deleteMissing;
    profile.add_files = !request.noAdd;
    profile.check_sub_folders = !request.noSubFolders;
    profile.compare_on_time = request.compare != "size";
    profile.silent_mode = request.silent;
    profile.auto_start = request.autoStart ? 1 : 0;

    std::string reason;
    if (!profile.saveToFile(request.file, &reason)) {
        return refuse(err, "Could not open file: " + request.file + " (" + reason + ")");
    }
    out << "Wrote profile " << request.file << '\n';
    const fs::path connectionsFile = connectionsFilePath(options);
    if (!findConnection(loadConnections(connectionsFile), connectionName)) {
        err << "Warning: no connection named \"" << connectionName << "\" in "
            << connectionsFile.string() << " yet (kelvane-cli connections add " << connectionName
            << " --server HOST ...)\n";
    }
    return kExitDone;
}

int runProfileShow(const std::string& file, std::ostream& out, std::ostream& err) {
    if (fileKind(file) != FileKind::Profile) {
        return refuse(err, "A profile's file name must end in \".kvp\": " + file);
    }
    Profile profile;
    if (!profile.loadFromFile(file)) {
        return refuse(err, "Could not open file: " + file);
    }
    if (!profile.valid) {
        return refuse(err, file + " is not a valid Kelvane profile");
    }
    printAligned(out, describeProfile(profile));
    out.flush();
    return out ? kExitDone : kExitFailed;
}

ProfileCli::ProfileCli(CLI::App& app) {
    CLI::App* profile = app.add_subcommand("profile", "Write or show a profile (.kvp)");
    profile->require_subcommand(1);

    NewProfileRequest& r = request_;
    new_ = profile->add_subcommand(
        "new", "Write a new profile that uploads a local folder to a folder on an FTP server");
    new_->add_option("file", r.file, "The profile to write")->required()->type_name("FILE.kvp");
    new_->add_option("--local", r.local, "The local folder to upload (an existing folder)")
        ->required()
        ->type_name("DIR");
    new_->add_option("--ftp", r.ftp, "The folder on the server, through a named connection")
        ->required()
        ->type_name("FTP:NAME/PATH");
    new_->add_flag("--delete", r.deleteMissing,
                   "Delete on the server what is not in the local folder (off unless given)");
    new_->add_flag("--no-add", r.noAdd,
                   "Do not add files and folders that only the local side has");
    new_->add_flag("--no-sub-folders", r.noSubFolders, "Only the top folder, not its sub-folders");
    new_->add_option("--compare", r.compare, "A file differs by its time (default) or its size")
        ->check(CLI::IsMember({"time", "size"}).description(""))
        ->type_name("time|size");
    new_->add_option_function<std::string>(
            "--adjust", [&r](const std::string& value) { r.adjust = value; },
            "Added to the server's times before comparing, up to 12 hours and 59 minutes")
        ->type_name("[-]H:MM");
    CLI::Option* log = new_->add_option_function<std::string>(
                               "--log", [&r](const std::string& value) { r.log = value; },
                               "Write the results to this log file")
                           ->type_name("FILE");
    new_->add_flag("--log-append", r.logAppend, "Append to the log file instead of overwriting it")
        ->needs(log);
    new_->add_option("--exclude-local", r.excludeLocal,
                     "Leave a local file or folder alone: a path in the local folder, or a "
                     "wildcard (*.tmp everywhere, drafts/*.tmp in one folder and below)")
        ->type_name("PATTERN")
        ->allow_extra_args(false);
    new_->add_option("--exclude-ftp", r.excludeFtp,
                     "Leave a file or folder on the server alone: a path in the FTP folder")
        ->type_name("PATH")
        ->allow_extra_args(false);
    new_->add_flag("--silent", r.silent, "Silent mode: no message boxes in the desktop program");
    new_->add_flag("--auto-start", r.autoStart,
                   "Start the synchronisation when the desktop program opens the profile");
    new_->add_flag("--force", r.force, "Replace FILE if it exists");

    show_ = profile->add_subcommand("show", "Print the settings of a profile in words");
    show_->add_option("file", showFile_, "The profile")->required()->type_name("FILE.kvp");
}

std::optional<int> ProfileCli::run(const CliOptions& options, std::ostream& out,
                                   std::ostream& err) const {
    if (new_->parsed()) {
        return runProfileNew(options, request_, out, err);
    }
    if (show_->parsed()) {
        return runProfileShow(showFile_, out, err);
    }
    return std::nullopt;
}
