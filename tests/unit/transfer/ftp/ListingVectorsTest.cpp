// Recorded listing lines and replies (tests/data/listing-vectors) against the parsers. Each row
// says what the line must give; the `note` column says how to read the row.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "VectorTable.h"
#include "transfer/ftp/FtpListing.h"
#include "transfer/ftp/FtpProtocol.h"
#include "transfer/ftp/FtpReply.h"

using vectors::column;
using vectors::Row;
using vectors::unescape;

namespace {

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

ftp::EntryType expectedType(const std::string& kind) {
    if (kind == "file") {
        return ftp::EntryType::File;
    }
    if (kind == "dir") {
        return ftp::EntryType::Directory;
    }
    if (kind == "link") {
        return ftp::EntryType::Link;
    }
    return ftp::EntryType::Unknown;
}

ftp::TimePrecision expectedPrecision(const std::string& precision) {
    if (precision == "day") {
        return ftp::TimePrecision::Day;
    }
    if (precision == "minute") {
        return ftp::TimePrecision::Minute;
    }
    if (precision == "second") {
        return ftp::TimePrecision::Second;
    }
    if (precision == "millisecond") {
        return ftp::TimePrecision::Millisecond;
    }
    return ftp::TimePrecision::None;
}

// The year a listing shows by a time instead: this year, or last year when that date would be
// more than one day ahead of today.
int yearByOneDayRule(int month, int day, const ftp::CivilDate& today) {
    namespace chrono = std::chrono;
    const chrono::sys_days now{chrono::year{today.year} / today.month / today.day};
    const chrono::sys_days candidate{chrono::year{today.year} / month / day};
    return candidate - now > chrono::days{1} ? today.year - 1 : today.year;
}

int number(const std::string& text, std::size_t pos, std::size_t count) {
    return std::stoi(text.substr(pos, count));
}

void expectEntryMatchesRow(const ftp::ListingEntry& entry, const Row& row,
                           const ftp::CivilDate& today) {
    EXPECT_EQ(entry.name, unescape(column(row, "name")));
    EXPECT_EQ(entry.type, expectedType(column(row, "kind")));
    EXPECT_EQ(entry.linkTarget, unescape(column(row, "link_target")));

    const std::string& size = column(row, "size");
    if (size.empty()) {
        EXPECT_FALSE(entry.size.has_value());
    } else {
        ASSERT_TRUE(entry.size.has_value());
        EXPECT_EQ(*entry.size, std::stoull(size));
    }

    const std::string& time = column(row, "time");
    EXPECT_EQ(entry.precision, expectedPrecision(column(row, "precision")));
    if (time.empty()) {
        return;
    }
    ASSERT_GE(time.size(), 10u);
    const int month = number(time, 5, 2);
    const int day = number(time, 8, 2);
    EXPECT_EQ(entry.month, month);
    EXPECT_EQ(entry.day, day);
    // Where the line has no year, the recorded year came from the source's own clock and rule
    // (the note says so); ours comes from `today`.
    if (time.compare(0, 4, "????") == 0 || contains(column(row, "note"), "year not in the line")) {
        EXPECT_EQ(entry.year, yearByOneDayRule(month, day, today));
    } else {
        EXPECT_EQ(entry.year, number(time, 0, 4));
    }
    EXPECT_EQ(entry.hour, time.size() >= 16 ? number(time, 11, 2) : 0);
    EXPECT_EQ(entry.minute, time.size() >= 16 ? number(time, 14, 2) : 0);
    EXPECT_EQ(entry.second, time.size() >= 19 ? number(time, 17, 2) : 0);
    EXPECT_EQ(entry.millisecond, time.size() >= 23 ? number(time, 20, 3) : 0);
}

std::string traceOf(const Row& row) {
    return column(row, "source") + "\n" + column(row, "line");
}

// The listed folder itself, its parent, and names that are paths are not entries of the folder.
bool isEntryOfListedFolder(const Row& row) {
    const std::string& note = column(row, "note");
    return !contains(note, "[cdir]") && !contains(note, "[pdir]") && !contains(note, "[path]");
}

// Dates chosen so that rows fall on both sides of the one-day rule: 2 March is one day ahead
// of 1 March 2024 (this year), 3 March is not; 4 January is one day ahead of 3 January 2025.
const ftp::CivilDate kTodays[] = {{2024, 3, 1}, {2025, 1, 3}};

}  // namespace

TEST(ListingVectors, EveryTableIsReadInFull) {
    EXPECT_EQ(vectors::readTable("unix.tsv").size(), 59u);
    EXPECT_EQ(vectors::readTable("dos.tsv").size(), 34u);
    EXPECT_EQ(vectors::readTable("mlsd.tsv").size(), 13u);
    EXPECT_EQ(vectors::readTable("invalid.tsv").size(), 22u);
    EXPECT_EQ(vectors::readTable("replies.tsv").size(), 4u);
    EXPECT_EQ(vectors::readTable("own-mlsd.tsv").size(), 8u);
    EXPECT_EQ(unescape("a\\\\b\\tc\\r\\n\\x85\\xe4"), std::string("a\\b\tc\r\n\x85\xe4"));
}

TEST(ListingVectors, UnixLinesGiveTheirRecordedEntries) {
    for (const ftp::CivilDate& today : kTodays) {
        for (const Row& row : vectors::readTable("unix.tsv")) {
            SCOPED_TRACE(traceOf(row));
            const std::string line = unescape(column(row, "line"));
            EXPECT_EQ(ftp::detectListFormat(line), ftp::ListingFormat::Unix);
            const std::optional<ftp::ListingEntry> entry = ftp::parseUnixLine(line, today);
            ASSERT_TRUE(entry.has_value());
            expectEntryMatchesRow(*entry, row, today);
        }
    }
}

TEST(ListingVectors, DosLinesGiveTheirRecordedEntries) {
    for (const Row& row : vectors::readTable("dos.tsv")) {
        SCOPED_TRACE(traceOf(row));
        const std::string line = unescape(column(row, "line"));
        EXPECT_EQ(ftp::detectListFormat(line), ftp::ListingFormat::Dos);
        const std::optional<ftp::ListingEntry> entry = ftp::parseDosLine(line);
        ASSERT_TRUE(entry.has_value());
        expectEntryMatchesRow(*entry, row, kTodays[0]);
        EXPECT_FALSE(entry->timeIsUtc);
    }
}

TEST(ListingVectors, MlsdLinesGiveTheirRecordedEntries) {
    for (const char* file : {"mlsd.tsv", "own-mlsd.tsv"}) {
        for (const Row& row : vectors::readTable(file)) {
            SCOPED_TRACE(traceOf(row));
            const std::string line = unescape(column(row, "line"));
            const std::optional<ftp::ListingEntry> entry = ftp::parseMlsdLine(line);
            ASSERT_TRUE(entry.has_value());
            expectEntryMatchesRow(*entry, row, kTodays[0]);
            EXPECT_EQ(entry->timeIsUtc, !column(row, "time").empty());
            const std::vector<ftp::ListingEntry> listed = ftp::parseListing(line, true, kTodays[0]);
            EXPECT_EQ(listed.size(), isEntryOfListedFolder(row) ? 1u : 0u);
            // A listing whose only line is not an entry is an empty folder, not an unreadable one.
            EXPECT_EQ(ftp::isEmptyListing(line + "\r\n", true), !isEntryOfListedFolder(row));
        }
    }
}

// Whole listings as a server sends them: the format is detected once, lines end in CR LF, and
// the Shift_JIS names hold 0x85 bytes that must not end a line.
TEST(ListingVectors, WholeListingsKeepEveryEntryInOrder) {
    struct Case {
        const char* file;
        bool mlsd;
        const char* preamble;
    };
    for (const Case& test : {Case{"unix.tsv", false, "total 4711\r\n"}, Case{"dos.tsv", false, ""},
                             Case{"mlsd.tsv", true, ""}, Case{"own-mlsd.tsv", true, ""}}) {
        SCOPED_TRACE(test.file);
        std::string data = test.preamble;
        std::vector<std::string> names;
        for (const Row& row : vectors::readTable(test.file)) {
            data += unescape(column(row, "line")) + "\r\n";
            if (isEntryOfListedFolder(row)) {
                names.push_back(unescape(column(row, "name")));
            }
        }
        const std::vector<ftp::ListingEntry> entries =
            ftp::parseListing(data, test.mlsd, kTodays[0]);
        ASSERT_EQ(entries.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(entries[i].name, names[i]);
        }
    }
}

TEST(ListingVectors, InvalidLinesGiveNoTimedEntry) {
    for (const Row& row : vectors::readTable("invalid.tsv")) {
        SCOPED_TRACE(traceOf(row));
        const std::string line = unescape(column(row, "line"));
        const std::string& note = column(row, "note");
        const bool mlsd = contains(note, "(MLSD parser)");
        const auto untimed = [](const std::optional<ftp::ListingEntry>& entry) {
            return !entry || entry->precision == ftp::TimePrecision::None;
        };
        if (mlsd) {
            EXPECT_TRUE(untimed(ftp::parseMlsdLine(line)));
        } else {
            EXPECT_TRUE(untimed(ftp::parseUnixLine(line, kTodays[0])));
            EXPECT_TRUE(untimed(ftp::parseDosLine(line)));
        }
        const std::vector<ftp::ListingEntry> listed = ftp::parseListing(line, mlsd, kTodays[0]);
        if (note.compare(0, 5, "skip:") == 0) {
            EXPECT_TRUE(listed.empty());
        }
        for (const ftp::ListingEntry& entry : listed) {
            EXPECT_EQ(entry.precision, ftp::TimePrecision::None);
        }
    }
}

TEST(ListingVectors, RepliesSplitTheSameWholeOrByteByByte) {
    for (const Row& row : vectors::readTable("replies.tsv")) {
        SCOPED_TRACE(column(row, "source"));
        const std::string raw = unescape(column(row, "raw"));
        const int wanted = std::stoi(column(row, "reply_no"));
        for (const bool byteByByte : {false, true}) {
            SCOPED_TRACE(byteByByte ? "byte by byte" : "whole");
            ftp::ReplySplitter splitter;
            if (byteByByte) {
                for (char c : raw) {
                    splitter.feed(std::string_view(&c, 1));
                }
            } else {
                splitter.feed(raw);
            }
            std::optional<ftp::Reply> reply;
            for (int i = 0; i < wanted; ++i) {
                reply = splitter.next();
                ASSERT_TRUE(reply.has_value());
            }
            EXPECT_EQ(reply->code, std::stoi(column(row, "code")));
            EXPECT_EQ(reply->text, unescape(column(row, "text")));
            EXPECT_EQ(splitter.unfinished(), unescape(column(row, "rest")));
            EXPECT_FALSE(splitter.broken());
        }
    }
}
