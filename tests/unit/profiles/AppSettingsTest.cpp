#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"

#include "support/TempFolder.h"

namespace fs = std::filesystem;

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

// Sets an environment variable for the length of a test and puts the old state back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Keeps values in memory and records the names written, in order.
class RecordingStore : public SettingsStore {
  public:
    bool writeDword(const std::string& name, std::uint32_t value) override {
        writes.push_back(name);
        dwords[name] = value;
        return true;
    }
    bool writeString(const std::string& name, const std::string& value) override {
        writes.push_back(name);
        strings[name] = value;
        return true;
    }
    std::optional<std::uint32_t> readDword(const std::string& name) override {
        const auto found = dwords.find(name);
        return found == dwords.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<std::string> readString(const std::string& name) override {
        const auto found = strings.find(name);
        return found == strings.end() ? std::nullopt : std::optional(found->second);
    }

    std::vector<std::string> writes;
    std::map<std::string, std::uint32_t> dwords;
    std::map<std::string, std::string> strings;
};

}  // namespace

TEST(AppSettings, EveryValueHasItsDefaultWithoutASettingsFile) {
    TempFolder temp;
    FileSettingsStore store(temp.path());
    AppSettings settings(store, temp.path());
    settings.readAtStart();
    settings.readOptionDefaults();

    const ConfigurationSettings& c = settings.configuration;
    EXPECT_TRUE(c.showTooltips);
    EXPECT_TRUE(c.ddmmyy);
    EXPECT_EQ(c.commandTimeout, 60u);
    EXPECT_EQ(c.maxCommandRetries, 3u);
    EXPECT_EQ(c.ftpConnections, 4u);
    EXPECT_TRUE(c.isFtpConnectionTimeout);
    EXPECT_EQ(c.ftpConnectionTimeoutSeconds, 600);
    EXPECT_EQ(settings.connectionsFileName, (temp.path() / "KelvaneConnections.txt").string());
    for (const std::string& entry : settings.location1.entries()) {
        EXPECT_EQ(entry, "");
    }
    for (const std::string& entry : settings.location2.entries()) {
        EXPECT_EQ(entry, "");
    }
    EXPECT_TRUE(settings.recentFiles.entries().empty());
    EXPECT_EQ(settings.profilePath, "");

    const OptionDefaults& o = settings.options;
    EXPECT_TRUE(o.addMissing);
    EXPECT_TRUE(o.delMissing);
    EXPECT_FALSE(o.checkDel);
    EXPECT_TRUE(o.subFolders);
    EXPECT_TRUE(o.checkActions);
    EXPECT_TRUE(o.compareTimeOrSize);  // by size
    EXPECT_EQ(o.adjustHours, 0);
    EXPECT_EQ(o.adjustMins, 0);
    EXPECT_FALSE(o.logOn);
    EXPECT_FALSE(o.logAppend);
    EXPECT_EQ(o.logPath, "");

    EXPECT_EQ(settings.readOpenPath(), "");
    EXPECT_EQ(settings.readBrowseStyle(), 3u);
    EXPECT_TRUE(fs::is_empty(temp.path()));  // reading wrote nothing
}

TEST(AppSettings, ADamagedValueFallsBackToItsDefaultAlone) {
    TempFolder temp;
    std::ofstream(temp.path() / "Kelvane.conf") << "CommandTimeout=dword:sixty\n"
                                                   "MaxCommandRetries=dword:7\n"
                                                   "ShowTooltips=dword:2\n"
                                                   "ConnectionsFileName=sz:\n";
    FileSettingsStore store(temp.path());
    AppSettings settings(store, temp.path());
    settings.readAtStart();
    EXPECT_EQ(settings.configuration.commandTimeout, 60u);
    EXPECT_EQ(settings.configuration.maxCommandRetries, 7u);
    EXPECT_TRUE(settings.configuration.showTooltips);  // any number but 0 is on
    // An empty name would leave nowhere to load or save connections.
    EXPECT_EQ(settings.connectionsFileName, (temp.path() / "KelvaneConnections.txt").string());
}

TEST(AppSettings, ExitWritesEveryValueInItsOrder) {
    RecordingStore store;
    AppSettings settings(store, "/cfg");
    settings.recentFiles.addRecent("/b.kvp");
    settings.recentFiles.addRecent("/a.kvb");
    settings.options.adjustHours = -2;
    settings.writeAtExit();

    const std::vector<std::string> expected{
        "AddMissing",        "DelMissing",    "CheckDel",      "SubFolders", "CheckActions",
        "CompareTimeOrSize", "AdjustHours",   "AdjustMins",    "LogOn",      "LogAppend",
        "LogPath",           "Location1A",    "Location2A",    "Location1B", "Location2B",
        "Location1C",        "Location2C",    "Location1D",    "Location2D", "Location1E",
        "Location2E",        "ProfilePath00", "ProfilePath01", "ProfilePath"};
    EXPECT_EQ(store.writes, expected);
    EXPECT_EQ(store.dwords["AdjustHours"], 0xFFFFFFFEu);
    EXPECT_EQ(store.strings["ProfilePath00"], "/a.kvb");

    store.writes.clear();
    settings.configuration.ftpConnectionTimeoutSeconds = 15 * 60;
    settings.configuration.isFtpConnectionTimeout = false;
    settings.writeConfiguration();
    const std::vector<std::string> configuration{"ShowTooltips",           "ddmmyy",
                                                 "CommandTimeout",         "MaxCommandRetries",
                                                 "IsFtpConnectionTimeout", "FtpConnectionTimeout",
                                                 "FtpConnections"};
    EXPECT_EQ(store.writes, configuration);
    EXPECT_EQ(store.dwords["FtpConnectionTimeout"], 15u);  // minutes on disk
    EXPECT_EQ(store.dwords["IsFtpConnectionTimeout"], 0u);
}

TEST(AppSettings, EverythingWrittenIsReadBackThroughTheFile) {
    TempFolder temp;
    FileSettingsStore store(temp.path());
    {
        AppSettings settings(store, temp.path());
        settings.configuration = {false, false, 120, 9, false, 25 * 60, 7};
        settings.connectionsFileName = "/srv/shared/conn\\ections\nfile.txt";
        settings.options = {false,
                            false,
                            true,
                            false,
                            false,
                            false,
                            -11,
                            -45,
                            true,
                            true,
                            "/var/log/kelvane\\run\r\n.log"};
        settings.location1.use("/home/ann/site");
        settings.location2.use("FTP:Main/htdocs");
        settings.recentFiles.addRecent("/home/ann/one.kvp");
        settings.profilePath = "/home/ann/one.kvp";
        settings.writeConfiguration();
        settings.writeConnectionsFileName();
        settings.writeAtExit();
        settings.writeOpenPath("/home/ann/profiles");
        settings.writeBrowseStyle(1);
    }
    AppSettings settings(store, temp.path());
    settings.readAtStart();
    settings.readOptionDefaults();
    EXPECT_FALSE(settings.configuration.showTooltips);
    EXPECT_FALSE(settings.configuration.ddmmyy);
    EXPECT_EQ(settings.configuration.commandTimeout, 120u);
    EXPECT_EQ(settings.configuration.maxCommandRetries, 9u);
    EXPECT_FALSE(settings.configuration.isFtpConnectionTimeout);
    EXPECT_EQ(settings.configuration.ftpConnectionTimeoutSeconds, 25 * 60);
    EXPECT_EQ(settings.configuration.ftpConnections, 7u);
    EXPECT_EQ(settings.connectionsFileName, "/srv/shared/conn\\ections\nfile.txt");
    EXPECT_FALSE(settings.options.addMissing);
    EXPECT_FALSE(settings.options.delMissing);
    EXPECT_TRUE(settings.options.checkDel);
    EXPECT_FALSE(settings.options.subFolders);
    EXPECT_FALSE(settings.options.checkActions);
    EXPECT_FALSE(settings.options.compareTimeOrSize);
    EXPECT_EQ(settings.options.adjustHours, -11);
    EXPECT_EQ(settings.options.adjustMins, -45);
    EXPECT_TRUE(settings.options.logOn);
    EXPECT_TRUE(settings.options.logAppend);
    EXPECT_EQ(settings.options.logPath, "/var/log/kelvane\\run\r\n.log");
    EXPECT_EQ(settings.location1.front(), "/home/ann/site");
    EXPECT_EQ(settings.location2.front(), "FTP:Main/htdocs");
    EXPECT_EQ(settings.recentFiles.entries(), std::vector<std::string>{"/home/ann/one.kvp"});
    EXPECT_EQ(settings.profilePath, "/home/ann/one.kvp");
    EXPECT_EQ(settings.readOpenPath(), "/home/ann/profiles");
    EXPECT_EQ(settings.readBrowseStyle(), 1u);
}

TEST(AppSettings, SettingsFolderFollowsTheEnvironment) {
    TempFolder temp;
    ScopedEnv home("HOME", temp.path().c_str());
    {
        ScopedEnv config("KELVANE_CONFIG_DIR", (temp.path() / "chosen").c_str());
        ScopedEnv xdg("XDG_CONFIG_HOME", (temp.path() / "xdg").c_str());
        const fs::path folder = defaultSettingsFolder();
        EXPECT_EQ(folder, temp.path() / "chosen");

        FileSettingsStore store(folder);
        AppSettings settings(store, folder);
        settings.readAtStart();
        EXPECT_EQ(settings.connectionsFileName,
                  (temp.path() / "chosen" / "KelvaneConnections.txt").string());
        settings.writeAtExit();
        EXPECT_TRUE(fs::exists(temp.path() / "chosen" / "Kelvane.conf"));
        EXPECT_FALSE(fs::exists(temp.path() / "xdg"));
    }
    {
        ScopedEnv config("KELVANE_CONFIG_DIR", "");
        ScopedEnv xdg("XDG_CONFIG_HOME", (temp.path() / "xdg").c_str());
        EXPECT_EQ(defaultSettingsFolder(), temp.path() / "xdg" / "Quillmere");
    }
    {
        ScopedEnv config("KELVANE_CONFIG_DIR", nullptr);
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
        EXPECT_EQ(defaultSettingsFolder(), temp.path() / ".config" / "Quillmere");
    }
}

TEST(LocationHistoryTest, UsingALocationMovesItToTheFront) {
    LocationHistory history(1);
    for (const char* location : {"E", "D", "C", "B", "A"}) {
        history.use(location);
    }
    using Entries = std::array<std::string, 5>;
    EXPECT_EQ(history.entries(), (Entries{"A", "B", "C", "D", "E"}));

    history.use("A");
    EXPECT_EQ(history.entries(), (Entries{"A", "B", "C", "D", "E"}));
    history.use("");
    EXPECT_EQ(history.entries(), (Entries{"A", "B", "C", "D", "E"}));
    history.use("C");
    EXPECT_EQ(history.entries(), (Entries{"C", "A", "B", "D", "E"}));
    history.use("new");
    EXPECT_EQ(history.entries(), (Entries{"new", "C", "A", "B", "D"}));
    history.use("c");  // case-sensitive: a different location
    EXPECT_EQ(history.entries(), (Entries{"c", "new", "C", "A", "B"}));
    EXPECT_EQ(history.valueName(4), "Location1E");
}

TEST(LocationHistoryTest, ANewLocationFillsTheLastEmptySlotFirst) {
    RecordingStore store;
    store.strings = {{"Location2A", "FTP:a/"}, {"Location2B", "FTP:b/"}};
    LocationHistory history(2);
    history.load(store);
    history.use("FTP:c/");
    using Entries = std::array<std::string, 5>;
    EXPECT_EQ(history.entries(), (Entries{"FTP:c/", "FTP:a/", "FTP:b/", "", ""}));
}

TEST(RecentFilesTest, KeepsFifteenNewestFirst) {
    RecentFiles recent;
    EXPECT_FALSE(recent.addRecent(""));
    for (int i = 0; i < 15; ++i) {
        EXPECT_TRUE(recent.addRecent("/p/" + std::to_string(i) + ".kvp"));
    }
    ASSERT_EQ(recent.entries().size(), 15u);
    EXPECT_EQ(recent.entries().front(), "/p/14.kvp");
    EXPECT_EQ(recent.entries().back(), "/p/0.kvp");

    // Reopening moves to the front without changing the count.
    EXPECT_TRUE(recent.addRecent("/p/3.kvp"));
    EXPECT_EQ(recent.entries().size(), 15u);
    EXPECT_EQ(recent.entries()[0], "/p/3.kvp");
    EXPECT_EQ(recent.entries()[1], "/p/14.kvp");
    EXPECT_EQ(recent.entries().back(), "/p/0.kvp");
    EXPECT_FALSE(recent.addRecent("/p/3.kvp"));

    // A sixteenth distinct file drops the oldest.
    recent.addRecent("/p/new.kvb");
    EXPECT_EQ(recent.entries().size(), 15u);
    EXPECT_EQ(recent.entries().front(), "/p/new.kvb");
    EXPECT_EQ(recent.entries().back(), "/p/1.kvp");

    // Case matters on Linux: these are two files.
    recent.addRecent("/p/NEW.kvb");
    EXPECT_EQ(recent.entries()[1], "/p/new.kvb");

    RecordingStore store;
    recent.write(store);
    ASSERT_EQ(store.writes.size(), 15u);
    EXPECT_EQ(store.writes.front(), "ProfilePath00");
    EXPECT_EQ(store.writes.back(), "ProfilePath14");
    EXPECT_EQ(store.strings["ProfilePath01"], "/p/new.kvb");
}

TEST(RecentFilesTest, LoadSkipsEmptyValuesAndWriteLeavesHigherIndexesAlone) {
    RecordingStore store;
    store.strings = {{"ProfilePath00", "/a.kvp"},
                     {"ProfilePath01", ""},
                     {"ProfilePath02", "/b.kvb"},
                     {"ProfilePath07", "/c.kvp"},
                     {"ProfilePath15", "/beyond.kvp"}};
    RecentFiles recent;
    recent.load(store);
    EXPECT_EQ(recent.entries(), (std::vector<std::string>{"/a.kvp", "/b.kvb", "/c.kvp"}));

    recent.write(store);
    EXPECT_EQ(store.writes,
              (std::vector<std::string>{"ProfilePath00", "ProfilePath01", "ProfilePath02"}));
    EXPECT_EQ(store.strings["ProfilePath01"], "/b.kvb");
    EXPECT_EQ(store.strings["ProfilePath07"], "/c.kvp");
}
