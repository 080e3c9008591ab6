#include "transfer/FtpLocation.h"

#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpListing.h"

namespace {

struct Parsed {
    bool ok;
    std::string name;
    std::string path;
};

Parsed parse(const std::string& text) {
    Parsed parsed{};
    parsed.ok = parseFtpLocation(text, parsed.name, parsed.path);
    return parsed;
}

ftp::ListingEntry item(const std::string& name, ftp::EntryType type) {
    ftp::ListingEntry entry;
    entry.name = name;
    entry.type = type;
    return entry;
}

}  // namespace

TEST(FtpLocation, ParsesNameUpToTheFirstSlashAndKeepsThePath) {
    struct Case {
        const char* text;
        bool ok;
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {"FTP:Site/", true, "Site", "/"},
        {"FTP:My Site/web/img/", true, "My Site", "/web/img/"},
        {"FTP:Site/a/b c.html", true, "Site", "/a/b c.html"},
        {"FTP:/x", true, "", "/x"},
        {"FTP:Site", false, "", ""},    // no "/": nothing
        {"ftp:Site/x", false, "", ""},  // the prefix is upper case
        {"Ftp:Site/x", false, "", ""},
        {"/home/site/", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Parsed parsed = parse(c.text);
        EXPECT_EQ(parsed.ok, c.ok);
        EXPECT_EQ(parsed.name, c.name);
        EXPECT_EQ(parsed.path, c.path);
        EXPECT_EQ(isFtpLocation(c.text), std::string(c.text).rfind("FTP:", 0) == 0);
    }
    // Stale outputs are cleared on a failed parse.
    std::string name = "old";
    std::string path = "/old";
    EXPECT_FALSE(parseFtpLocation("FTP:Site", name, path));
    EXPECT_EQ(name, "");
    EXPECT_EQ(path, "");
}

TEST(FtpLocation, MakesLocationsThatParseBack) {
    EXPECT_EQ(makeFtpLocation("Site", "x/y"), "FTP:Site/x/y");
    EXPECT_EQ(makeFtpLocation("Site", "/x/y/"), "FTP:Site/x/y/");
    EXPECT_EQ(makeFtpLocation("Site", ""), "FTP:Site/");
    for (const char* path : {"/", "/web site/", "/a/b.html"}) {
        const Parsed parsed = parse(makeFtpLocation("Site 2", path));
        EXPECT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.name, "Site 2");
        EXPECT_EQ(parsed.path, path);
    }
}

TEST(FtpDirectoryRules, TheRootComesFromTheLoginDirectory) {
    EXPECT_EQ(ftpRootOf("/home/u/"), "/");
    EXPECT_EQ(ftpRootOf("/"), "/");
    EXPECT_EQ(ftpRootOf(""), "/");
    EXPECT_EQ(ftpRootOf("C:/web/"), "C:/");
    EXPECT_EQ(ftpRootOf("c:/"), "c:/");
    EXPECT_EQ(ftpRootOf("D:/a:b/"), "D:/");  // the first colon decides
}

TEST(FtpDirectoryRules, ReportedDirectoriesEndWithASlashAndSpellTheHomePrefixAsAtLogin) {
    struct Case {
        const char* reply;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/a/b", "/", "/a/b/"},
        {"/a/b/", "/", "/a/b/"},
        {"/", "/", "/"},
        {"", "/", ""},                     // nothing reported stays unknown
        {"c:/web/x", "C:/", "C:/web/x/"},  // the drive as the login showed it
        {"C:/web/x", "C:/", "C:/web/x/"},
        {"/HOME/U/sub", "/home/u/", "/home/u/sub/"},
        {"/home", "/home/u/", "/home/"},  // shorter than the home: left alone
        {"c:/web/", "", "c:/web/"},       // no home yet (first look after login)
        // Outside the home directory: the path is kept, never overwritten in part.
        {"/var/www/x", "/home/u/", "/var/www/x/"},
        {"/home/ux/y", "/home/u/", "/home/ux/y/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.reply) + " home " + c.home);
        EXPECT_EQ(normaliseReportedDirectory(c.reply, c.home), c.expected);
    }
}

TEST(FtpDirectoryRules, ChangingDirectoryMeansHomeForEmptyAndSlash) {
    struct Case {
        const char* path;
        const char* home;
        const char* sent;
        const char* expected;
    };
    const Case cases[] = {
        {"", "/", "/", "/"},
        {"/", "/", "/", "/"},
        {"", "C:/", "C:/", "C:/"},
        {"/", "/home/u/", "/home/u/", "/home/u/"},
        {"/a/b/", "/", "/a/b", "/a/b/"},
        {"/a/b", "/", "/a/b", "/a/b/"},
        {"/a//", "/", "/a/", "/a//"},  // one slash only
        {"sub", "/", "sub", "sub/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " home " + c.home);
        const DirectoryChange change = directoryChangeFor(c.path, c.home);
        EXPECT_EQ(change.sent, c.sent);
        EXPECT_EQ(change.expected, c.expected);
    }
}

TEST(FtpDirectoryRules, TheParentOfARootIsTheRoot) {
    EXPECT_EQ(parentFtpDirectory("/a/b/c/"), "/a/b/");
    EXPECT_EQ(parentFtpDirectory("/a/b c/"), "/a/");
    EXPECT_EQ(parentFtpDirectory("/a/"), "/");
    EXPECT_EQ(parentFtpDirectory("/"), "/");
    EXPECT_EQ(parentFtpDirectory("C:/web/"), "C:/");
    EXPECT_EQ(parentFtpDirectory("C:/"), "C:/");
    EXPECT_EQ(parentFtpDirectory("/a\\b/c/"), "/a\\b/");  // "\" is part of a name on a server
}

TEST(FtpDirectoryRules, FolderEntryOfADirectory) {
    const FileEntry sub = ftpFolderEntry("/web site/img/");
    EXPECT_EQ(sub.folder, "/web site/");
    EXPECT_EQ(sub.name, "img");
    EXPECT_TRUE(sub.isFolder());
    EXPECT_TRUE(sub.remote);
    EXPECT_EQ(sub.size, 0u);
    EXPECT_TRUE(sub.date.isNull());
    EXPECT_EQ(sub.time.packed(), 0u);
    EXPECT_EQ(sub.childFolderPath(), "/web site/img/");

    const FileEntry root = ftpFolderEntry("/");
    EXPECT_EQ(root.folder, "/");
    EXPECT_EQ(root.name, "");
    EXPECT_EQ(root.childFolderPath(), "/");

    const FileEntry odd = ftpFolderEntry("/a\\b/");
    EXPECT_EQ(odd.folder, "/");
    EXPECT_EQ(odd.name, "a\\b");
}

TEST(FtpListingEntries, KindsSizesAndTimesOfListedItems) {
    ftp::ListingEntry file = item("Big File.iso", ftp::EntryType::File);
    file.size = 5'000'000'000ULL;  // past 32 bits
    file.year = 2024;
    file.month = 2;
    file.day = 29;
    file.hour = 23;
    file.minute = 59;
    file.second = 58;
    file.precision = ftp::TimePrecision::Second;
    const FileEntryPtr big = fileEntryFromListing(file, "/site/");
    EXPECT_EQ(big->folder, "/site/");
    EXPECT_EQ(big->name, "Big File.iso");
    EXPECT_EQ(big->fullPath(), "/site/Big File.iso");
    EXPECT_EQ(big->kind, EntryKind::File);
    EXPECT_EQ(big->size, 5'000'000'000ULL);
    EXPECT_TRUE(big->remote);
    EXPECT_EQ(big->action, EntryAction::None);
    EXPECT_FALSE(big->failed);
    EXPECT_EQ(big->date.year(), 2024);
    EXPECT_EQ(big->date.month(), 2);
    EXPECT_EQ(big->date.day(), 29);
    EXPECT_EQ(big->time.hours(), 23);
    EXPECT_EQ(big->time.minutes(), 59);
    EXPECT_EQ(big->time.seconds(), 58);

    EXPECT_EQ(fileEntryFromListing(item("img", ftp::EntryType::Directory), "/")->kind,
              EntryKind::Folder);
    // A link is sent to and compared as a file, whatever it points at.
    ftp::ListingEntry link = item("current", ftp::EntryType::Link);
    link.linkTarget = "releases/7";
    EXPECT_EQ(fileEntryFromListing(link, "/")->kind, EntryKind::File);
    EXPECT_EQ(fileEntryFromListing(link, "/")->name, "current");
    EXPECT_EQ(fileEntryFromListing(item("dev", ftp::EntryType::Unknown), "/")->kind,
              EntryKind::File);

    // A folder of a DOS listing has no size; an old Unix line has the day only.
    ftp::ListingEntry old = item("old.txt", ftp::EntryType::File);
    old.year = 2019;
    old.month = 3;
    old.day = 2;
    old.precision = ftp::TimePrecision::Day;
    const FileEntryPtr dayOnly = fileEntryFromListing(old, "/");
    EXPECT_EQ(dayOnly->size, 0u);
    EXPECT_EQ(dayOnly->date.year(), 2019);
    EXPECT_EQ(dayOnly->time.packed(), 0u);

    // Before 1980 the packed date cannot hold it: no date, and no time without a date.
    ftp::ListingEntry ancient = item("ancient", ftp::EntryType::File);
    ancient.year = 1975;
    ancient.month = 6;
    ancient.day = 1;
    ancient.hour = 12;
    ancient.precision = ftp::TimePrecision::Minute;
    const FileEntryPtr noDate = fileEntryFromListing(ancient, "/");
    EXPECT_TRUE(noDate->date.isNull());
    EXPECT_EQ(noDate->time.packed(), 0u);

    EXPECT_TRUE(fileEntryFromListing(item("untimed", ftp::EntryType::File), "/")->date.isNull());
}

TEST(FtpLocationRules, OnlyPlainAbsolutePathsAreTrustedWithoutAskingTheServer) {
    for (const char* plain : {"/", "/www", "/www/", "/www/site images/a.b"}) {
        EXPECT_TRUE(isPlainAbsolutePath(plain)) << plain;
    }
    for (const char* other : {"", "www", "C:/web", "/www/../etc", "/www/./x", "//www", "/a//b",
                              "/www/.."}) {
        EXPECT_FALSE(isPlainAbsolutePath(other)) << other;
    }
}
