#include "profiles/LocationHistory.h"

#include <algorithm>

#include "profiles/SettingsStore.h"

void LocationHistory::use(const std::string& location) {
    if (location.empty()) {
        return;
    }
    auto found = std::find(entries_.begin(), entries_.end(), location);
    if (found == entries_.end()) {
        found = entries_.end() - 1;
    }
    // Shifting the entries before the removed one down by one slot removes it and frees the front.
    std::move_backward(entries_.begin(), found, found + 1);
    entries_.front() = location;
}

std::string LocationHistory::valueName(std::size_t index) const {
    return "Location" + std::to_string(box_) + static_cast<char>('A' + index);
}

void LocationHistory::load(SettingsStore& store) {
    for (std::size_t i = 0; i < kSize; ++i) {
        entries_[i] = store.readString(valueName(i)).value_or(std::string());
    }
}

void LocationHistory::writeEntry(SettingsStore& store, std::size_t index) const {
    store.writeString(valueName(index), entries_.at(index));
}
