#include "transfer/ftp/FtpListing.h"

#include <limits>

#include "transfer/ftp/FtpListingDetail.h"

namespace ftp {

namespace detail {

std::optional<std::uint64_t> parseUnsigned(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : digits) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool isValidDate(int year, int month, int day) {
    return day >= 1 && day <= daysInMonth(year, month);
}

bool isValidTime(int hour, int minute) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

namespace {

// Days since 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's days_from_civil).
long long daysFromCivil(long long year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

int inferYear(int month, int day, const CivilDate& today) {
    const long long todayDays = daysFromCivil(today.year, today.month, today.day);
    // Eight years back always reaches a leap year for 29 February.
    for (int year = today.year + 1; year >= today.year - 8; --year) {
        if (isValidDate(year, month, day) && daysFromCivil(year, month, day) - todayDays <= 1) {
            return year;
        }
    }
    return 0;
}

int monthFromName(std::string_view name) {
    static constexpr std::string_view kNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                  "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3) {
        return 0;
    }
    char lower[3];
    for (int i = 0; i < 3; ++i) {
        const char c = name[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    for (int month = 0; month < 12; ++month) {
        if (std::string_view(lower, 3) == kNames[month]) {
            return month + 1;
        }
    }
    return 0;
}

bool parseClock(std::string_view text, int& hour, int& minute) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3) {
        return false;
    }
    const std::string_view hours = text.substr(0, colon);
    const std::string_view minutes = text.substr(colon + 1);
    if (!allDigits(hours) || !allDigits(minutes)) {
        return false;
    }
    hour = static_cast<int>(*parseUnsigned(hours));
    minute = static_cast<int>(*parseUnsigned(minutes));
    return isValidTime(hour, minute);
}

}  // namespace detail

bool isEntryOfFolder(std::string_view name) {
    // A name with a "/" is a path: some servers list the target of a link that way, and MLST
    // answers name the whole path. Neither is something the folder holds.
    return name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

ListingFormat detectListFormat(std::string_view line) {
    if (detail::isUnixModeField(line)) {
        return ListingFormat::Unix;
    }
    if (detail::startsWithDosDate(line)) {
        return ListingFormat::Dos;
    }
    return ListingFormat::Unknown;
}

std::vector<ListingEntry> parseListing(std::string_view data, bool mlsd, const CivilDate& today) {
    std::vector<ListingEntry> entries;
    ListingFormat format = mlsd ? ListingFormat::Mlsd : ListingFormat::Unknown;
    while (!data.empty()) {
        // Only LF ends a line: a name may hold any other byte, CR and 0x85 included.
        const std::size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        if (format == ListingFormat::Unknown) {
            // "total 12" and server banners come before the first entry and say nothing.
            format = detectListFormat(line);
            if (format == ListingFormat::Unknown) {
                continue;
            }
        }
        std::optional<ListingEntry> entry;
        if (format == ListingFormat::Mlsd) {
            std::optional<detail::MlsdLine> parsed = detail::parseMlsd(line);
            if (parsed && !parsed->selfOrParent) {
                entry = std::move(parsed->entry);
            }
        } else if (format == ListingFormat::Unix) {
            entry = parseUnixLine(line, today);
        } else {
            entry = parseDosLine(line);
        }
        if (entry && isEntryOfFolder(entry->name)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

}  // namespace ftp
