#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/FileEntry.h"

// The decisions of the folder analysis, kept apart from the walking so that each rule can be
// checked on its own against a table of cases.

// Compare on time: the source is newer when its date-time is strictly later than the target's,
// after the target's time has been corrected by the server's clock offset (hours first, then
// minutes, each carrying into the date). Equal times are not newer.
bool isNewer(const EntryDateTime& source, EntryDateTime target, int adjustHours, int adjustMins);

// Compare on size: any difference counts, a smaller source as much as a larger one.
inline bool differsInSize(std::uint64_t sourceSize, std::uint64_t targetSize) {
    return sourceSize != targetSize;
}

// Whether a source file replaces the target file of the same name, by the rule the profile
// chose.
bool needsOverwrite(const FileEntry& source, const FileEntry& target, bool compareOnTime,
                    int adjustHours, int adjustMins);

// Which entry of one side has the same name as which entry of the other side. Both lists are
// sorted by name (ignoring letter case); names are compared the same way. Within a group of
// names that differ only in letter case (possible on both sides on Linux and on Unix servers)
// a source prefers the target written exactly like it, then the first one left.
struct NameMatch {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // For each source entry, the index of its target entry or kNone.
    std::vector<std::size_t> targetOf;
    // The indexes of the target entries no source matched, in list order.
    std::vector<std::size_t> unmatchedTargets;
};
NameMatch matchByName(const std::vector<FileEntryPtr>& sources,
                      const std::vector<FileEntryPtr>& targets);
