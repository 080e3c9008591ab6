#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "transfer/ftp/FtpListing.h"

// Small pieces shared by the listing parsers. Not part of the client's interface.
namespace ftp::detail {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool allDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

// A run of decimal digits as a number; empty text, other characters or overflow give nothing.
std::optional<std::uint64_t> parseUnsigned(std::string_view digits);

bool isLeapYear(int year);
int daysInMonth(int year, int month);
// True when the date exists; year 0 stands for "not known yet" and allows 29 February.
bool isValidDate(int year, int month, int day);
bool isValidTime(int hour, int minute);

// The year of a listing date that carries a time instead of a year. `ls` prints the time only for
// recent entries, so the date lies in the past or at most a day ahead of `today` (the server's
// clock and time zone may run ahead of ours): the latest year that satisfies that, which is next
// year only for 1 January seen on 31 December. 0 when no year fits (29 February without a leap
// year nearby).
int inferYear(int month, int day, const CivilDate& today);

// "Jan" .. "Dec" in any letter case; 0 for anything else.
int monthFromName(std::string_view name);

// "H:MM" or "HH:MM"; false for anything else, out-of-range values included.
bool parseClock(std::string_view text, int& hour, int& minute);

// The first field of a Unix `ls -l` line: a type letter and nine permission letters.
bool isUnixModeField(std::string_view line);
// "MM-DD-YY" or "MM/DD/YY" at the start of the line (the shape only, not the values).
bool startsWithDosDate(std::string_view line);

struct MlsdLine {
    ListingEntry entry;
    bool selfOrParent = false;  // type=cdir or type=pdir
};

std::optional<MlsdLine> parseMlsd(std::string_view line);

}  // namespace ftp::detail
