#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/FtpListing.h"

// The body of the listing fuzz target, shared by the libFuzzer main and the smoke test. Returns
// false when a parsed entry breaks an invariant that the rest of the program relies on.
namespace fuzz {

namespace detail {

inline bool entryIsSound(const ftp::ListingEntry& entry) {
    if (entry.name.empty() || entry.name.find('\n') != std::string::npos) {
        return false;
    }
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const ftp::TimePrecision precision = entry.precision;
    if (precision == ftp::TimePrecision::None) {
        return entry.year == 0 && entry.month == 0 && entry.day == 0 && entry.hour == 0 &&
               entry.minute == 0 && entry.second == 0 && entry.millisecond == 0;
    }
    if (entry.year <= 0 || entry.year > 9999 || entry.month < 1 || entry.month > 12 ||
        entry.day < 1 || entry.day > kDays[entry.month - 1]) {
        return false;
    }
    const bool leap = (entry.year % 4 == 0 && entry.year % 100 != 0) || entry.year % 400 == 0;
    if (entry.month == 2 && entry.day == 29 && !leap) {
        return false;
    }
    if (entry.hour < 0 || entry.hour > 23 || entry.minute < 0 || entry.minute > 59 ||
        entry.second < 0 || entry.second > 59 || entry.millisecond < 0 || entry.millisecond > 999) {
        return false;
    }
    return true;
}

// A Unix date given with a time instead of a year is recent: at most a day ahead of today.
inline bool unixYearIsRecent(const std::optional<ftp::ListingEntry>& entry, std::string_view line,
                             const ftp::CivilDate& today) {
    if (!entry || entry->precision != ftp::TimePrecision::Minute) {
        return true;
    }
    // ISO dates carry their own year.
    const bool isoDate = line.find(std::to_string(entry->year) + '-') != std::string_view::npos;
    return isoDate || (entry->year <= today.year + 1 && entry->year >= today.year - 8);
}

inline bool entryIsSound(const std::optional<ftp::ListingEntry>& entry) {
    return !entry || entryIsSound(*entry);
}

}  // namespace detail

inline bool listingOne(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // An ordinary day and the last day of a leap year, where the year inference turns over.
    for (const ftp::CivilDate& today :
         {ftp::CivilDate{2026, 12, 8}, ftp::CivilDate{2024, 12, 31}}) {
        for (const bool mlsd : {false, true}) {
            for (const ftp::ListingEntry& entry : ftp::parseListing(bytes, mlsd, today)) {
                if (!detail::entryIsSound(entry) || entry.name == "." || entry.name == "..") {
                    return false;
                }
            }
        }
        // The line parsers on their own, on every line of the input.
        for (std::string_view rest = bytes; !rest.empty();) {
            const std::size_t end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            const std::optional<ftp::ListingEntry> unixEntry = ftp::parseUnixLine(line, today);
            if (!detail::entryIsSound(unixEntry) ||
                !detail::unixYearIsRecent(unixEntry, line, today) ||
                !detail::entryIsSound(ftp::parseDosLine(line)) ||
                !detail::entryIsSound(ftp::parseMlsdLine(line))) {
                return false;
            }
            (void)ftp::detectListFormat(line);
        }
    }
    return true;
}

}  // namespace fuzz
