// MLSD lines (RFC 3659): "fact=value;fact=value; name". The facts end at the first space; the
// name is everything after it, spaces included.

#include "transfer/ftp/FtpListing.h"
#include "transfer/ftp/FtpListingDetail.h"

namespace ftp {

namespace detail {

namespace {

char toLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toLower(a[i]) != toLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

int digitsValue(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

void applyType(std::string_view value, MlsdLine& result) {
    ListingEntry& entry = result.entry;
    result.selfOrParent = false;
    entry.linkTarget.clear();
    if (equalsIgnoreCase(value, "file")) {
        entry.type = EntryType::File;
    } else if (equalsIgnoreCase(value, "dir")) {
        entry.type = EntryType::Directory;
    } else if (equalsIgnoreCase(value, "cdir") || equalsIgnoreCase(value, "pdir")) {
        entry.type = EntryType::Directory;
        result.selfOrParent = true;
    } else if (startsWithIgnoreCase(value, "OS.unix=slink") ||
               startsWithIgnoreCase(value, "OS.unix=symlink")) {
        // Some servers append the target: "OS.unix=slink:/path/to/target".
        entry.type = EntryType::Link;
        const std::size_t colon = value.find(':');
        if (colon != std::string_view::npos) {
            entry.linkTarget.assign(value.substr(colon + 1));
        }
    } else {
        // Devices, sockets and types of other systems: nothing we can synchronise with.
        entry.type = EntryType::Unknown;
    }
}

// "YYYYMMDDHHMMSS" with an optional fraction of a second of any length. An empty value is no
// time; a malformed one makes the whole line suspect.
bool applyModify(std::string_view value, ListingEntry& entry) {
    if (value.empty()) {
        return true;
    }
    if (value.size() < 14 || !allDigits(value.substr(0, 14))) {
        return false;
    }
    const int year = digitsValue(value, 0, 4);
    const int month = digitsValue(value, 4, 2);
    const int day = digitsValue(value, 6, 2);
    const int hour = digitsValue(value, 8, 2);
    const int minute = digitsValue(value, 10, 2);
    int second = digitsValue(value, 12, 2);
    if (!isValidDate(year, month, day) || !isValidTime(hour, minute) || second > 60) {
        return false;
    }
    // RFC 3659 allows a leap second; the rest of the program knows no 60th second.
    second = second == 60 ? 59 : second;
    int millisecond = 0;
    TimePrecision precision = TimePrecision::Second;
    if (value.size() > 14) {
        const std::string_view fraction = value.substr(15);
        if (value[14] != '.' || !allDigits(fraction)) {
            return false;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            millisecond = millisecond * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
        }
        precision = TimePrecision::Millisecond;
    }
    entry.year = year;
    entry.month = month;
    entry.day = day;
    entry.hour = hour;
    entry.minute = minute;
    entry.second = second;
    entry.millisecond = millisecond;
    entry.precision = precision;
    entry.timeIsUtc = true;
    return true;
}

// An empty value gives no size; anything but digits makes the whole line suspect.
bool readSize(std::string_view value, std::optional<std::uint64_t>& size) {
    if (value.empty()) {
        size.reset();
        return true;
    }
    size = parseUnsigned(value);
    return size.has_value();
}

}  // namespace

std::optional<MlsdLine> parseMlsd(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space + 1 >= line.size()) {
        return std::nullopt;
    }
    MlsdLine result;
    // A folder's size comes in "sizd" (RFC 3659 7.5.7); "size" is a file's. Facts come in any
    // order, so the choice waits until the type is known.
    std::optional<std::uint64_t> folderSize;
    std::string_view facts = line.substr(0, space);
    while (!facts.empty()) {
        const std::size_t semicolon = facts.find(';');
        if (semicolon == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view fact = facts.substr(0, semicolon);
        facts.remove_prefix(semicolon + 1);
        const std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        const std::string_view name = fact.substr(0, equals);
        const std::string_view value = fact.substr(equals + 1);
        if (equalsIgnoreCase(name, "type")) {
            applyType(value, result);
        } else if (equalsIgnoreCase(name, "size")) {
            if (!readSize(value, result.entry.size)) {
                return std::nullopt;
            }
        } else if (equalsIgnoreCase(name, "sizd")) {
            if (!readSize(value, folderSize)) {
                return std::nullopt;
            }
        } else if (equalsIgnoreCase(name, "modify")) {
            if (!applyModify(value, result.entry)) {
                return std::nullopt;
            }
        }
    }
    if (folderSize && result.entry.type == EntryType::Directory) {
        result.entry.size = folderSize;
    }
    result.entry.name.assign(line.substr(space + 1));
    return result;
}

}  // namespace detail

std::optional<ListingEntry> parseMlsdLine(std::string_view line) {
    std::optional<detail::MlsdLine> parsed = detail::parseMlsd(line);
    if (!parsed) {
        return std::nullopt;
    }
    return std::move(parsed->entry);
}

}  // namespace ftp
