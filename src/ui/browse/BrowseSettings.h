#pragma once

#include <cstdint>

class SettingsStore;

// The program-wide settings the browse lists read: the order of day and month in dates
// ("ddmmyy") and the store that keeps the lists' view style ("BrowseStyle"). The main window
// sets both from the application settings; without a store the style is not kept.
bool dayBeforeMonth();
void setDayBeforeMonth(bool on);

void setBrowseStyleStore(SettingsStore* store);
// The list-view type number: 0 large icons, 1 details, 2 small icons, 3 list (the default).
std::uint32_t storedBrowseStyle();
void storeBrowseStyle(std::uint32_t style);
