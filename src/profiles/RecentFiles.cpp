#include "profiles/RecentFiles.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "profiles/SettingsStore.h"

bool RecentFiles::addRecent(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const auto found = std::find(entries_.begin(), entries_.end(), path);
    if (found != entries_.end()) {
        if (found == entries_.begin()) {
            return false;
        }
        entries_.erase(found);
    } else {
        while (entries_.size() >= kMaxEntries) {
            entries_.pop_back();
        }
    }
    entries_.insert(entries_.begin(), path);
    return true;
}

bool RecentFiles::remove(const std::string& path) {
    return std::erase(entries_, path) > 0;
}

std::string RecentFiles::valueName(std::size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "ProfilePath%02zu", index);
    return name;
}

void RecentFiles::load(SettingsStore& store) {
    entries_.clear();
    for (std::size_t i = 0; i < kMaxEntries; ++i) {
        auto path = store.readString(valueName(i));
        if (path && !path->empty()) {
            entries_.push_back(std::move(*path));
        }
    }
}

void RecentFiles::write(SettingsStore& store) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        store.writeString(valueName(i), entries_[i]);
    }
}
