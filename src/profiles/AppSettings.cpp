#include "profiles/AppSettings.h"

#include <utility>

#include "profiles/SettingsStore.h"

namespace {

constexpr const char* kConnectionsFileLeaf = "KelvaneConnections.txt";

bool readBool(SettingsStore& store, const char* name, bool fallback) {
    const auto value = store.readDword(name);
    return value ? *value != 0 : fallback;
}

std::uint32_t readNumber(SettingsStore& store, const char* name, std::uint32_t fallback) {
    return store.readDword(name).value_or(fallback);
}

// Signed values travel as their 32-bit pattern.
std::int32_t readSigned(SettingsStore& store, const char* name, std::int32_t fallback) {
    const auto value = store.readDword(name);
    return value ? static_cast<std::int32_t>(*value) : fallback;
}

void writeBool(SettingsStore& store, const char* name, bool value) {
    store.writeDword(name, value ? 1 : 0);
}

void writeSigned(SettingsStore& store, const char* name, std::int32_t value) {
    store.writeDword(name, static_cast<std::uint32_t>(value));
}

}  // namespace

AppSettings::AppSettings(SettingsStore& store, std::filesystem::path settingsFolder)
    : connectionsFileName((settingsFolder / kConnectionsFileLeaf).string()),
      store_(store),
      settingsFolder_(std::move(settingsFolder)) {}

std::filesystem::path AppSettings::defaultConnectionsFileName() const {
    return settingsFolder_ / kConnectionsFileLeaf;
}

void AppSettings::readAtStart() {
    ConfigurationSettings& c = configuration;
    c.showTooltips = readBool(store_, "ShowTooltips", true);
    c.ddmmyy = readBool(store_, "ddmmyy", true);
    c.commandTimeout = readNumber(store_, "CommandTimeout", 60);
    c.maxCommandRetries = readNumber(store_, "MaxCommandRetries", 3);
    c.ftpConnections = readNumber(store_, "FtpConnections", 4);
    c.isFtpConnectionTimeout = readBool(store_, "IsFtpConnectionTimeout", true);
    c.ftpConnectionTimeoutSeconds =
        static_cast<std::int64_t>(readNumber(store_, "FtpConnectionTimeout", 10)) * 60;

    // An empty name would leave the program without a connections file to load or save.
    auto fileName = store_.readString("ConnectionsFileName");
    connectionsFileName = fileName && !fileName->empty() ? std::move(*fileName)
                                                         : defaultConnectionsFileName().string();

    location1.load(store_);
    location2.load(store_);
    recentFiles.load(store_);
    profilePath = store_.readString("ProfilePath").value_or(std::string());
}

void AppSettings::readOptionDefaults() {
    OptionDefaults& o = options;
    o.addMissing = readBool(store_, "AddMissing", true);
    o.delMissing = readBool(store_, "DelMissing", true);
    o.checkDel = readBool(store_, "CheckDel", false);
    o.subFolders = readBool(store_, "SubFolders", true);
    o.checkActions = readBool(store_, "CheckActions", true);
    o.compareTimeOrSize = readBool(store_, "CompareTimeOrSize", true);
    o.adjustHours = readSigned(store_, "AdjustHours", 0);
    o.adjustMins = readSigned(store_, "AdjustMins", 0);
    o.logOn = readBool(store_, "LogOn", false);
    o.logAppend = readBool(store_, "LogAppend", false);
    o.logPath = store_.readString("LogPath").value_or(std::string());
}

void AppSettings::writeAtExit() {
    const OptionDefaults& o = options;
    writeBool(store_, "AddMissing", o.addMissing);
    writeBool(store_, "DelMissing", o.delMissing);
    writeBool(store_, "CheckDel", o.checkDel);
    writeBool(store_, "SubFolders", o.subFolders);
    writeBool(store_, "CheckActions", o.checkActions);
    writeBool(store_, "CompareTimeOrSize", o.compareTimeOrSize);
    writeSigned(store_, "AdjustHours", o.adjustHours);
    writeSigned(store_, "AdjustMins", o.adjustMins);
    writeBool(store_, "LogOn", o.logOn);
    writeBool(store_, "LogAppend", o.logAppend);
    store_.writeString("LogPath", o.logPath);
    for (std::size_t i = 0; i < LocationHistory::kSize; ++i) {
        location1.writeEntry(store_, i);
        location2.writeEntry(store_, i);
    }
    recentFiles.write(store_);
    store_.writeString("ProfilePath", profilePath);
}

void AppSettings::writeConfiguration() {
    const ConfigurationSettings& c = configuration;
    writeBool(store_, "ShowTooltips", c.showTooltips);
    writeBool(store_, "ddmmyy", c.ddmmyy);
    store_.writeDword("CommandTimeout", c.commandTimeout);
    store_.writeDword("MaxCommandRetries", c.maxCommandRetries);
    writeBool(store_, "IsFtpConnectionTimeout", c.isFtpConnectionTimeout);
    store_.writeDword("FtpConnectionTimeout",
                      static_cast<std::uint32_t>(c.ftpConnectionTimeoutSeconds / 60));
    store_.writeDword("FtpConnections", c.ftpConnections);
}

void AppSettings::writeConnectionsFileName() {
    store_.writeString("ConnectionsFileName", connectionsFileName);
}

std::string AppSettings::readOpenPath() {
    return store_.readString("OpenPath").value_or(std::string());
}

void AppSettings::writeOpenPath(const std::string& path) {
    store_.writeString("OpenPath", path);
}

std::uint32_t AppSettings::readBrowseStyle() {
    return readNumber(store_, "BrowseStyle", kDefaultBrowseStyle);
}

void AppSettings::writeBrowseStyle(std::uint32_t style) {
    store_.writeDword("BrowseStyle", style);
}
