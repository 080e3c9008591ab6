#include "app/cli/CliOptions.h"

#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"
#include "transfer/ConnectionDetails.h"

std::filesystem::path settingsFolder(const CliOptions& options) {
    return options.configDir.empty() ? defaultSettingsFolder()
                                     : std::filesystem::path(options.configDir);
}

std::filesystem::path connectionsFilePath(const CliOptions& options) {
    if (!options.connectionsFile.empty()) {
        return options.connectionsFile;
    }
    const std::filesystem::path folder = settingsFolder(options);
    FileSettingsStore store(folder);
    AppSettings settings(store, folder);
    settings.readAtStart();
    return settings.connectionsFileName;
}

void applyTlsFingerprint(const CliOptions& options, ConnectionDetails& connection) {
    const std::string digits = ftp::normaliseFingerprint(options.tlsFingerprint);
    if (!digits.empty()) {
        connection.tlsFingerprint = ftp::formatFingerprint(digits);
    }
}
