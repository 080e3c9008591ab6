#pragma once

#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

#include "common/FileEntry.h"
#include "profiles/PersistentRecord.h"

// The files and folders one side of a synchronisation must leave alone: exact entries (one file
// or folder each) and wildcards (a name pattern, optionally bound to a folder and everything
// below it). Both lists are kept in EntryPathOrder once sort() has run; isExcluded relies on it.
// Copies share their entries, which is how the exclusion dialogs edit a set and hand it back.
class ExclusionSet : public PersistentRecord {
  public:
    const std::vector<FileEntryPtr>& exactEntries() const { return exact_; }
    const std::vector<FileEntryPtr>& wildcardEntries() const { return wildcards_; }

    void clear();
    // The exclusion dialogs rebuild one list from the lines left after "Remove".
    void clearExactEntries() { exact_.clear(); }
    void clearWildcardEntries() { wildcards_.clear(); }
    // Orders both lists; every caller that adds entries calls this afterwards.
    void sort();

    bool isExcluded(const FileEntry& entry) const;

    // Adds `entry` unless it is already excluded, by an equal entry or a wildcard.
    void addEntry(const FileEntryPtr& entry);
    void addPath(std::string_view pathText);
    // Appends a wildcard unless an equal one (ignoring case) is already there.
    void addWildcard(std::string_view wildcardText);
    // Removes every exact entry equal to `entry` (ignoring case and kind).
    void removeEntry(const FileEntry& entry);

    // The block that follows "exclusions=" or "ftp_exclusions=" in a profile.
    std::ostream& write(std::ostream& out) override;
    // Adds the entries of one block to those already held. The wildcard section exists only in
    // files newer than format 1.01 (fileFormatVersion).
    std::istream& read(std::istream& in) override;
    // False when the last read met the end of the stream inside its block, before the end line
    // of a section: the file was cut short and the set may lack entries the user relies on.
    bool readWasComplete() const { return readComplete_; }

    // The text an exact entry is shown and stored as: a folder keeps its trailing separator.
    static std::string displayPath(const FileEntry& entry) { return entry.childFolderPath(); }

  private:
    std::vector<FileEntryPtr>::const_iterator lowerBound(const FileEntry& entry) const;

    std::vector<FileEntryPtr> exact_;
    std::vector<FileEntryPtr> wildcards_;
    bool readComplete_ = true;
};
