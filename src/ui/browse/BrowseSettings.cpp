#include "ui/browse/BrowseSettings.h"

#include <atomic>

#include "profiles/AppSettings.h"
#include "profiles/SettingsStore.h"

namespace {

std::atomic<bool> dayFirst{true};
SettingsStore* styleStore = nullptr;

}  // namespace

bool dayBeforeMonth() {
    return dayFirst.load();
}

void setDayBeforeMonth(bool on) {
    dayFirst = on;
}

void setBrowseStyleStore(SettingsStore* store) {
    styleStore = store;
}

std::uint32_t storedBrowseStyle() {
    if (styleStore == nullptr) {
        return kDefaultBrowseStyle;
    }
    return AppSettings(*styleStore, {}).readBrowseStyle();
}

void storeBrowseStyle(std::uint32_t style) {
    if (styleStore != nullptr) {
        AppSettings(*styleStore, {}).writeBrowseStyle(style);
    }
}
