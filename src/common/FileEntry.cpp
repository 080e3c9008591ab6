#include "common/FileEntry.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

// Division and remainder rounding towards minus infinity, so that a negative amount borrows
// whole days instead of producing negative hours.
long long floorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

long long floorMod(long long a, long long b) {
    return a - floorDiv(a, b) * b;
}

constexpr int kFirstYear = 1980;
constexpr int kLastSettableYear = 2080;
// Seven bits of years since 1980.
constexpr int kLastRepresentableYear = 1980 + 127;

std::uint16_t pack(int day, int month, int year) {
    return static_cast<std::uint16_t>(((year - kFirstYear) << 9) | (month << 5) | day);
}

unsigned char upperAscii(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool isPathSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

bool EntryDate::set(int day, int month, int year) {
    if (day == 0 && month == 0 && year == 0) {
        value_ = 0;
        return true;
    }
    if (day != 0 && (month == 0 || year == 0)) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        if (month == 0) {
            month = local.tm_mon + 1;
        }
        if (year == 0) {
            year = local.tm_year + 1900;
        }
    }
    if (year < 0) {
        return false;
    }
    if (year < 50) {
        year += 2000;
    } else if (year < 100) {
        year += 1900;
    }
    if (year < kFirstYear || year > kLastSettableYear || month < 1 || month > 12 || day < 1) {
        return false;
    }
    using namespace std::chrono;
    const year_month_day_last monthEnd =
        std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} / last;
    const unsigned lastDay = static_cast<unsigned>(monthEnd.day());
    if (static_cast<unsigned>(day) > lastDay) {
        return false;
    }
    value_ = pack(day, month, year);
    return true;
}

void EntryDate::addDays(int days) {
    if (value_ == 0 || days == 0) {
        return;
    }
    using namespace std::chrono;
    const year_month_day start{std::chrono::year{year()},
                               std::chrono::month{static_cast<unsigned>(month())},
                               std::chrono::day{static_cast<unsigned>(day())}};
    const sys_days first{std::chrono::year{kFirstYear} / January / 1};
    const sys_days limit{std::chrono::year{kLastRepresentableYear} / December / 31};
    const sys_days moved = std::clamp(sys_days{start} + std::chrono::days{days}, first, limit);
    const year_month_day result{moved};
    value_ = pack(static_cast<int>(static_cast<unsigned>(result.day())),
                  static_cast<int>(static_cast<unsigned>(result.month())),
                  static_cast<int>(result.year()));
}

bool EntryTime::set(int hours, int minutes, int seconds) {
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) {
        return false;
    }
    assign(hours, minutes, seconds);
    return true;
}

void EntryTime::assign(int hours, int minutes, int seconds) {
    value_ = (static_cast<std::uint32_t>(hours) << 12) |
             (static_cast<std::uint32_t>(minutes) << 6) | static_cast<std::uint32_t>(seconds);
}

int EntryTime::addHours(int hours) {
    const long long total = static_cast<long long>(this->hours()) + hours;
    assign(static_cast<int>(floorMod(total, 24)), minutes(), seconds());
    return static_cast<int>(floorDiv(total, 24));
}

int EntryTime::addMinutes(int minutes) {
    const long long total = static_cast<long long>(this->minutes()) + minutes;
    if (total >= 0 && total < 60) {
        assign(hours(), static_cast<int>(total), seconds());
        return 0;
    }
    const long long hourTotal = hours() + floorDiv(total, 60);
    assign(static_cast<int>(floorMod(hourTotal, 24)), static_cast<int>(floorMod(total, 60)),
           seconds());
    return static_cast<int>(floorDiv(hourTotal, 24));
}

void EntryDateTime::adjust(int hours, int minutes) {
    date.addDays(time.addHours(hours));
    date.addDays(time.addMinutes(minutes));
}

FileEntryPtr FileEntry::fromPath(std::string_view text) {
    auto entry = std::make_shared<FileEntry>();
    if (!text.empty()) {
        const char last = text.back();
        if (last == '/' || last == '\\' || last == ':') {
            entry->kind = EntryKind::Folder;
        }
        entry->remote = last == '/';
    }
    // A text made only of separators keeps its first one: "/" is the FTP root.
    while (text.size() > 1 && isPathSeparator(text.back())) {
        text.remove_suffix(1);
    }
    const auto split = text.find_last_of("/\\");
    if (split == std::string_view::npos) {
        entry->name = std::string(text);
    } else {
        entry->folder = std::string(text.substr(0, split + 1));
        entry->name = std::string(text.substr(split + 1));
    }
    return entry;
}

std::string FileEntry::childFolderPath() const {
    std::string path = fullPath();
    if (isFolder() && path != "/") {
        path.push_back(separator());
    }
    return path;
}

void FileEntry::normaliseSeparators() {
    const char own = separator();
    std::replace_if(
        folder.begin(), folder.end(), [](char c) { return c == '/' || c == kLocalSeparator; }, own);
}

FileEntryPtr FileEntry::copyForOtherSide(const std::string& targetFolder,
                                         bool targetIsRemote) const {
    auto copy = std::make_shared<FileEntry>(*this);
    copy->folder = targetFolder;
    copy->remote = targetIsRemote;
    copy->normaliseSeparators();
    return copy;
}

int comparePathsIgnoringCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char ca = upperAscii(a[i]);
        const unsigned char cb = upperAscii(b[i]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int compareEntryPaths(const FileEntry& a, const FileEntry& b) {
    // Sets compare entries constantly; walk folder and name in place instead of building the
    // two full paths.
    const std::size_t lengthA = a.folder.size() + a.name.size();
    const std::size_t lengthB = b.folder.size() + b.name.size();
    auto at = [](const FileEntry& e, std::size_t i) {
        return i < e.folder.size() ? e.folder[i] : e.name[i - e.folder.size()];
    };
    const std::size_t common = std::min(lengthA, lengthB);
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char ca = upperAscii(at(a, i));
        const unsigned char cb = upperAscii(at(b, i));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (lengthA == lengthB) {
        return 0;
    }
    return lengthA < lengthB ? -1 : 1;
}
