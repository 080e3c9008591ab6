#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpListing.h"

namespace {

const ftp::CivilDate kToday{2026, 12, 8};

std::vector<std::string> namesOf(const std::vector<ftp::ListingEntry>& entries) {
    std::vector<std::string> names;
    for (const ftp::ListingEntry& entry : entries) {
        names.push_back(entry.name);
    }
    return names;
}

}  // namespace

TEST(FtpListing, DetectsTheFormatFromOneLine) {
    EXPECT_EQ(ftp::detectListFormat("-rw-r--r--   1 u g 1 Jan  1  2020 a"),
              ftp::ListingFormat::Unix);
    EXPECT_EQ(ftp::detectListFormat("drwxr-x---+1464 u g 1 Jan  1  2020 a"),
              ftp::ListingFormat::Unix);
    EXPECT_EQ(ftp::detectListFormat("05-26-95  10:57AM    143712 a"), ftp::ListingFormat::Dos);
    for (const char* line : {"total 12", "", "-rw-r--r-", "type=file; a", "05-26 10:57AM 1 a"}) {
        EXPECT_EQ(ftp::detectListFormat(line), ftp::ListingFormat::Unknown) << line;
    }
}

// Whatever comes before the first entry says nothing about the format; once a line has shown it,
// every line is read that way, so a name that looks like a DOS line stays part of a Unix entry
// and a DOS-like line in a Unix listing is dropped rather than misread.
TEST(FtpListing, FormatIsDetectedOnceAndNoiseIsSkipped) {
    const std::string data =
        "total 3\n"
        "\n"
        "drwxr-xr-x 2 u g 4096 Dec  1 10:00 .\n"
        "-rw-r--r-- 1 u g 5 Dec  1 10:00 01-01-24  10:00AM 1 x\n"
        "01-01-24  10:00AM                   1 dos\n"
        "garbage\r\n"
        "-rw-r--r-- 1 u g 5 Dec  1 10:00 last";  // no line end at the end of the data
    EXPECT_EQ(namesOf(ftp::parseListing(data, false, kToday)),
              std::vector<std::string>({"01-01-24  10:00AM 1 x", "last"}));

    const std::string dos =
        "01-01-24  10:00AM       <DIR>          .\r\n"
        "01-01-24  10:00AM       <DIR>          ..\r\n"
        "01-01-24  10:00AM                   1 a\r\n"
        "-rw-r--r-- 1 u g 5 Dec  1 10:00 unix\r\n";
    EXPECT_EQ(namesOf(ftp::parseListing(dos, false, kToday)), std::vector<std::string>({"a"}));
}

TEST(FtpListing, EmptyAndLineEndOnlyListingsGiveNoEntries) {
    for (const char* data : {"", "\r\n", "\n\n", "total 0\r\n"}) {
        EXPECT_TRUE(ftp::parseListing(data, false, kToday).empty()) << data;
        EXPECT_TRUE(ftp::parseListing(data, true, kToday).empty()) << data;
    }
}

// Names keep every byte but the line end, a CR inside a name included.
TEST(FtpListing, NamesKeepTheirBytes) {
    using namespace std::string_literals;
    const std::string data =
        "type=file; a\rb\r\ntype=file; \xff\xfe\x85\x00z\r\ntype=file; ends in CR\r\r\n"s;
    const std::vector<std::string> names = namesOf(ftp::parseListing(data, true, kToday));
    EXPECT_EQ(names, std::vector<std::string>(
                         {"a\rb", std::string("\xff\xfe\x85\x00z", 5), "ends in CR\r"}));
}
