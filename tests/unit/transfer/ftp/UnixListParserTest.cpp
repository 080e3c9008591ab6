#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpListing.h"

namespace {

const ftp::CivilDate kToday{2026, 12, 8};

}  // namespace

// LIST -a as vsftpd 3.0.3 sends it (recorded on loopback): numeric owner and group, padded
// columns, zero-padded days, names with leading and trailing spaces, UTF-8 bytes, a symlink.
TEST(UnixListParser, RecordedVsftpdListing) {
    const std::string data =
        "-rw-r--r--    1 0        0               1 Dec 08 06:24   two leading\r\n"
        "drwxr-xr-x    3 0        0            4096 Dec 08 06:24 .\r\n"
        "drwxr-xr-x    3 0        0            4096 Dec 08 06:24 ..\r\n"
        "-rw-r--r--    1 0        0               3 Dec 08 06:24 caf\xc3\xa9\r\n"
        "lrwxrwxrwx    1 0        0              21 Dec 08 06:24 link -> name with spaces.html\r\n"
        "-rw-r--r--    1 0        0            1234 Dec 08 10:15 name with spaces.html\r\n"
        "drwxr-xr-x    2 0        0            4096 Jun 01  2019 sub\r\n"
        "-rw-r--r--    1 0        0               1 Dec 08 06:24 trailing  \r\n";
    const std::vector<ftp::ListingEntry> entries = ftp::parseListing(data, false, kToday);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].name, "  two leading");
    EXPECT_EQ(entries[1].name, "caf\xc3\xa9");
    EXPECT_EQ(entries[2].name, "link");
    EXPECT_EQ(entries[2].type, ftp::EntryType::Link);
    EXPECT_EQ(entries[2].linkTarget, "name with spaces.html");
    EXPECT_EQ(entries[3].name, "name with spaces.html");
    EXPECT_EQ(entries[3].size, 1234u);
    EXPECT_EQ(entries[3].precision, ftp::TimePrecision::Minute);
    EXPECT_EQ(std::vector<int>({entries[3].year, entries[3].month, entries[3].day, entries[3].hour,
                                entries[3].minute}),
              std::vector<int>({2026, 12, 8, 10, 15}));
    EXPECT_EQ(entries[4].type, ftp::EntryType::Directory);
    EXPECT_EQ(entries[4].precision, ftp::TimePrecision::Day);
    EXPECT_EQ(std::vector<int>({entries[4].year, entries[4].month, entries[4].day}),
              std::vector<int>({2019, 6, 1}));
    EXPECT_EQ(entries[5].name, "trailing  ");
}

// A date shown with a time is recent: never more than a day ahead of today, which may put it in
// last year or, on 31 December, in next year.
TEST(UnixListParser, YearOfDatesWithATimeAroundTheNewYear) {
    struct Case {
        ftp::CivilDate today;
        const char* date;
        int year;
    };
    const Case cases[] = {
        {{2025, 1, 1}, "Dec 31 23:59", 2024},   {{2025, 1, 1}, "Jan  1 00:01", 2025},
        {{2025, 1, 1}, "Jan  2 08:00", 2025},   {{2025, 1, 1}, "Jan  3 08:00", 2024},
        {{2024, 12, 31}, "Jan  1 00:10", 2025}, {{2024, 12, 31}, "Jan  2 00:10", 2024},
        {{2024, 12, 31}, "Dec 31 23:00", 2024}, {{2025, 3, 1}, "Feb 29 12:00", 2024},
        {{2024, 2, 28}, "Feb 29 12:00", 2024},  {{2023, 3, 1}, "Feb 29 12:00", 2020},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.date);
        const std::string line =
            std::string("-rw-r--r--   1 user  group   10 ") + test.date + " file";
        const std::optional<ftp::ListingEntry> entry = ftp::parseUnixLine(line, test.today);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->year, test.year);
    }
}

TEST(UnixListParser, ImpossibleDatesAndBrokenColumnsAreRejected) {
    const char* lines[] = {
        "-rw-r--r--   1 user  group   10 Mar  2 24:00 file",
        "-rw-r--r--   1 user  group   10 Mar  2 23:60 file",
        "-rw-r--r--   1 user  group   10 Feb 30  2001 file",
        "-rw-r--r--   1 user  group   10 Apr 31 10:00 file",
        "-rw-r--r--   1 user  group   10 Mar  0 10:00 file",
        "-rw-r--r--   1 user  group   10 Feb 29  2023 file",
        "-rw-r--r--   1 user  group   10 Mar  2 10:00",       // no name
        "-rw-r--r--   1 user  group   10 Mar  2 10:00 ",      // nothing after the separator
        "-rw-r--r--   1 user  group   10 Mar  2  0000 file",  // year 0
        "-rw-r--r--x  1 user  group   10 Mar  2 10:00 file",  // mode runs into junk
        "-rw-r--r--   1 user  group   99999999999999999999 Mar  2 10:00 file",  // > 64 bits
        "-rw-r--r--   1 user  group   10 Mar  2 10:00:00 file",
        "-rw-r--r--",
        "",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ftp::parseUnixLine(line, kToday).has_value());
    }
}

TEST(UnixListParser, DevicesSizesAndTypes) {
    // "major, minor" instead of a size.
    auto entry = ftp::parseUnixLine("crw-rw-rw-   1 root  root   1,   3 Jan  1  2020 null", kToday);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->name, "null");
    EXPECT_EQ(entry->type, ftp::EntryType::File);
    EXPECT_FALSE(entry->size.has_value());

    // Sizes beyond 32 bits survive.
    entry = ftp::parseUnixLine("-rw-r--r-- 1 u g 18446744073709551615 Jan  1  2020 huge", kToday);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->size, 18446744073709551615u);

    // FIFOs and sockets are files to us; a link without a target keeps its name whole.
    entry = ftp::parseUnixLine("prw-r--r-- 1 u g 0 Jan  1  2020 fifo", kToday);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->type, ftp::EntryType::File);
    entry = ftp::parseUnixLine("lrwxrwxrwx 1 u g 0 Jan  1  2020 a->b", kToday);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->name, "a->b");
    EXPECT_TRUE(entry->linkTarget.empty());
}

// Every prefix of a good line is parsed without reading past its end (AddressSanitizer watches
// the copies), and an entry appears only once the name has begun.
TEST(UnixListParser, TruncatedLinesNeverReadPastTheirEnd) {
    const std::string line = "lrwxrwxrwx    1 0        0              21 Dec 08 06:24 l -> t";
    const std::size_t nameStart = line.find(" l ") + 1;
    for (std::size_t length = 0; length <= line.size(); ++length) {
        const std::string prefix = line.substr(0, length);
        const auto entry = ftp::parseUnixLine(prefix, kToday);
        EXPECT_EQ(entry.has_value(), length > nameStart) << length;
    }
}
