#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "profiles/PersistentRecord.h"

// The profiles of a batch (.kvb), in run order; the same profile may appear twice and then runs
// twice.
class BatchList : public PersistentRecord {
  public:
    bool valid = false;
    std::vector<std::string> profilePaths;
    bool modified = false;

    std::ostream& write(std::ostream& out) override;
    // Afterwards `valid` tells whether the stream held a batch; if not, the list is empty.
    std::istream& read(std::istream& in) override;

    // False only when the file cannot be opened; the list is then left as it was.
    bool loadFromFile(const std::filesystem::path& path);
    // Replaces the file atomically; on failure `modified` keeps its value.
    bool saveToFile(const std::filesystem::path& path, std::string* error = nullptr);

    // Whether the file at `path` may join a batch: it must be a profile with auto start on.
    // A file that cannot be opened is refused silently; the other refusals are reported.
    static bool checkProfile(const std::string& path);
};
