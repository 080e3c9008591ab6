#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpListing.h"

namespace {

const ftp::CivilDate kToday{2026, 12, 8};

}  // namespace

// MLSD as pyftpdlib 1.5.7 sends it (recorded on loopback): lower-case facts, perm and unique
// facts we do not use, a name with leading spaces and one with trailing spaces.
TEST(MlsdParser, RecordedPyftpdlibListing) {
    const std::string data =
        "modify=20261208062400;perm=r;size=5;type=file;unique=fe00ga722a7; name with "
        "spaces.html\r\n"
        "modify=20261208062400;perm=r;size=1;type=file;unique=fe00ga722a8;   two leading\r\n"
        "modify=20190601123456;perm=el;size=4096;type=dir;unique=fe00ga722a6; sub\r\n"
        "modify=20261208062400;perm=r;size=1;type=file;unique=fe00ga722a9; trailing  \r\n"
        "type=cdir;perm=el;modify=20261208062400; .\r\n"
        "type=pdir;perm=el;modify=20261208062400; ..\r\n";
    const std::vector<ftp::ListingEntry> entries = ftp::parseListing(data, true, kToday);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "name with spaces.html");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(entries[1].name, "  two leading");
    EXPECT_EQ(entries[2].name, "sub");
    EXPECT_EQ(entries[2].type, ftp::EntryType::Directory);
    EXPECT_TRUE(entries[2].timeIsUtc);
    EXPECT_EQ(entries[2].precision, ftp::TimePrecision::Second);
    EXPECT_EQ(std::vector<int>({entries[2].year, entries[2].month, entries[2].day, entries[2].hour,
                                entries[2].minute, entries[2].second}),
              std::vector<int>({2019, 6, 1, 12, 34, 56}));
    EXPECT_EQ(entries[3].name, "trailing  ");
}

TEST(MlsdParser, FactsInAnyCaseAndOrder) {
    struct Case {
        const char* line;
        const char* name;
        ftp::EntryType type;
        std::optional<std::uint64_t> size;
        const char* linkTarget;
    };
    const Case cases[] = {
        {"TYPE=DIR;SIZE=0; Upper", "Upper", ftp::EntryType::Directory, 0u, ""},
        {"size=5000000000;Type=File; big", "big", ftp::EntryType::File, 5000000000u, ""},
        {"type=OS.unix=slink:/etc/target;size=3; ln", "ln", ftp::EntryType::Link, 3u,
         "/etc/target"},
        {"type=OS.unix=symlink; ln2", "ln2", ftp::EntryType::Link, std::nullopt, ""},
        {"type=OS.unix=chr-1/3; dev", "dev", ftp::EntryType::Unknown, std::nullopt, ""},
        {"x.custom=a=b;lang=en;size=7; ok; with;semis", "ok; with;semis", ftp::EntryType::Unknown,
         7u, ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.line);
        const auto entry = ftp::parseMlsdLine(test.line);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->name, test.name);
        EXPECT_EQ(entry->type, test.type);
        EXPECT_EQ(entry->size, test.size);
        EXPECT_EQ(entry->linkTarget, test.linkTarget);
        EXPECT_EQ(entry->precision, ftp::TimePrecision::None);
    }
}

TEST(MlsdParser, ModifyFractionsAndBadValues) {
    auto entry = ftp::parseMlsdLine("modify=20241231235959.5; f");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->precision, ftp::TimePrecision::Millisecond);
    EXPECT_EQ(entry->millisecond, 500);
    entry = ftp::parseMlsdLine("modify=20161231235960; leap");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->second, 59);

    const char* rejected[] = {
        "modify=20240230120000; no such day",
        "modify=20241231240000; hour 24",
        "modify=2024123123595; short",
        "modify=20241231235959.; empty fraction",
        "size=12a; bad size",
        "size=99999999999999999999; over 64 bits",
        "type=dir;sizd=4k; bad folder size",
        "=x; no fact name",
        "type=file;size=1;",
    };
    for (const char* line : rejected) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ftp::parseMlsdLine(line).has_value());
    }
}
