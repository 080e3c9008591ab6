#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <vector>

#include "common/FileEntry.h"

namespace {

EntryDate date(int day, int month, int year) {
    EntryDate d;
    EXPECT_TRUE(d.set(day, month, year)) << day << "." << month << "." << year;
    return d;
}

EntryTime time(int hours, int minutes, int seconds) {
    EntryTime t;
    EXPECT_TRUE(t.set(hours, minutes, seconds));
    return t;
}

FileEntryPtr entry(std::string folder, std::string name, EntryKind kind = EntryKind::File) {
    auto e = std::make_shared<FileEntry>();
    e->folder = std::move(folder);
    e->name = std::move(name);
    e->kind = kind;
    return e;
}

}  // namespace

TEST(EntryDateTest, SetAcceptsOnlyRealDaysWithinRange) {
    struct Case {
        int day, month, year;
        bool accepted;
        int fullYear;
    };
    const Case cases[] = {
        {29, 2, 2004, true, 2004},  {31, 2, 2004, false, 0},    {29, 2, 2003, false, 0},
        {29, 2, 2000, true, 2000},  {29, 2, 2100, false, 0},    {30, 4, 2010, true, 2010},
        {31, 4, 2010, false, 0},    {31, 12, 1999, true, 1999}, {1, 13, 2010, false, 0},
        {0, 5, 2010, false, 0},     {1, 1, 1980, true, 1980},   {31, 12, 1979, false, 0},
        {31, 12, 2080, true, 2080}, {1, 1, 2081, false, 0},     {5, 6, 49, true, 2049},
        {5, 6, 50, false, 0},       {5, 6, 99, true, 1999},     {5, 6, 80, true, 1980},
        {5, 6, -1, false, 0},
    };
    for (const Case& c : cases) {
        EntryDate d(0x1234);
        EXPECT_EQ(d.set(c.day, c.month, c.year), c.accepted)
            << c.day << "." << c.month << "." << c.year;
        if (c.accepted) {
            EXPECT_EQ(d.day(), c.day);
            EXPECT_EQ(d.month(), c.month);
            EXPECT_EQ(d.year(), c.fullYear);
        } else {
            EXPECT_EQ(d.packed(), 0x1234) << "a refused date must leave the value unchanged";
        }
    }
}

TEST(EntryDateTest, ZerosClearAndMissingMonthOrYearTakeToday) {
    EntryDate d = date(3, 3, 2003);
    EXPECT_TRUE(d.set(0, 0, 0));
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(d.year(), 0);

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_TRUE(d.set(1, 0, 0));
    EXPECT_EQ(d.day(), 1);
    EXPECT_EQ(d.month(), local.tm_mon + 1);
    EXPECT_EQ(d.year(), local.tm_year + 1900);
}

TEST(EntryDateTest, AddDaysCarriesThroughMonthsAndYears) {
    struct Case {
        EntryDate start;
        int days;
        EntryDate expected;
    };
    const Case cases[] = {
        {date(28, 2, 2004), 1, date(29, 2, 2004)},     {date(28, 2, 2003), 1, date(1, 3, 2003)},
        {date(31, 12, 2003), 1, date(1, 1, 2004)},     {date(1, 1, 2004), -1, date(31, 12, 2003)},
        {date(1, 3, 2004), -1, date(29, 2, 2004)},     {date(15, 1, 2001), 365, date(15, 1, 2002)},
        {date(15, 1, 2001), -400, date(12, 12, 1999)}, {date(31, 1, 2010), 30, date(2, 3, 2010)},
    };
    for (const Case& c : cases) {
        EntryDate d = c.start;
        d.addDays(c.days);
        EXPECT_EQ(d, c.expected) << c.start.day() << "." << c.start.month() << "." << c.start.year()
                                 << " + " << c.days;
    }

    EntryDate none;
    none.addDays(5);
    EXPECT_TRUE(none.isNull());

    // Beyond what the packed value can hold, the date stops at its ends instead of wrapping.
    EntryDate early = date(2, 1, 1980);
    early.addDays(-10);
    EXPECT_EQ(early, date(1, 1, 1980));
}

TEST(EntryDateTest, ComparesChronologically) {
    EXPECT_LT(date(31, 12, 2003), date(1, 1, 2004));
    EXPECT_LT(date(30, 1, 2004), date(1, 2, 2004));
    EXPECT_LT(EntryDate(), date(1, 1, 1980));
    EXPECT_EQ(date(5, 5, 2005), date(5, 5, 2005));
}

TEST(EntryTimeTest, SetRefusesOutOfRangeParts) {
    EntryTime t = time(23, 59, 59);
    EXPECT_EQ(t.hours(), 23);
    EXPECT_EQ(t.minutes(), 59);
    EXPECT_EQ(t.seconds(), 59);
    EXPECT_FALSE(t.set(24, 0, 0));
    EXPECT_FALSE(t.set(0, 60, 0));
    EXPECT_FALSE(t.set(0, 0, 60));
    EXPECT_FALSE(t.set(-1, 0, 0));
    EXPECT_EQ(t, time(23, 59, 59));
}

TEST(EntryTimeTest, AddHoursAndMinutesReturnCarriedDays) {
    struct Case {
        EntryTime start;
        int hours;
        int minutes;
        EntryTime expected;
        int carriedDays;
    };
    const Case cases[] = {
        {time(10, 15, 7), 3, 0, time(13, 15, 7), 0},  {time(23, 30, 0), 1, 0, time(0, 30, 0), 1},
        {time(22, 0, 0), 50, 0, time(0, 0, 0), 3},    {time(1, 0, 0), -2, 0, time(23, 0, 0), -1},
        {time(1, 0, 0), -49, 0, time(0, 0, 0), -2},   {time(10, 15, 7), 0, 30, time(10, 45, 7), 0},
        {time(10, 45, 0), 0, 30, time(11, 15, 0), 0}, {time(23, 50, 0), 0, 15, time(0, 5, 0), 1},
        {time(23, 50, 0), 0, 1450, time(0, 0, 0), 2}, {time(0, 10, 0), 0, -15, time(23, 55, 0), -1},
        {time(5, 10, 0), 0, -70, time(4, 0, 0), 0},
    };
    for (const Case& c : cases) {
        EntryTime t = c.start;
        const int carried = c.hours != 0 ? t.addHours(c.hours) : t.addMinutes(c.minutes);
        EXPECT_EQ(t, c.expected) << c.start.hours() << ":" << c.start.minutes() << " + " << c.hours
                                 << "h " << c.minutes << "m";
        EXPECT_EQ(carried, c.carriedDays);
    }
}

TEST(EntryTimeTest, ComparesHoursThenMinutesThenSeconds) {
    EXPECT_LT(time(9, 59, 59), time(10, 0, 0));
    EXPECT_LT(time(10, 1, 0), time(10, 1, 1));
    EXPECT_GT(time(11, 0, 0), time(10, 59, 59));
}

TEST(EntryDateTimeTest, AdjustCarriesIntoTheDate) {
    EntryDateTime newYear{date(31, 12, 2003), time(23, 30, 0)};
    newYear.adjust(1, 0);
    EXPECT_EQ(newYear.date, date(1, 1, 2004));
    EXPECT_EQ(newYear.time, time(0, 30, 0));

    // A server ahead of local time: both parts negative, borrowing across the year end.
    EntryDateTime early{date(1, 1, 2004), time(0, 20, 0)};
    early.adjust(-5, -30);
    EXPECT_EQ(early.date, date(31, 12, 2003));
    EXPECT_EQ(early.time, time(18, 50, 0));

    // Hours forward, minutes back across midnight in the other direction.
    EntryDateTime mixed{date(28, 2, 2004), time(23, 10, 0)};
    mixed.adjust(1, -20);
    EXPECT_EQ(mixed.date, date(28, 2, 2004));
    EXPECT_EQ(mixed.time, time(23, 50, 0));

    EXPECT_LT((EntryDateTime{date(1, 1, 2004), time(23, 0, 0)}),
              (EntryDateTime{date(2, 1, 2004), time(1, 0, 0)}));
    EXPECT_LT((EntryDateTime{date(1, 1, 2004), time(1, 0, 0)}),
              (EntryDateTime{date(1, 1, 2004), time(1, 0, 1)}));
}

TEST(FileEntryTest, FromPathSplitsAndClassifies) {
    struct Case {
        const char* text;
        const char* folder;
        const char* name;
        EntryKind kind;
        bool remote;
    };
    const Case cases[] = {
        {"/home/ann/site/old/", "/home/ann/site/", "old", EntryKind::Folder, true},
        {"/home/ann/site/a.txt", "/home/ann/site/", "a.txt", EntryKind::File, false},
        {"C:\\site\\old\\", "C:\\site\\", "old", EntryKind::Folder, false},
        {"C:\\site\\Old", "C:\\site\\", "Old", EntryKind::File, false},
        {"C:", "", "C:", EntryKind::Folder, false},
        {"\\", "\\", "", EntryKind::Folder, false},
        {"/", "/", "", EntryKind::Folder, true},
        {"*.tmp", "", "*.tmp", EntryKind::File, false},
        {"/www//", "/", "www", EntryKind::Folder, true},
        {"", "", "", EntryKind::File, false},
    };
    for (const Case& c : cases) {
        const FileEntryPtr e = FileEntry::fromPath(c.text);
        EXPECT_EQ(e->folder, c.folder) << c.text;
        EXPECT_EQ(e->name, c.name) << c.text;
        EXPECT_EQ(e->kind, c.kind) << c.text;
        EXPECT_EQ(e->remote, c.remote) << c.text;
    }
}

TEST(FileEntryTest, ChildFolderPathAddsOneSeparator) {
    EXPECT_EQ(entry("/www/", "img", EntryKind::Folder)->childFolderPath(), "/www/img/");
    EXPECT_EQ(entry("/www/", "a.html")->childFolderPath(), "/www/a.html");
    const FileEntryPtr root = FileEntry::fromPath("/");
    EXPECT_EQ(root->childFolderPath(), "/");
    root->remote = false;
    EXPECT_EQ(root->childFolderPath(), "/");
    EXPECT_EQ(root->fullPath(), "/");
}

TEST(FileEntryTest, CopyForOtherSideIsANewSharedRecord) {
    FileEntryPtr local = entry("/home/ann/site/", "back\\slash.txt");
    local->size = 5'000'000'000ULL;
    local->date = date(7, 8, 2009);
    local->time = time(6, 5, 4);
    local->action = EntryAction::Add;

    const FileEntryPtr remote = local->copyForOtherSide("/public_html/", true);
    EXPECT_NE(remote.get(), local.get());
    EXPECT_EQ(remote->fullPath(), "/public_html/back\\slash.txt");
    EXPECT_TRUE(remote->remote);
    EXPECT_EQ(remote->size, 5'000'000'000ULL);
    EXPECT_EQ(remote->dateTime(), local->dateTime());
    EXPECT_EQ(remote->action, EntryAction::Add);
    EXPECT_EQ(local->folder, "/home/ann/site/");

    // A backslash is part of a Linux name, even in a folder name, and survives normalising.
    const FileEntryPtr back = remote->copyForOtherSide("/home/ann/odd\\folder/", false);
    EXPECT_EQ(back->folder, "/home/ann/odd\\folder/");
    EXPECT_FALSE(back->remote);
}

TEST(EntryPathOrderTest, IgnoresCaseAndPutsPrefixFirst) {
    EntryPathOrder less;
    const FileEntryPtr lower = entry("/www/", "index.html");
    const FileEntryPtr upper = entry("/WWW/", "Index.HTML", EntryKind::Folder);
    EXPECT_FALSE(less(lower, upper));
    EXPECT_FALSE(less(upper, lower));

    // The same full path split differently is the same entry.
    EXPECT_EQ(compareEntryPaths(*entry("/a/", "bc"), *entry("/a/b", "c")), 0);

    EXPECT_TRUE(less(entry("/www/", "a"), entry("/www/", "a.txt")));
    EXPECT_FALSE(less(entry("/www/", "a.txt"), entry("/www/", "a")));
    // Upper-casing puts '_' (0x5F) after letters, as it must to keep listings in one order.
    EXPECT_TRUE(less(entry("/", "Z"), entry("/", "_")));
    EXPECT_TRUE(less(entry("/", "z"), entry("/", "_")));
    // Bytes above 0x7F compare unsigned and are not case-folded.
    EXPECT_TRUE(less(entry("/", "z"), entry("/", "\xc3\xa9")));

    std::set<FileEntryPtr, EntryPathOrder> set;
    EXPECT_TRUE(set.insert(lower).second);
    EXPECT_FALSE(set.insert(upper).second);
    EXPECT_EQ(set.count(entry("/Www/", "INDEX.html")), 1u);
}

TEST(EntryPathOrderTest, NameOrderSortsAListing) {
    std::vector<FileEntryPtr> listing = {entry("/b/", "beta"), entry("/a/", "Alpha"),
                                         entry("/c/", "alp"), entry("/", "GAMMA")};
    std::sort(listing.begin(), listing.end(), EntryNameOrder{});
    std::vector<std::string> names;
    for (const auto& e : listing) {
        names.push_back(e->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alp", "Alpha", "beta", "GAMMA"}));
}
