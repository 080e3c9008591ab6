#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "profiles/LocationHistory.h"
#include "profiles/RecentFiles.h"

class SettingsStore;

// The program-wide options of the Configuration dialog.
struct ConfigurationSettings {
    bool showTooltips = true;
    bool ddmmyy = true;                 // dates as dd/mm/yy; off: mm/dd/yy
    std::uint32_t commandTimeout = 60;  // seconds for one timed command
    std::uint32_t maxCommandRetries = 3;
    bool isFtpConnectionTimeout = true;
    // Stored in minutes, held in seconds.
    std::int64_t ftpConnectionTimeoutSeconds = 10 * 60;
    // Logins a run may use at once, its own included; 1: one command after the other.
    std::uint32_t ftpConnections = 4;
};

// The option values last used in the main window; they stand in for a profile's own values
// while no profile is open.
struct OptionDefaults {
    bool addMissing = true;
    bool delMissing = true;
    bool checkDel = false;
    bool subFolders = true;
    bool checkActions = true;
    bool compareTimeOrSize = true;  // false: by time, true: by size
    std::int32_t adjustHours = 0;
    std::int32_t adjustMins = 0;
    bool logOn = false;
    bool logAppend = false;
    std::string logPath;
};

// Default view style of the file lists: the list-view type number of "list".
inline constexpr std::uint32_t kDefaultBrowseStyle = 3;

// The in-memory copies of the installation's settings. They are read and written only at fixed
// moments (start, exit, the Configuration dialog's OK), in a fixed order.
class AppSettings {
  public:
    // `settingsFolder` is the default home of the connections file.
    AppSettings(SettingsStore& store, std::filesystem::path settingsFolder);

    // At start: the configuration values, the connections file name, the two location histories,
    // the recent files and the file open at the last exit, in that order.
    void readAtStart();
    // Read at start only when no profile is open.
    void readOptionDefaults();
    // At exit: the option values, the location histories interleaved (1A, 2A, 1B, ...), the
    // recent files, then ProfilePath.
    void writeAtExit();
    // When the Configuration dialog ends with OK.
    void writeConfiguration();
    void writeConnectionsFileName();

    std::string readOpenPath();
    void writeOpenPath(const std::string& path);
    std::uint32_t readBrowseStyle();
    void writeBrowseStyle(std::uint32_t style);

    std::filesystem::path defaultConnectionsFileName() const;

    ConfigurationSettings configuration;
    std::string connectionsFileName;
    LocationHistory location1{1};
    LocationHistory location2{2};
    RecentFiles recentFiles;
    std::string profilePath;  // the file open at exit
    OptionDefaults options;

  private:
    SettingsStore& store_;
    std::filesystem::path settingsFolder_;
};
