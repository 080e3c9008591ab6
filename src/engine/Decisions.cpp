#include "engine/Decisions.h"

bool isNewer(const EntryDateTime& source, EntryDateTime target, int adjustHours, int adjustMins) {
    target.adjust(adjustHours, adjustMins);
    return source > target;
}

bool needsOverwrite(const FileEntry& source, const FileEntry& target, bool compareOnTime,
                    int adjustHours, int adjustMins) {
    if (compareOnTime) {
        return isNewer(source.dateTime(), target.dateTime(), adjustHours, adjustMins);
    }
    return differsInSize(source.size, target.size);
}

NameMatch matchByName(const std::vector<FileEntryPtr>& sources,
                      const std::vector<FileEntryPtr>& targets) {
    NameMatch match;
    match.targetOf.assign(sources.size(), NameMatch::kNone);
    std::vector<bool> taken(targets.size(), false);
    // One pass over both sorted lists, a group of equal names at a time.
    std::size_t s = 0;
    std::size_t t = 0;
    while (s < sources.size() && t < targets.size()) {
        const int order = comparePathsIgnoringCase(sources[s]->name, targets[t]->name);
        if (order < 0) {
            ++s;
            continue;
        }
        if (order > 0) {
            ++t;
            continue;
        }
        std::size_t sourceEnd = s + 1;
        while (sourceEnd < sources.size() &&
               comparePathsIgnoringCase(sources[sourceEnd]->name, sources[s]->name) == 0) {
            ++sourceEnd;
        }
        std::size_t targetEnd = t + 1;
        while (targetEnd < targets.size() &&
               comparePathsIgnoringCase(targets[targetEnd]->name, targets[t]->name) == 0) {
            ++targetEnd;
        }
        // Exact spellings pair first, so that "a" and "A" on both sides meet their own kind.
        for (std::size_t i = s; i < sourceEnd; ++i) {
            for (std::size_t j = t; j < targetEnd; ++j) {
                if (!taken[j] && sources[i]->name == targets[j]->name) {
                    match.targetOf[i] = j;
                    taken[j] = true;
                    break;
                }
            }
        }
        for (std::size_t i = s; i < sourceEnd; ++i) {
            if (match.targetOf[i] != NameMatch::kNone) {
                continue;
            }
            for (std::size_t j = t; j < targetEnd; ++j) {
                if (!taken[j]) {
                    match.targetOf[i] = j;
                    taken[j] = true;
                    break;
                }
            }
        }
        s = sourceEnd;
        t = targetEnd;
    }
    for (std::size_t j = 0; j < targets.size(); ++j) {
        if (!taken[j]) {
            match.unmatchedTargets.push_back(j);
        }
    }
    return match;
}
