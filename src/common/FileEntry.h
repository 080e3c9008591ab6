#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The separator of local paths. FTP paths always use '/'. Engine code asks an entry for its
// separator instead of naming either character.
inline constexpr char kLocalSeparator = '/';
inline constexpr char kFtpSeparator = '/';

// A last-modified date packed into 16 bits: day in bits 0-4, month in bits 5-8, years since
// 1980 in bits 9-15. Zero means "no date". The packing makes the numeric order the calendar
// order.
class EntryDate {
  public:
    EntryDate() = default;
    explicit EntryDate(std::uint16_t packed) : value_(packed) {}

    // Day 0 with month and year 0 clears the date. With a day given, a month or year of 0 means
    // the current one; two-digit years below 50 are 20xx, 50..99 are 19xx. Returns false and
    // leaves the date unchanged for anything outside 1980..2080 or not a real calendar day.
    bool set(int day, int month, int year);

    // Moves the date by `days` (negative goes back), across month and year ends. A missing date
    // stays missing; the result is held within what 16 bits can express.
    void addDays(int days);

    int day() const { return value_ & 0x1f; }
    int month() const { return (value_ >> 5) & 0x0f; }
    // The full year, or 0 when there is no date.
    int year() const { return value_ == 0 ? 0 : 1980 + (value_ >> 9); }
    std::uint16_t packed() const { return value_; }
    bool isNull() const { return value_ == 0; }

    auto operator<=>(const EntryDate&) const = default;

  private:
    std::uint16_t value_ = 0;
};

// A time of day packed into 32 bits: seconds in bits 0-5, minutes in bits 6-11, hours from
// bit 12. The packing makes the numeric order the order by hours, minutes, seconds.
class EntryTime {
  public:
    EntryTime() = default;
    explicit EntryTime(std::uint32_t packed) : value_(packed) {}

    // Refuses (returns false, value unchanged) anything outside 0..23, 0..59, 0..59.
    bool set(int hours, int minutes, int seconds);

    // Both return the whole days carried past midnight: positive forwards, negative when a
    // negative amount borrows from the previous day.
    int addHours(int hours);
    int addMinutes(int minutes);

    int hours() const { return static_cast<int>(value_ >> 12); }
    int minutes() const { return static_cast<int>((value_ >> 6) & 0x3f); }
    int seconds() const { return static_cast<int>(value_ & 0x3f); }
    std::uint32_t packed() const { return value_; }

    auto operator<=>(const EntryTime&) const = default;

  private:
    void assign(int hours, int minutes, int seconds);

    std::uint32_t value_ = 0;
};

// Date first, then time of day.
struct EntryDateTime {
    EntryDate date;
    EntryTime time;

    // Corrects a server clock: the hours first, then the minutes, each carrying into the date.
    void adjust(int hours, int minutes);

    auto operator<=>(const EntryDateTime&) const = default;
};

enum class EntryKind : std::int32_t { Up = 0, Folder = 1, File = 2 };

// The codes double as image indexes in the browse lists, hence the gaps.
enum class EntryAction : std::int32_t {
    None = 0,
    Excluded = 2,
    Overwrite = 4,
    Add = 6,
    Delete = 8
};

struct FileEntry;
using FileEntryPtr = std::shared_ptr<FileEntry>;

// One file or folder on either side. Entries are shared between listings, plans and exclusion
// sets through FileEntryPtr, so a change of action or failed flag is seen by every holder.
struct FileEntry {
    std::string folder;  // ends with the side's separator (empty for a bare name)
    std::string name;
    EntryDate date;
    EntryTime time;
    EntryKind kind = EntryKind::File;
    EntryAction action = EntryAction::None;
    std::uint64_t size = 0;
    bool remote = false;  // an FTP entry (separator '/')
    bool failed = false;
    // A local folder's sub-folders as the file system counts them (0 where it does not): a
    // hint of how much a walk finds below it.
    std::uint32_t subFolders = 0;

    // Builds an entry from a typed or stored path: a trailing '/', '\' or ':' makes it a folder,
    // a trailing '/' marks it FTP-style; trailing separators are dropped and the text is split
    // after its last '/' or '\'. "/" gives the root folder with an empty name.
    static FileEntryPtr fromPath(std::string_view text);

    char separator() const { return remote ? kFtpSeparator : kLocalSeparator; }
    bool isFolder() const { return kind == EntryKind::Folder; }
    std::string fullPath() const { return folder + name; }
    // The folder path a recursive step works in: the full path with the separator added for a
    // folder, except for the root "/" which already ends in one.
    std::string childFolderPath() const;
    // Makes every separator in the folder path the entry's own. Only '/' and kLocalSeparator
    // count as separators here: a '\' is an ordinary character of a Linux file name and must
    // survive.
    void normaliseSeparators();
    // The same entry placed in `targetFolder` on the other side, as an add action creates it.
    FileEntryPtr copyForOtherSide(const std::string& targetFolder, bool targetIsRemote) const;

    EntryDateTime dateTime() const { return {date, time}; }
};

// Upper-case (ASCII) byte comparison, a prefix sorting first. Both return <0, 0 or >0.
int comparePathsIgnoringCase(std::string_view a, std::string_view b);
int compareEntryPaths(const FileEntry& a, const FileEntry& b);

// The order of every set and map of entries: full paths compared ignoring letter case, so two
// entries that differ only in case are the same entry.
struct EntryPathOrder {
    bool operator()(const FileEntry& a, const FileEntry& b) const {
        return compareEntryPaths(a, b) < 0;
    }
    bool operator()(const FileEntryPtr& a, const FileEntryPtr& b) const {
        return compareEntryPaths(*a, *b) < 0;
    }
};

// The same rule on names alone, for sorting the listing of one folder.
struct EntryNameOrder {
    bool operator()(const FileEntry& a, const FileEntry& b) const {
        return comparePathsIgnoringCase(a.name, b.name) < 0;
    }
    bool operator()(const FileEntryPtr& a, const FileEntryPtr& b) const {
        return comparePathsIgnoringCase(a->name, b->name) < 0;
    }
};
