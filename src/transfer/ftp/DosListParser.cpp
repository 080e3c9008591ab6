// DOS style LIST lines of IIS and other Windows servers:
//   05-26-95  10:57AM               143712 $LDR$
//   01-20-97  03:48PM       <DIR>          bin
// with two- or four-digit years, 12- or 24-hour clocks and sizes with or without thousands
// separators.

#include "transfer/ftp/FtpListing.h"
#include "transfer/ftp/FtpListingDetail.h"

namespace ftp {

namespace detail {

namespace {

std::string_view nextField(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && isBlank(line[pos])) {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < line.size() && !isBlank(line[pos])) {
        ++pos;
    }
    return line.substr(start, pos - start);
}

bool equalsIgnoreCase(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
        if (c != upper[i]) {
            return false;
        }
    }
    return true;
}

// "143712" or "1,234,567": commas only between groups of three digits.
std::optional<std::uint64_t> parseDosSize(std::string_view text) {
    if (text.find(',') == std::string_view::npos) {
        return parseUnsigned(text);
    }
    std::string digits;
    std::size_t group = 0;
    bool first = true;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',') {
            if (group == 0 || group > 3 || (!first && group != 3)) {
                return std::nullopt;
            }
            first = false;
            group = 0;
        } else {
            digits.push_back(text[i]);
            ++group;
        }
    }
    return parseUnsigned(digits);
}

struct Clock {
    int hour = 0;
    int minute = 0;
};

// "10:57AM", "03:31PM" or the 24-hour "20:08"; `suffix` is a separate "AM"/"PM" field if any.
std::optional<Clock> parseDosClock(std::string_view text, std::string_view suffix) {
    if (suffix.empty() && text.size() > 2) {
        suffix = text.substr(text.size() - 2);
        if (equalsIgnoreCase(suffix, "AM") || equalsIgnoreCase(suffix, "PM")) {
            text.remove_suffix(2);
        } else {
            suffix = {};
        }
    }
    Clock clock;
    if (!parseClock(text, clock.hour, clock.minute)) {
        return std::nullopt;
    }
    if (!suffix.empty()) {
        if (clock.hour < 1 || clock.hour > 12) {
            return std::nullopt;
        }
        // 12:08AM is eight minutes past midnight, 12:08PM eight past noon.
        clock.hour %= 12;
        if (equalsIgnoreCase(suffix, "PM")) {
            clock.hour += 12;
        }
    }
    return clock;
}

}  // namespace

bool startsWithDosDate(std::string_view line) {
    return line.size() >= 8 && isDigit(line[0]) && isDigit(line[1]) &&
           (line[2] == '-' || line[2] == '/') && isDigit(line[3]) && isDigit(line[4]) &&
           line[5] == line[2] && isDigit(line[6]) && isDigit(line[7]);
}

}  // namespace detail

std::optional<ListingEntry> parseDosLine(std::string_view line) {
    using namespace detail;
    if (!startsWithDosDate(line)) {
        return std::nullopt;
    }
    std::size_t pos = 0;
    const std::string_view date = nextField(line, pos);
    if (date.size() != 8 && !(date.size() == 10 && allDigits(date.substr(6)))) {
        return std::nullopt;
    }
    const int month = static_cast<int>(*parseUnsigned(date.substr(0, 2)));
    const int day = static_cast<int>(*parseUnsigned(date.substr(3, 2)));
    int year = static_cast<int>(*parseUnsigned(date.substr(6, 2)));
    if (date.size() == 10) {
        year = static_cast<int>(*parseUnsigned(date.substr(6)));
    } else {
        // Two-digit years pivot at 70, as Windows servers mean them.
        year += year < 70 ? 2000 : 1900;
    }
    if (year == 0 || !isValidDate(year, month, day)) {
        return std::nullopt;
    }

    const std::string_view clockText = nextField(line, pos);
    std::string_view sizeText = nextField(line, pos);
    std::string_view suffix;
    if (equalsIgnoreCase(sizeText, "AM") || equalsIgnoreCase(sizeText, "PM")) {
        suffix = sizeText;
        sizeText = nextField(line, pos);
    }
    const std::optional<Clock> clock = parseDosClock(clockText, suffix);
    if (!clock) {
        return std::nullopt;
    }

    ListingEntry entry;
    if (equalsIgnoreCase(sizeText, "<DIR>")) {
        entry.type = EntryType::Directory;
    } else {
        entry.size = parseDosSize(sizeText);
        if (!entry.size) {
            return std::nullopt;
        }
        entry.type = EntryType::File;
    }
    // The name column starts after a run of padding whose width varies between servers, so
    // leading spaces of a name cannot be told from padding and are dropped.
    while (pos < line.size() && isBlank(line[pos])) {
        ++pos;
    }
    if (pos >= line.size()) {
        return std::nullopt;
    }
    entry.name.assign(line.substr(pos));
    entry.year = year;
    entry.month = month;
    entry.day = day;
    entry.hour = clock->hour;
    entry.minute = clock->minute;
    entry.precision = TimePrecision::Minute;
    return entry;
}

}  // namespace ftp
