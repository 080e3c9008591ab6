// Unix `ls -l` style LIST lines, as written by most servers:
//   drwxr-xr-x   2 owner    group        4096 Mar  2 15:13 name
// Servers differ in the columns between the mode and the size (no link count, owner only, group
// names with spaces, "folder" on Mac OS servers) and in the date (month first, day first,
// ISO dates, CJK month and day marks), so the date is found first and the size is the field just
// before it. The name is whatever follows the date after one separator, spaces included.

#include <vector>

#include "transfer/ftp/FtpListing.h"
#include "transfer/ftp/FtpListingDetail.h"

namespace ftp {

namespace detail {

namespace {

// Regular file, directory, link, character and block device, FIFO, socket, Solaris door and
// event port, HP-UX network special file.
constexpr std::string_view kUnixTypeLetters = "-dlcbpsDPn";

constexpr std::string_view kMonthMark = "\xE6\x9C\x88";  // 月
constexpr std::string_view kDayMark = "\xE6\x97\xA5";    // 日
constexpr std::string_view kYearMark = "\xE5\xB9\xB4";   // 年

bool oneOf(char c, std::string_view letters) {
    return letters.find(c) != std::string_view::npos;
}

struct Field {
    std::string_view text;
    std::size_t end = 0;  // offset in the line just past the field
};

std::vector<Field> splitFields(std::string_view line, std::size_t from) {
    std::vector<Field> fields;
    std::size_t pos = from;
    while (pos < line.size()) {
        while (pos < line.size() && isBlank(line[pos])) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < line.size() && !isBlank(line[pos])) {
            ++pos;
        }
        if (pos > start) {
            fields.push_back({line.substr(start, pos - start), pos});
        }
    }
    return fields;
}

bool isDayField(std::string_view text) {
    return text.size() <= 2 && allDigits(text);
}
bool isYearField(std::string_view text) {
    return text.size() == 4 && allDigits(text);
}
bool isClockField(std::string_view text) {
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && (colon == 1 || colon == 2) &&
           text.size() == colon + 3 && allDigits(text.substr(0, colon)) &&
           allDigits(text.substr(colon + 1));
}

// Digits followed by an optional CJK mark: "3", "3日".
std::string_view withoutMark(std::string_view text, std::string_view mark) {
    if (text.size() > mark.size() && text.substr(text.size() - mark.size()) == mark) {
        return text.substr(0, text.size() - mark.size());
    }
    return text;
}

int smallNumber(std::string_view digits) {
    return static_cast<int>(*parseUnsigned(digits));
}

enum class DateShape { None, Valid, Invalid };

struct DateFields {
    int year = 0;  // 0: the line gave a time instead
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    std::size_t count = 0;  // fields taken by the date
};

// The last field of a date: a time "15:13" or a year "2001" (CJK: "2001年").
bool readTimeOrYear(std::string_view text, DateFields& date, bool& valid) {
    if (isClockField(text)) {
        valid = parseClock(text, date.hour, date.minute);
        return true;
    }
    const std::string_view year = withoutMark(text, kYearMark);
    if (isYearField(year)) {
        date.year = smallNumber(year);
        valid = date.year > 0;
        return true;
    }
    return false;
}

// Whether the fields from `i` on have the shape of a date, and whether its values are possible.
DateShape matchDate(const std::vector<Field>& fields, std::size_t i, DateFields& date) {
    const std::size_t left = fields.size() - i;
    bool valid = false;
    if (left >= 3) {
        const std::string_view a = fields[i].text;
        const std::string_view b = fields[i + 1].text;
        const std::string_view c = fields[i + 2].text;
        date.count = 3;
        if (const int month = monthFromName(a); month != 0 && isDayField(b)) {
            // "Mar  2 15:13", "Feb 23  2001"
            date.month = month;
            date.day = smallNumber(b);
            if (readTimeOrYear(c, date, valid)) {
                return valid ? DateShape::Valid : DateShape::Invalid;
            }
        } else if (const int dayFirstMonth = monthFromName(b);
                   dayFirstMonth != 0 && isDayField(a)) {
            // AIX: "02 Mar 16:27"
            date.month = dayFirstMonth;
            date.day = smallNumber(a);
            if (readTimeOrYear(c, date, valid)) {
                return valid ? DateShape::Valid : DateShape::Invalid;
            }
        } else if (const std::string_view cjkMonth = withoutMark(a, kMonthMark);
                   cjkMonth.size() < a.size() && isDayField(cjkMonth) &&
                   isDayField(withoutMark(b, kDayMark))) {
            // "3月 2日 15:13", "6月 3日 2003年", "8月 17 20:10"
            date.month = smallNumber(cjkMonth);
            date.day = smallNumber(withoutMark(b, kDayMark));
            if (readTimeOrYear(c, date, valid)) {
                return valid && date.month >= 1 && date.month <= 12 ? DateShape::Valid
                                                                    : DateShape::Invalid;
            }
        }
    }
    if (left >= 2) {
        // ISO style (ls --time-style=long-iso): "2005-03-02 18:06"
        const std::string_view a = fields[i].text;
        if (a.size() == 10 && a[4] == '-' && a[7] == '-' && allDigits(a.substr(0, 4)) &&
            allDigits(a.substr(5, 2)) && allDigits(a.substr(8, 2)) &&
            isClockField(fields[i + 1].text)) {
            date.count = 2;
            date.year = smallNumber(a.substr(0, 4));
            date.month = smallNumber(a.substr(5, 2));
            date.day = smallNumber(a.substr(8, 2));
            valid = parseClock(fields[i + 1].text, date.hour, date.minute) && date.year > 0 &&
                    date.month >= 1 && date.month <= 12;
            return valid ? DateShape::Valid : DateShape::Invalid;
        }
    }
    return DateShape::None;
}

// The size field before a date. Device nodes show "major, minor" (or "major,minor") there
// instead of a size: the line is good but gives no size.
bool readSize(const std::vector<Field>& fields, std::size_t dateIndex, char type,
              std::optional<std::uint64_t>& size) {
    if (dateIndex == 0) {
        return false;
    }
    const std::string_view text = fields[dateIndex - 1].text;
    const bool device = type == 'c' || type == 'b';
    if (allDigits(text)) {
        if (device && dateIndex >= 2) {
            const std::string_view major = fields[dateIndex - 2].text;
            if (major.size() >= 2 && major.back() == ',' &&
                allDigits(major.substr(0, major.size() - 1))) {
                size.reset();
                return true;
            }
        }
        size = parseUnsigned(text);
        return size.has_value();
    }
    const std::size_t comma = text.find(',');
    if (device && comma != std::string_view::npos && allDigits(text.substr(0, comma)) &&
        allDigits(text.substr(comma + 1))) {
        size.reset();
        return true;
    }
    return false;
}

}  // namespace

bool isUnixModeField(std::string_view line) {
    if (line.size() < 10 || !oneOf(line[0], kUnixTypeLetters)) {
        return false;
    }
    // Each of the three triplets: read, write, then execute with its special bits (set-id
    // for user and group, sticky for others; l/L mark mandatory locking on old systems).
    for (std::size_t triplet = 0; triplet < 3; ++triplet) {
        const std::size_t at = 1 + triplet * 3;
        const std::string_view execute = triplet == 2 ? "-xtT" : "-xsSlL";
        if (!oneOf(line[at], "-r") || !oneOf(line[at + 1], "-w") || !oneOf(line[at + 2], execute)) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

std::optional<ListingEntry> parseUnixLine(std::string_view line, const CivilDate& today) {
    using namespace detail;
    if (!isUnixModeField(line)) {
        return std::nullopt;
    }
    // After the mode: an ACL or security-context mark, and on some servers the link count
    // without a space ("drwxr-x---+1464").
    std::size_t pos = 10;
    if (pos < line.size() && oneOf(line[pos], "+.@")) {
        ++pos;
    }
    while (pos < line.size() && isDigit(line[pos])) {
        ++pos;
    }
    if (pos < line.size() && !isBlank(line[pos])) {
        return std::nullopt;
    }
    const std::vector<Field> fields = splitFields(line, pos);
    // A link count that runs into the owner ("1ftp") means the columns cannot be trusted.
    if (!fields.empty() && isDigit(fields[0].text[0]) && !allDigits(fields[0].text)) {
        return std::nullopt;
    }

    const char type = line[0];
    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::optional<std::uint64_t> size;
        if (!readSize(fields, i, type, size)) {
            continue;
        }
        DateFields date;
        const DateShape shape = matchDate(fields, i, date);
        if (shape == DateShape::None) {
            continue;
        }
        if (shape == DateShape::Invalid) {
            return std::nullopt;
        }
        ListingEntry entry;
        entry.size = size;
        entry.type = type == 'd'   ? EntryType::Directory
                     : type == 'l' ? EntryType::Link
                                   : EntryType::File;
        entry.month = date.month;
        entry.day = date.day;
        if (date.year != 0) {
            if (!isValidDate(date.year, date.month, date.day)) {
                return std::nullopt;
            }
            entry.year = date.year;
        } else {
            entry.year = inferYear(date.month, date.day, today);
            if (entry.year == 0) {
                return std::nullopt;
            }
        }
        // A line with a year and no time ("Feb 23  2001") is exact to the day only; ISO dates
        // always carry a time.
        const bool hasTime = date.year == 0 || date.count == 2;
        if (hasTime) {
            entry.hour = date.hour;
            entry.minute = date.minute;
        }
        entry.precision = hasTime ? TimePrecision::Minute : TimePrecision::Day;

        std::size_t nameStart = fields[i + date.count - 1].end;
        if (nameStart < line.size() && isBlank(line[nameStart])) {
            ++nameStart;
        }
        std::string_view name = line.substr(nameStart);
        if (entry.type == EntryType::Link) {
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos && arrow > 0) {
                entry.linkTarget.assign(name.substr(arrow + 4));
                name = name.substr(0, arrow);
            }
        }
        if (name.empty()) {
            return std::nullopt;
        }
        entry.name.assign(name);
        return entry;
    }
    return std::nullopt;
}

}  // namespace ftp
