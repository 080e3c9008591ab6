#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <ostream>
#include <string>

#include "profiles/ExclusionSet.h"
#include "profiles/PersistentRecord.h"

// Everything that describes one synchronisation, stored as a .kvp file. The members carry the
// names of their keys in the file.
class Profile : public PersistentRecord {
  public:
    // The profile differs from its file.
    bool modified = false;
    // Set by read() when the stream held a profile; reset() leaves it alone.
    bool valid = false;

    bool delete_files = true;
    bool confirm_deletes = false;
    bool add_files = true;
    bool check_sub_folders = true;
    bool check_actions = true;
    bool compare_on_time = true;
    bool silent_mode = false;
    bool exit_on_completion = false;
    std::string location1;  // the local source folder
    std::string location2;  // "FTP:" + connection name + "/" + server path
    ExclusionSet exclusions;
    std::int32_t adjust_time_hours = 0;
    std::int32_t adjust_time_mins = 0;
    // 0 off; any other value starts the run as soon as the program opens this profile.
    std::int32_t auto_start = 0;
    std::string log_file_path;
    bool log_file_on = false;
    bool log_file_append = false;
    ExclusionSet ftp_exclusions;

    // Every member back to its default, both exclusion sets empty; `valid` is kept.
    void reset();

    std::ostream& write(std::ostream& out) override;
    // Afterwards `valid` tells whether the stream held a profile; if not, every member has its
    // default.
    std::istream& read(std::istream& in) override;

    // Reads the file at `path`. False only when it cannot be opened (the profile is then left as
    // it was); whether it held a profile is `valid`.
    bool loadFromFile(const std::filesystem::path& path);
    // Replaces the file at `path` atomically. On failure `modified` keeps its value and `error`,
    // when given, receives the system's reason.
    bool saveToFile(const std::filesystem::path& path, std::string* error = nullptr);
};

struct AdjustTime {
    int hours = 0;
    int minutes = 0;
};

// Reads the time of day of the older "adjust_time" key: "hhmm", "hhmmss", "h" or
// "hh:mm[:ss]". Parts out of range count as 0; seconds are dropped.
AdjustTime parseAdjustTime(std::string_view word);
