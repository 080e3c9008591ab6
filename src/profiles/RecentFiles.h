#pragma once

#include <cstddef>
#include <string>
#include <vector>

class SettingsStore;

// The recently opened profile and batch files, newest first, at most fifteen. Stored as
// ProfilePath00 .. ProfilePath14.
class RecentFiles {
  public:
    static constexpr std::size_t kMaxEntries = 15;

    // Moves `path` to the front (exact, case-sensitive match), or inserts it there and drops the
    // oldest entry when the list is full. An empty path leaves the list alone; returns whether
    // the list changed.
    bool addRecent(const std::string& path);
    // Forgets `path` (a file that could not be loaded any more); returns whether it was listed.
    bool remove(const std::string& path);

    const std::vector<std::string>& entries() const { return entries_; }

    // "ProfilePath00" ... "ProfilePath14".
    static std::string valueName(std::size_t index);

    // Reads ProfilePath00 .. ProfilePath14 in order, keeping every non-empty value.
    void load(SettingsStore& store);
    // Writes the entries present; values with higher indexes stay as they are in the store.
    void write(SettingsStore& store) const;

  private:
    std::vector<std::string> entries_;
};
