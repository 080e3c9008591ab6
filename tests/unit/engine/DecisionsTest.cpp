// The decisions of the folder analysis, as tables: when a source file is newer, when sizes
// differ, and which names of the two sides meet.

#include "engine/Decisions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

EntryDateTime at(int day, int month, int year, int hours, int minutes, int seconds) {
    EntryDateTime moment;
    EXPECT_TRUE(moment.date.set(day, month, year));
    EXPECT_TRUE(moment.time.set(hours, minutes, seconds));
    return moment;
}

std::vector<FileEntryPtr> named(const std::vector<std::string>& names) {
    std::vector<FileEntryPtr> entries;
    for (const std::string& name : names) {
        auto entry = std::make_shared<FileEntry>();
        entry->name = name;
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace

TEST(DecisionsTest, NewerComparesWithTheTargetClockCorrected) {
    struct Case {
        const char* what;
        EntryDateTime source;
        EntryDateTime target;
        int hours, minutes;
        bool newer;
    };
    const Case cases[] = {
        {"equal times are not newer", at(5, 3, 2004, 10, 0, 0), at(5, 3, 2004, 10, 0, 0), 0, 0,
         false},
        {"one second later is newer", at(5, 3, 2004, 10, 0, 1), at(5, 3, 2004, 10, 0, 0), 0, 0,
         true},
        {"older is not newer", at(5, 3, 2004, 9, 59, 59), at(5, 3, 2004, 10, 0, 0), 0, 0, false},
        {"a later day wins over an earlier hour", at(6, 3, 2004, 1, 0, 0), at(5, 3, 2004, 23, 0, 0),
         0, 0, true},
        // A server clock two hours behind: +2 makes an unchanged file equal, -2 makes it older.
        {"+2 hours makes an unchanged file equal", at(5, 3, 2004, 12, 0, 0),
         at(5, 3, 2004, 10, 0, 0), 2, 0, false},
        {"without the correction it looks newer", at(5, 3, 2004, 12, 0, 0),
         at(5, 3, 2004, 10, 0, 0), 0, 0, true},
        {"-2 hours makes every file newer", at(5, 3, 2004, 10, 0, 0), at(5, 3, 2004, 10, 0, 0), -2,
         0, true},
        {"the correction carries into the date", at(1, 1, 2004, 0, 30, 0),
         at(31, 12, 2003, 23, 30, 0), 1, 0, false},
        {"negative minutes borrow from the day", at(31, 12, 2003, 23, 50, 0),
         at(1, 1, 2004, 0, 10, 0), 0, -20, false},
        {"minutes after hours", at(5, 3, 2004, 11, 29, 0), at(5, 3, 2004, 10, 0, 0), 1, 30, false},
        {"minutes after hours, one second more", at(5, 3, 2004, 11, 30, 1),
         at(5, 3, 2004, 10, 0, 0), 1, 30, true},
        {"a source without a date is never newer", EntryDateTime{}, at(5, 3, 2004, 10, 0, 0), 0, 0,
         false},
        {"a target without a date is older than any", at(5, 3, 2004, 10, 0, 0), EntryDateTime{}, 0,
         0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isNewer(c.source, c.target, c.hours, c.minutes), c.newer) << c.what;
    }
}

TEST(DecisionsTest, SizeAndTimeRulesDecideTheOverwrite) {
    FileEntry source;
    FileEntry target;
    source.date = at(5, 3, 2004, 10, 0, 0).date;
    target.date = source.date;
    ASSERT_TRUE(source.time.set(10, 0, 0));
    ASSERT_TRUE(target.time.set(10, 0, 0));

    struct Case {
        std::uint64_t sourceSize, targetSize;
        bool differs;
    };
    const Case sizes[] = {{100, 100, false},
                          {99, 100, true},
                          {101, 100, true},
                          {0, 0, false},
                          // Sizes are 64-bit: a difference above 4 GiB is seen.
                          {0x100000000ULL, 0, true},
                          {0x100000001ULL, 0x100000001ULL, false}};
    for (const Case& c : sizes) {
        EXPECT_EQ(differsInSize(c.sourceSize, c.targetSize), c.differs)
            << c.sourceSize << " " << c.targetSize;
        source.size = c.sourceSize;
        target.size = c.targetSize;
        // The same times never overwrite by time, whatever the sizes.
        EXPECT_EQ(needsOverwrite(source, target, false, 0, 0), c.differs);
        EXPECT_FALSE(needsOverwrite(source, target, true, 0, 0));
    }
    ASSERT_TRUE(source.time.set(10, 0, 1));
    source.size = target.size = 7;
    EXPECT_TRUE(needsOverwrite(source, target, true, 0, 0));
    EXPECT_FALSE(needsOverwrite(source, target, false, 0, 0));
}

TEST(DecisionsTest, NamesMatchIgnoringCaseAndEachTargetOnce) {
    constexpr std::size_t none = NameMatch::kNone;
    struct Case {
        const char* what;
        std::vector<std::string> sources;
        std::vector<std::string> targets;
        std::vector<std::size_t> targetOf;
        std::vector<std::size_t> unmatched;
    };
    const std::vector<Case> cases = {
        {"both empty", {}, {}, {}, {}},
        {"only sources", {"a", "b"}, {}, {none, none}, {}},
        {"only targets", {}, {"a", "b"}, {}, {0, 1}},
        {"interleaved", {"a", "c", "e"}, {"b", "c", "d", "e"}, {none, 1, 3}, {0, 2}},
        {"letter case is ignored", {"Index.html"}, {"INDEX.HTML"}, {0}, {}},
        {"a prefix is another name", {"index"}, {"index.html"}, {none}, {0}},
        {"two sources cannot share one target", {"a", "A"}, {"a"}, {0, none}, {}},
        {"exact spelling pairs first", {"A", "a"}, {"a", "A"}, {1, 0}, {}},
        {"the rest pair in order", {"aB", "Ab"}, {"AB", "ab"}, {0, 1}, {}},
        {"one of two targets stays", {"x"}, {"X", "x"}, {1}, {0}},
    };
    for (const Case& c : cases) {
        const NameMatch match = matchByName(named(c.sources), named(c.targets));
        EXPECT_EQ(match.targetOf, c.targetOf) << c.what;
        EXPECT_EQ(match.unmatchedTargets, c.unmatched) << c.what;
    }
}
