#pragma once

#include <array>
#include <cstddef>
#include <string>

class SettingsStore;

// The history of one location box: always five entries, newest first, empty texts included.
// Stored as Location<box>A .. Location<box>E.
class LocationHistory {
  public:
    static constexpr std::size_t kSize = 5;

    // `box` is 1 for the source box and 2 for the target box.
    explicit LocationHistory(int box) : box_(box) {}

    // Records that `location` was used: an equal entry moves to the front, otherwise the new text
    // pushes the oldest entry out. An empty text changes nothing.
    void use(const std::string& location);

    const std::array<std::string, kSize>& entries() const { return entries_; }
    const std::string& front() const { return entries_.front(); }

    // "Location1A" ... "Location2E".
    std::string valueName(std::size_t index) const;

    // Reads the five values, A to E; a missing value gives an empty entry.
    void load(SettingsStore& store);
    void writeEntry(SettingsStore& store, std::size_t index) const;

  private:
    int box_;
    std::array<std::string, kSize> entries_;
};
