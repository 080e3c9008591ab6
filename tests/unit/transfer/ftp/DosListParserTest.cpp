#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpListing.h"

TEST(DosListParser, SizesYearsAndClocks) {
    struct Case {
        const char* line;
        const char* name;
        std::optional<std::uint64_t> size;
        int year, month, day, hour, minute;
    };
    const Case cases[] = {
        {"12-31-2024  11:59PM              1,234 report.pdf", "report.pdf", 1234u, 2024, 12, 31, 23,
         59},
        {"02-29-2024  12:00AM      5,000,000,000 big.iso", "big.iso", 5000000000u, 2024, 2, 29, 0,
         0},
        {"01-02-69  12:30PM                    0 empty", "empty", 0u, 2069, 1, 2, 12, 30},
        {"01-02-70  00:05                      7 old", "old", 7u, 1970, 1, 2, 0, 5},
        {"06/15/2023  09:41 AM       <DIR>          Photos 2023", "Photos 2023", std::nullopt, 2023,
         6, 15, 9, 41},
        {"06-15-23  09:41pm       <dir>          lower", "lower", std::nullopt, 2023, 6, 15, 21,
         41},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.line);
        const auto entry = ftp::parseDosLine(test.line);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->name, test.name);
        EXPECT_EQ(entry->size, test.size);
        EXPECT_EQ(entry->type, test.size ? ftp::EntryType::File : ftp::EntryType::Directory);
        EXPECT_EQ(
            std::vector<int>({entry->year, entry->month, entry->day, entry->hour, entry->minute}),
            std::vector<int>({test.year, test.month, test.day, test.hour, test.minute}));
        EXPECT_EQ(entry->precision, ftp::TimePrecision::Minute);
    }
}

TEST(DosListParser, MalformedLinesAreRejected) {
    const char* lines[] = {
        "02-29-2023  10:00AM                 1 not a leap year",
        "13-01-24  10:00AM                   1 month 13",
        "01-01-24  13:00PM                   1 hour 13 with PM",
        "01-01-24  00:30AM                   1 hour 0 with AM",
        "01-01-24  24:00                     1 hour 24",
        "01-01-24  10:00AM                1,23 bad grouping",
        "01-01-24  10:00AM               1234, trailing comma",
        "01-01-24  10:00AM                ,123 leading comma",
        "01-01-24  10:00AM                  12",
        "01-01-24  10:00AM       <DIR>         ",
        "01-01-245  10:00AM                  1 five-digit year",
        "01-01-24",
        "01-01-2",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ftp::parseDosLine(line).has_value());
    }
}
