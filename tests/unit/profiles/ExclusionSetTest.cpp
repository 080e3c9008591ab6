#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ProfileTestFiles.h"
#include "profiles/ExclusionSet.h"

namespace {

using profiletest::FormatVersionGuard;

FileEntryPtr entry(std::string folder, std::string name, bool remote = false,
                   EntryKind kind = EntryKind::File) {
    auto e = std::make_shared<FileEntry>();
    e->folder = std::move(folder);
    e->name = std::move(name);
    e->remote = remote;
    e->kind = kind;
    return e;
}

std::vector<std::string> displayPaths(const std::vector<FileEntryPtr>& list) {
    std::vector<std::string> paths;
    for (const FileEntryPtr& e : list) {
        paths.push_back(ExclusionSet::displayPath(*e));
    }
    return paths;
}

std::string written(ExclusionSet& set) {
    std::ostringstream out;
    set.write(out);
    return out.str();
}

class ExclusionSetFile : public FormatVersionGuard {};

}  // namespace

TEST(ExclusionSetTest, ExactEntriesIgnoreCaseAndKind) {
    ExclusionSet set;
    set.addPath("/www/Old");
    set.addPath("/WWW/old/");  // the same entry as a folder: not added again
    set.addPath("/www/drafts/");
    set.addPath("/www/a.html");
    set.sort();
    EXPECT_EQ(displayPaths(set.exactEntries()),
              (std::vector<std::string>{"/www/a.html", "/www/drafts/", "/www/Old"}));

    EXPECT_TRUE(set.isExcluded(*entry("/WWW/", "OLD", true, EntryKind::Folder)));
    EXPECT_TRUE(set.isExcluded(*entry("/www/", "A.HTML")));
    EXPECT_FALSE(set.isExcluded(*entry("/www/", "a.htm")));
    EXPECT_FALSE(set.isExcluded(*entry("/www/old/", "inside.txt")))
        << "an exact folder entry names the folder, not what lies below it";

    set.removeEntry(*entry("/WwW/", "oLd", false, EntryKind::Folder));
    EXPECT_EQ(displayPaths(set.exactEntries()),
              (std::vector<std::string>{"/www/a.html", "/www/drafts/"}));
}

TEST(ExclusionSetTest, WildcardsMatchNamesAnywhereOrBelowTheirFolder) {
    ExclusionSet set;
    set.addWildcard("*.tmp");
    set.addWildcard("*.TMP");  // equal ignoring case: not added
    set.addWildcard("/home/ann/site/*.log");
    set.addWildcard("C:\\site\\*.bak");
    set.sort();
    ASSERT_EQ(set.wildcardEntries().size(), 3u);

    EXPECT_TRUE(set.isExcluded(*entry("/a/b/", "x.TMP")));
    EXPECT_TRUE(set.isExcluded(*entry("/www/", "y.tmp", true)));
    EXPECT_TRUE(set.isExcluded(*entry("", "bare.tmp")));
    EXPECT_TRUE(set.isExcluded(*entry("/home/ann/site/", "a.log")));
    EXPECT_TRUE(set.isExcluded(*entry("/home/ann/site/logs/", "a.log")));
    EXPECT_FALSE(set.isExcluded(*entry("/home/ann/Site/", "a.log")))
        << "the folder of a wildcard is compared with its letter case";
    EXPECT_FALSE(set.isExcluded(*entry("/home/ann/", "a.log")));
    EXPECT_FALSE(set.isExcluded(*entry("", "a.log")));
    EXPECT_TRUE(set.isExcluded(*entry("C:\\site\\logs\\", "old.bak")));
    EXPECT_FALSE(set.isExcluded(*entry("c:\\site\\", "old.bak")));

    ExclusionSet everything;
    everything.addWildcard("*.*");
    EXPECT_TRUE(everything.isExcluded(*entry("/www/", "README")));
    EXPECT_TRUE(everything.isExcluded(*entry("/www/", "img", true, EntryKind::Folder)));
}

TEST(ExclusionSetTest, AddSkipsWhatIsAlreadyExcluded) {
    ExclusionSet set;
    set.addWildcard("*.tmp");
    set.addPath("/www/cache.tmp");
    EXPECT_TRUE(set.exactEntries().empty());

    // Entries added one by one are found before any sort().
    const char* paths[] = {"/z/last", "/a/first", "/m/middle", "/A/FIRST", "/b/x", "/M/Middle"};
    for (const char* path : paths) {
        set.addPath(path);
    }
    EXPECT_EQ(displayPaths(set.exactEntries()),
              (std::vector<std::string>{"/a/first", "/b/x", "/m/middle", "/z/last"}));

    set.clearExactEntries();
    EXPECT_TRUE(set.exactEntries().empty());
    EXPECT_EQ(set.wildcardEntries().size(), 1u);
    set.addPath("/www/page.html");
    set.clear();
    EXPECT_TRUE(set.exactEntries().empty());
    EXPECT_TRUE(set.wildcardEntries().empty());
}

TEST_F(ExclusionSetFile, WriteAndReadKeepEveryEntry) {
    fileFormatVersion = CurrentFormatVersion;
    ExclusionSet set;
    set.addPath("/public_html/cgi-bin/");
    set.addPath("C:\\site\\old\\");
    set.addPath("/public_html/stats.html");
    set.addWildcard("/public_html/cache/*.tmp");
    set.addWildcard("*.log");
    set.sort();
    const std::string block = written(set);
    EXPECT_EQ(block,
              "/public_html/cgi-bin/\r\n/public_html/stats.html\r\nC:\\site\\old/\r\n"
              "end_exclusions\r\nwildcard_exclusions=\r\n*.log\r\n/public_html/cache/*.tmp\r\n"
              "end_wildcard_exclusions\r\n");

    std::istringstream in(block + "next_key=1\r\n");
    ExclusionSet back;
    back.read(in);
    EXPECT_EQ(written(back), block);
    const FileEntryPtr folder = back.exactEntries().front();
    EXPECT_EQ(folder->kind, EntryKind::Folder);
    EXPECT_TRUE(folder->remote);
    EXPECT_EQ(folder->fullPath(), "/public_html/cgi-bin");

    // The reader stops right after its block; what follows belongs to the profile.
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, "next_key=1\r");
}

TEST_F(ExclusionSetFile, ReadAddsToHeldEntriesAndSortsThem) {
    fileFormatVersion = 1.06;
    ExclusionSet set;
    set.addPath("/b/held");
    std::istringstream in(
        "  \r\n\r\n/d/x\n/a/y\n\n/C/z\nend_ftp_exclusions\nwildcard_exclusions=\n\n  *.b\n"
        "*.a\nend_wildcard_exclusions\n");
    set.read(in);
    // The empty line in the middle becomes an entry with an empty key; the blank lines before
    // the first entry are skipped.
    EXPECT_EQ(displayPaths(set.exactEntries()),
              (std::vector<std::string>{"", "/a/y", "/b/held", "/C/z", "/d/x"}));
    EXPECT_EQ(displayPaths(set.wildcardEntries()), (std::vector<std::string>{"*.a", "*.b"}));
    EXPECT_TRUE(set.isExcluded(*entry("/c/", "Z")));
    EXPECT_TRUE(set.isExcluded(*entry("/b/", "held")));
}

TEST_F(ExclusionSetFile, WildcardSectionNeedsANewerFileAndTheExactKey) {
    const std::string tail = "wildcard_exclusions=\r\n*.bak\r\nend_wildcard_exclusions\r\n";

    // Format 1.01 had no wildcards: the reader leaves the section to the profile reader.
    fileFormatVersion = 1.01;
    ExclusionSet old;
    std::istringstream oldFile("/x/a\r\nend_exclusions\r\n" + tail);
    old.read(oldFile);
    EXPECT_EQ(old.exactEntries().size(), 1u);
    EXPECT_TRUE(old.wildcardEntries().empty());
    std::string next;
    std::getline(oldFile, next, '=');
    EXPECT_EQ(next, "wildcard_exclusions");

    // A blank line before the key keeps it from being recognised; the text up to its "=" is
    // consumed and the wildcard lines are left for the profile reader.
    fileFormatVersion = 1.06;
    ExclusionSet blank;
    std::istringstream blankFile("/x/a\r\nend_exclusions\r\n\r\n" + tail);
    blank.read(blankFile);
    EXPECT_TRUE(blank.wildcardEntries().empty());
    std::getline(blankFile, next);
    EXPECT_EQ(next, "\r");
    std::getline(blankFile, next);
    EXPECT_EQ(next, "*.bak\r");

    // Some other key after the exact section is lost.
    ExclusionSet other;
    std::istringstream otherFile("end_exclusions\r\nftp_exclusions=/y\r\n");
    other.read(otherFile);
    EXPECT_TRUE(other.exactEntries().empty());
    std::getline(otherFile, next);
    EXPECT_EQ(next, "/y\r");

    // A file cut short keeps what was read.
    ExclusionSet cut;
    std::istringstream cutFile("/x/a\r\n/x/b");
    cut.read(cutFile);
    EXPECT_EQ(displayPaths(cut.exactEntries()), (std::vector<std::string>{"/x/a", "/x/b"}));
}
