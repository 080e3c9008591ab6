#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Pure parsers of FTP directory listings: MLSD facts, Unix `ls -l` lines and DOS/IIS lines.
// They never touch a socket or the clock; "today" is an argument so that a Unix line without a
// year ("Mar  2 15:13") gets a year that a test can predict.
namespace ftp {

enum class EntryType { Unknown, File, Directory, Link };

// How much of the timestamp the line gave.
enum class TimePrecision { None, Day, Minute, Second, Millisecond };

struct CivilDate {
    int year = 0;   // four digits
    int month = 0;  // 1..12
    int day = 0;    // 1..31
};

struct ListingEntry {
    std::string name;
    EntryType type = EntryType::Unknown;
    std::optional<std::uint64_t> size;  // empty when the line gives none (DOS <DIR>, devices)
    // The timestamp as written in the line: for MLSD in UTC, for LIST in the server's own
    // time. Fields beyond `precision` are 0.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    TimePrecision precision = TimePrecision::None;
    bool timeIsUtc = false;  // true for MLSD "modify" facts
    std::string linkTarget;  // Unix "name -> target"
};

enum class ListingFormat { Unknown, Mlsd, Unix, Dos };

// Each returns no entry for a line it cannot read (never throws, never reads out of bounds).
// MLSD "cdir" and "pdir" entries are returned with their type Directory and `name` as given;
// parseListing drops them. A folder's MLSD size is its "sizd" fact when it has one.
std::optional<ListingEntry> parseMlsdLine(std::string_view line);
std::optional<ListingEntry> parseUnixLine(std::string_view line, const CivilDate& today);
std::optional<ListingEntry> parseDosLine(std::string_view line);

// Guesses the LIST format from one line (Unknown for "total 12" and the like).
ListingFormat detectListFormat(std::string_view line);

// False for the names a listing gives that are not entries of the listed folder: "." and "..",
// and any name holding a "/" (a path, not a name).
bool isEntryOfFolder(std::string_view name);

// Parses a whole listing as received on the data connection (lines ended by CR LF or LF).
// With `mlsd` true every line is MLSD; otherwise the format is detected once, from the first
// line that reveals it, and every line is parsed in that format. Names that are not entries of
// the folder, MLSD cdir/pdir entries, "total N" lines and lines that cannot be read are skipped.
std::vector<ListingEntry> parseListing(std::string_view data, bool mlsd, const CivilDate& today);

}  // namespace ftp
