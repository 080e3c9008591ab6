#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ProfileTestFiles.h"
#include "profiles/Profile.h"

namespace {

using profiletest::dataFile;
using profiletest::readBytes;
using profiletest::TempFolder;
using profiletest::withoutCarriageReturns;
using profiletest::writeBytes;

class ProfileTest : public profiletest::FormatVersionGuard {};

Profile readProfile(const std::string& text) {
    Profile profile;
    std::istringstream in(text);
    profile.read(in);
    return profile;
}

std::string written(Profile& profile) {
    std::ostringstream out;
    profile.write(out);
    return out.str();
}

std::vector<std::string> displayPaths(const std::vector<FileEntryPtr>& list) {
    std::vector<std::string> paths;
    for (const FileEntryPtr& e : list) {
        paths.push_back(ExclusionSet::displayPath(*e));
    }
    return paths;
}

// write() has its own byte-exact test, so the text it gives stands for every member.
const std::string kDefaultText =
    "kelvane_version=1.06\r\nlocation1=\r\nlocation2=\r\ndelete_files=1\r\n"
    "confirm_deletes=0\r\nadd_files=1\r\ncheck_sub_folders=1\r\nauto_start=0\r\n"
    "check_actions=1\r\nsilent_mode=0\r\nexit_on_completion=0\r\ncompare_on_time=1\r\n"
    "adjust_time_hours=0\r\nadjust_time_mins=0\r\nlog_file_on=0\r\nlog_file_append=0\r\n"
    "log_file_path=\r\n"
    "exclusions=end_exclusions\r\nwildcard_exclusions=\r\nend_wildcard_exclusions\r\n"
    "ftp_exclusions=end_exclusions\r\nwildcard_exclusions=\r\nend_wildcard_exclusions\r\n";

void expectDefaults(const Profile& p) {
    EXPECT_FALSE(p.modified);
    Profile copy = p;
    EXPECT_EQ(written(copy), kDefaultText);
}

void expectFullSample(const Profile& p) {
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.location1, "/home/ann/Sites/river walk");
    EXPECT_EQ(p.location2, "FTP:Ann's host/public_html/river");
    EXPECT_FALSE(p.delete_files);
    EXPECT_TRUE(p.confirm_deletes);
    EXPECT_FALSE(p.add_files);
    EXPECT_FALSE(p.check_sub_folders);
    EXPECT_EQ(p.auto_start, 1);
    EXPECT_FALSE(p.check_actions);
    EXPECT_TRUE(p.silent_mode);
    EXPECT_TRUE(p.exit_on_completion);
    EXPECT_FALSE(p.compare_on_time);
    EXPECT_EQ(p.adjust_time_hours, -5);
    EXPECT_EQ(p.adjust_time_mins, -30);
    EXPECT_TRUE(p.log_file_on);
    EXPECT_TRUE(p.log_file_append);
    EXPECT_EQ(p.log_file_path, "/home/ann/logs/river sync.log");
    EXPECT_EQ(displayPaths(p.exclusions.exactEntries()),
              (std::vector<std::string>{"/home/ann/Sites/river walk/drafts/",
                                        "/home/ann/Sites/river walk/notes.txt"}));
    EXPECT_EQ(displayPaths(p.exclusions.wildcardEntries()),
              (std::vector<std::string>{"*.bak", "/home/ann/Sites/river walk/cache/*.tmp"}));
    EXPECT_EQ(
        displayPaths(p.ftp_exclusions.exactEntries()),
        (std::vector<std::string>{"/public_html/river/cgi-bin/", "/public_html/river/stats.html"}));
    EXPECT_EQ(displayPaths(p.ftp_exclusions.wildcardEntries()),
              (std::vector<std::string>{"*.log"}));
}

}  // namespace

TEST_F(ProfileTest, DefaultProfileIsWrittenAsNineteenKeys) {
    Profile profile;
    EXPECT_TRUE(profile.delete_files && profile.add_files && profile.check_sub_folders &&
                profile.check_actions && profile.compare_on_time);
    EXPECT_FALSE(profile.confirm_deletes || profile.silent_mode || profile.exit_on_completion ||
                 profile.log_file_on || profile.log_file_append);
    profile.modified = true;
    EXPECT_EQ(written(profile), kDefaultText);
    EXPECT_FALSE(profile.modified);
}

TEST_F(ProfileTest, SampleFileRoundTripsByteForByte) {
    const std::string sample = readBytes(dataFile("full.kvp"));
    Profile profile;
    ASSERT_TRUE(profile.loadFromFile(dataFile("full.kvp")));
    expectFullSample(profile);
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.06);
    EXPECT_EQ(written(profile), sample);

    // Saving goes through a temporary file and leaves exactly these bytes.
    TempFolder folder;
    profile.modified = true;
    std::string error;
    ASSERT_TRUE(profile.saveToFile(folder.path() / "saved.kvp", &error)) << error;
    EXPECT_FALSE(profile.modified);
    EXPECT_EQ(readBytes(folder.path() / "saved.kvp"), sample);

    // A file with LF line ends reads the same.
    writeBytes(folder.path() / "unix.kvp", withoutCarriageReturns(sample));
    Profile unix;
    ASSERT_TRUE(unix.loadFromFile(folder.path() / "unix.kvp"));
    EXPECT_TRUE(unix.valid);
    EXPECT_EQ(written(unix), sample);
}

TEST_F(ProfileTest, ReadReplacesEverythingAndResetKeepsValid) {
    Profile profile;
    ASSERT_TRUE(profile.loadFromFile(dataFile("full.kvp")));
    std::istringstream onlyVersion("kelvane_version=1.06\r\n");
    profile.read(onlyVersion);
    EXPECT_TRUE(profile.valid);
    expectDefaults(profile);

    ASSERT_TRUE(profile.loadFromFile(dataFile("full.kvp")));
    profile.modified = true;
    profile.reset();
    expectDefaults(profile);
    EXPECT_TRUE(profile.valid);
}

TEST_F(ProfileTest, NotAProfileLeavesDefaults) {
    const char* texts[] = {
        "",
        "\r\n\r\n",
        "location1=/home/ann\r\nkelvane_version=1.06\r\n",
        "file_type=Kelvane_batch\r\nkelvane_version=1.06\r\nprofiles=\r\nend_profiles\r\n",
        "kelvane_version=new\r\nlocation1=/x\r\n",
        "no key at all",
    };
    for (const char* text : texts) {
        Profile profile = readProfile(text);
        EXPECT_FALSE(profile.valid) << text;
        expectDefaults(profile);
    }

    Profile missing;
    missing.location1 = "/kept";
    TempFolder folder;
    EXPECT_FALSE(missing.loadFromFile(folder.path() / "absent.kvp"));
    EXPECT_FALSE(missing.loadFromFile(folder.path()));
    EXPECT_EQ(missing.location1, "/kept");
}

TEST_F(ProfileTest, KeysTolerateBlanksAndAnyOrder) {
    const Profile p = readProfile(
        "kelvane_version = 1.05\r\n"
        "\r\n"
        "   auto_start =2\r\n"
        "\tlocation1=  /home/ann/with leading blanks \r\n"
        "adjust_time_hours=   -12\r\n"
        "adjust_time_mins=-59\n"
        "log_file_path=\r\n"
        "check_sub_folders=0\r\n"
        "check_sub_folders=1\r\n"
        "location2=FTP:a=b/c\r\n");
    EXPECT_TRUE(p.valid);
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.05);
    EXPECT_EQ(p.auto_start, 2);
    EXPECT_EQ(p.location1, "  /home/ann/with leading blanks ");
    EXPECT_EQ(p.adjust_time_hours, -12);
    EXPECT_EQ(p.adjust_time_mins, -59);
    EXPECT_EQ(p.log_file_path, "");
    EXPECT_TRUE(p.check_sub_folders);
    EXPECT_EQ(p.location2, "FTP:a=b/c");
}

TEST_F(ProfileTest, UnknownKeysSkipTheirLine) {
    const Profile p = readProfile(
        "kelvane_version=1.06\r\n"
        "window_colour=blue\r\n"
        "silent_mode=1\r\n" +
        std::string(1100, 'k') + "\r\n" +  // a key too long to be one, then a newline
        "add_files=0\r\n"
        "future_key=" +
        std::string(256, 'v') + "confirm_deletes=1\r\n" + "future_key=" + std::string(300, 'w') +
        "log_file_on=1\r\n" + "check_actions=0\r\n");
    EXPECT_TRUE(p.valid);
    EXPECT_TRUE(p.silent_mode);
    // The 1023 characters of the long key are taken as a key; the rest of that line, up to
    // its line end, is skipped and add_files is read as usual.
    EXPECT_FALSE(p.add_files);
    // Only 256 characters of an unknown value are skipped; the rest of the line is read as a
    // key: here a known one, next time one that swallows its value.
    EXPECT_TRUE(p.confirm_deletes);
    EXPECT_FALSE(p.log_file_on);
    EXPECT_FALSE(p.check_actions);
}

TEST_F(ProfileTest, UnreadableValueStopsReading) {
    const char* badValues[] = {"yes", "2", "-1"};
    for (const char* bad : badValues) {
        const Profile p = readProfile(std::string("kelvane_version=1.06\r\nadd_files=0\r\n") +
                                      "delete_files=" + bad + "\r\nlocation1=/never\r\n");
        EXPECT_TRUE(p.valid) << bad;
        EXPECT_FALSE(p.add_files) << bad;
        EXPECT_TRUE(p.delete_files) << bad;
        EXPECT_EQ(p.location1, "") << bad;
    }
    const Profile overflow =
        readProfile("kelvane_version=1.06\r\nauto_start=99999999999\r\nadd_files=0\r\n");
    EXPECT_TRUE(overflow.valid);
    EXPECT_EQ(overflow.auto_start, 0);
    EXPECT_TRUE(overflow.add_files);
}

TEST_F(ProfileTest, OlderAdjustTimeKey) {
    struct Case {
        const char* word;
        int hours;
        int minutes;
    };
    const Case cases[] = {
        {"0130", 1, 30},
        {"130", 1, 30},
        {"013045", 1, 30},
        {"5", 5, 0},
        {"12", 12, 0},
        {"01:30:00", 1, 30},
        {"1:5", 1, 5},
        {"23:59:59", 23, 59},
        {"2460", 0, 0},
        {"2359", 23, 59},
        {"23:75", 23, 0},
        {"99", 0, 0},
        {"12:", 12, 0},
        {":30", 0, 30},
        {"7:xx", 7, 0},
        {"-2", 0, 0},
        {"250000", 0, 0},
        {"1:30x", 1, 30},
        {"99999999999999999999999", 0, 0},
    };
    for (const Case& c : cases) {
        const AdjustTime t = parseAdjustTime(c.word);
        EXPECT_EQ(t.hours, c.hours) << c.word;
        EXPECT_EQ(t.minutes, c.minutes) << c.word;
    }

    // In a file the value is one word; what follows on the line is read as the next key.
    const Profile p =
        readProfile("kelvane_version=1.00\r\nadjust_time= 02:15:00\r\nadd_files=0\r\n");
    EXPECT_EQ(p.adjust_time_hours, 2);
    EXPECT_EQ(p.adjust_time_mins, 15);
    EXPECT_FALSE(p.add_files);
    // Written back, the adjustment takes its current keys.
    Profile copy = p;
    EXPECT_NE(written(copy).find("adjust_time_hours=2\r\nadjust_time_mins=15\r\n"),
              std::string::npos);
}

TEST_F(ProfileTest, OldFormatHasNoWildcardSections) {
    Profile p;
    ASSERT_TRUE(p.loadFromFile(dataFile("version101.kvp")));
    EXPECT_TRUE(p.valid);
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.01);
    EXPECT_EQ(p.location2, "FTP:legacy/htdocs");
    EXPECT_EQ(displayPaths(p.exclusions.exactEntries()),
              (std::vector<std::string>{"/srv/www/old/private/"}));
    EXPECT_EQ(displayPaths(p.ftp_exclusions.exactEntries()),
              (std::vector<std::string>{"/htdocs/counter.dat"}));
    EXPECT_EQ(p.auto_start, 1);
}

TEST_F(ProfileTest, ExclusionBlocksAddUpAndABlankLineLosesWildcards) {
    const Profile twice = readProfile(
        "kelvane_version=1.06\r\n"
        "exclusions=/a\r\nend_exclusions\r\nwildcard_exclusions=\r\n*.x\r\n"
        "end_wildcard_exclusions\r\n"
        "exclusions=/b\r\nend_exclusions\r\nwildcard_exclusions=\r\nend_wildcard_exclusions\r\n");
    EXPECT_EQ(displayPaths(twice.exclusions.exactEntries()),
              (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(twice.exclusions.wildcardEntries().size(), 1u);

    // The blank line spoils the wildcard key; the wildcard lines and the following key then run
    // together into one unknown key, whose value is skipped.
    const Profile blank = readProfile(
        "kelvane_version=1.06\r\n"
        "exclusions=/a\r\nend_exclusions\r\n\r\nwildcard_exclusions=\r\n*.x\r\n"
        "end_wildcard_exclusions\r\n"
        "add_files=0\r\n"
        "silent_mode=1\r\n");
    EXPECT_TRUE(blank.valid);
    EXPECT_EQ(blank.exclusions.exactEntries().size(), 1u);
    EXPECT_TRUE(blank.exclusions.wildcardEntries().empty());
    EXPECT_TRUE(blank.add_files);
    EXPECT_TRUE(blank.silent_mode);
}

TEST_F(ProfileTest, FailedSaveKeepsTheModifiedMark) {
    TempFolder folder;
    Profile profile;
    profile.location1 = "/changed";
    profile.modified = true;
    std::string error;
    EXPECT_FALSE(profile.saveToFile(folder.path() / "no such folder" / "site.kvp", &error));
    EXPECT_TRUE(profile.modified) << "the changes are still only in memory";
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(profile.saveToFile(folder.path() / "site.kvp", &error)) << error;
    EXPECT_FALSE(profile.modified);
}

TEST_F(ProfileTest, AFileCutOffInsideAnExclusionBlockIsNotAProfile) {
    Profile full;
    full.location1 = "/home/ann/site";
    full.exclusions.addPath("/home/ann/site/private/");
    full.exclusions.addWildcard("*.tmp");
    full.ftp_exclusions.addPath("/www/counter.dat");
    full.ftp_exclusions.addWildcard("/www/logs/*.log");
    full.exclusions.sort();
    full.ftp_exclusions.sort();
    const std::string text = written(full);

    // Every cut from the key of a block to its last end line leaves a set that may lack what
    // the user excluded: the whole file is refused. Only right after the exact section's end
    // line (where files of old writers stop) and after the whole block is the set complete.
    const std::string endExact = "end_exclusions";
    const std::string endWildcards = "end_wildcard_exclusions";
    int refused = 0;
    for (const char* key : {"\nexclusions=", "\nftp_exclusions="}) {
        const std::size_t blockStart = text.find(key) + std::string(key).size();
        const std::size_t exactEnd = text.find(endExact, blockStart) + endExact.size();
        const std::size_t blockEnd = text.find(endWildcards, exactEnd) + endWildcards.size();
        for (std::size_t cut = blockStart; cut <= blockEnd + 2; ++cut) {
            const Profile p = readProfile(text.substr(0, cut));
            const bool complete = (cut >= exactEnd && cut <= exactEnd + 2) || cut >= blockEnd;
            EXPECT_EQ(p.valid, complete)
                << key << " cut at " << cut << ": " << text.substr(blockStart, cut - blockStart);
            if (!complete) {
                expectDefaults(p);
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 100);

    // An older file that simply lacks later keys still loads with their defaults.
    const Profile older = readProfile(
        "kelvane_version=1.01\r\nlocation1=/srv\r\nexclusions=/srv/x\r\nend_exclusions\r\n");
    EXPECT_TRUE(older.valid);
    EXPECT_EQ(older.location1, "/srv");
    EXPECT_EQ(older.exclusions.exactEntries().size(), 1u);
    EXPECT_TRUE(older.ftp_exclusions.exactEntries().empty());
    const Profile olderCut =
        readProfile("kelvane_version=1.01\r\nlocation1=/srv\r\nexclusions=/srv/x\r\n");
    EXPECT_FALSE(olderCut.valid);
}
