#include "app/cli/CliOptions.h"

#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"

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
