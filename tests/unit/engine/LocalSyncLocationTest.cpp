// The local side of a run on real temporary folders: what a listing makes of files, folders and
// links, how listFolder splits and orders it, the exclusion tests of both sets, and a side
// without a connection.

#include "engine/SyncLocation.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/ErrorReport.h"
#include "profiles/ExclusionSet.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/Progress.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

void setModifiedTime(const fs::path& path, std::time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::vector<std::string> namesOf(const std::vector<FileEntryPtr>& entries) {
    std::vector<std::string> names;
    for (const FileEntryPtr& entry : entries) {
        names.push_back(entry->name);
    }
    return names;
}

const FileEntry* find(const std::vector<FileEntryPtr>& entries, const std::string& name) {
    for (const FileEntryPtr& entry : entries) {
        if (entry->name == name) {
            return entry.get();
        }
    }
    return nullptr;
}

class LocalSyncLocationTest : public ::testing::Test {
  protected:
    std::string folderPath() const { return folder_.path().string() + kLocalSeparator; }

    TempFolder folder_{"kelvane-localsync"};
    LocalSyncLocation local_;
};

}  // namespace

TEST_F(LocalSyncLocationTest, ListsFilesAndFoldersWithTheirDetails) {
    const fs::path root = folder_.path();
    writeFile(root / "page.html", std::string(1234, 'x'));
    fs::create_directory(root / "images");
    writeFile(root / "images" / "logo.png", "png");
    // 2004-03-05 10:20:30 local time.
    std::tm local{};
    local.tm_year = 104;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 10;
    local.tm_min = 20;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    setModifiedTime(root / "page.html", std::mktime(&local));

    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(local_.listEntries(root.string(), entries)) << lastErrorText();
    ASSERT_EQ(entries.size(), 2u);

    const FileEntry* page = find(entries, "page.html");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->folder, folderPath()) << "the folder ends with the separator";
    EXPECT_EQ(page->fullPath(), (root / "page.html").string());
    EXPECT_EQ(page->kind, EntryKind::File);
    EXPECT_EQ(page->size, 1234u);
    EXPECT_FALSE(page->remote);
    EXPECT_EQ(page->action, EntryAction::None);
    EXPECT_FALSE(page->failed);
    EXPECT_EQ(page->date.day(), 5);
    EXPECT_EQ(page->date.month(), 3);
    EXPECT_EQ(page->date.year(), 2004);
    EXPECT_EQ(page->time.hours(), 10);
    EXPECT_EQ(page->time.minutes(), 20);
    EXPECT_EQ(page->time.seconds(), 30);

    const FileEntry* images = find(entries, "images");
    ASSERT_NE(images, nullptr);
    EXPECT_TRUE(images->isFolder());
    EXPECT_EQ(images->childFolderPath(), (root / "images").string() + kLocalSeparator);
}

TEST_F(LocalSyncLocationTest, LinksStandForWhatTheyPointAtAndOddFilesAreLeftOut) {
    const fs::path root = folder_.path();
    fs::create_directory(root / "real folder");
    writeFile(root / "real.txt", "12345");
    fs::create_directory_symlink(root / "real folder", root / "linked folder");
    fs::create_symlink(root / "real.txt", root / "linked.txt");
    fs::create_symlink(root / "nowhere", root / "broken");
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);
    // An old date the packed form cannot hold stays empty.
    writeFile(root / "old.txt", "");
    setModifiedTime(root / "old.txt", 86400 * 365);

    std::vector<FileEntryPtr> files;
    std::vector<FileEntryPtr> folders;
    ASSERT_TRUE(local_.listFolder(folderPath(), files, folders)) << lastErrorText();
    EXPECT_EQ(namesOf(folders), (std::vector<std::string>{"linked folder", "real folder"}));
    EXPECT_EQ(namesOf(files), (std::vector<std::string>{"linked.txt", "old.txt", "real.txt"}));
    EXPECT_EQ(find(files, "linked.txt")->size, 5u);
    EXPECT_TRUE(find(files, "old.txt")->date.isNull());
    EXPECT_EQ(find(files, "old.txt")->time.packed(), 0u);
}

TEST_F(LocalSyncLocationTest, ListFolderSortsEachKindIgnoringCase) {
    const fs::path root = folder_.path();
    for (const char* name : {"b.html", "A.html", "c.HTML", "_x"}) {
        writeFile(root / name, "");
    }
    for (const char* name : {"Zeta", "alpha", "Beta"}) {
        fs::create_directory(root / name);
    }
    std::vector<FileEntryPtr> files{std::make_shared<FileEntry>()};
    std::vector<FileEntryPtr> folders;
    ASSERT_TRUE(local_.listFolder(root.string(), files, folders));
    // '_' sorts after the letters once they are upper case.
    EXPECT_EQ(namesOf(files), (std::vector<std::string>{"A.html", "b.html", "c.HTML", "_x"}));
    EXPECT_EQ(namesOf(folders), (std::vector<std::string>{"alpha", "Beta", "Zeta"}));
}

TEST_F(LocalSyncLocationTest, AFolderThatCannotBeReadFailsWithTheSystemsReason) {
    std::vector<FileEntryPtr> files{std::make_shared<FileEntry>()};
    std::vector<FileEntryPtr> folders{std::make_shared<FileEntry>()};
    setLastError("(nothing yet)");
    EXPECT_FALSE(local_.listFolder((folder_.path() / "missing").string() + "/", files, folders));
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(folders.empty());
    EXPECT_EQ(lastErrorText(), std::system_category().message(ENOENT));

    writeFile(folder_.path() / "plain", "x");
    std::vector<FileEntryPtr> entries;
    EXPECT_FALSE(local_.listEntries((folder_.path() / "plain").string() + "/", entries));
    EXPECT_EQ(lastErrorText(), std::system_category().message(ENOTDIR));
}

TEST_F(LocalSyncLocationTest, ExclusionsTestEachSetAndNoSetExcludesNothing) {
    FileEntryPtr page = FileEntry::fromPath("/site/page.html");
    FileEntryPtr backup = FileEntry::fromPath("/site/page.bak");
    EXPECT_FALSE(local_.isExcludedByFirst(*page));
    EXPECT_FALSE(local_.isExcludedBySecond(*backup));

    ExclusionSet first;
    first.addPath("/site/page.html");
    first.sort();
    ExclusionSet second;
    second.addWildcard("*.bak");
    second.sort();
    local_.setExclusions(&first, &second);
    EXPECT_TRUE(local_.isExcludedByFirst(*page));
    EXPECT_FALSE(local_.isExcludedByFirst(*backup));
    EXPECT_FALSE(local_.isExcludedBySecond(*page));
    EXPECT_TRUE(local_.isExcludedBySecond(*backup));

    local_.setExclusions(nullptr, &first);
    EXPECT_FALSE(local_.isExcludedByFirst(*page));
    EXPECT_TRUE(local_.isExcludedBySecond(*page));
}

TEST_F(LocalSyncLocationTest, CopyDeleteAndCreateWorkOnTheLocalDisk) {
    const fs::path root = folder_.path();
    writeFile(root / "a.txt", "content");
    std::vector<FileEntryPtr> entries;
    ASSERT_TRUE(local_.listEntries(root.string(), entries));
    ASSERT_EQ(entries.size(), 1u);

    FileEntryPtr folder = FileEntry::fromPath((root / "copies").string() + "/");
    folder->remote = false;
    ASSERT_TRUE(local_.createFolder(*folder));
    EXPECT_TRUE(fs::is_directory(root / "copies"));

    FileEntryPtr copy = entries[0]->copyForOtherSide(folder->childFolderPath(), false);
    const std::uint64_t before = bytesDone.load();
    ASSERT_TRUE(local_.copyFile(*entries[0], *copy)) << lastErrorText();
    EXPECT_EQ(bytesDone.load() - before, 7u) << "a copy counts the source's size as work done";
    EXPECT_EQ(readFile(root / "copies" / "a.txt"), "content");

    ASSERT_TRUE(local_.deleteFile(*copy));
    EXPECT_FALSE(fs::exists(root / "copies" / "a.txt"));
    EXPECT_FALSE(local_.deleteFile(*copy));
    EXPECT_EQ(lastErrorText(), std::system_category().message(ENOENT));
    bytesDone = before;
}

TEST(FtpSyncLocationTest, WithoutAnOpenConnectionNothingIsReadyAndNothingIsSent) {
    FtpSyncLocation ftp;
    EXPECT_TRUE(ftp.isRemote());
    EXPECT_FALSE(ftp.isReady());
    std::vector<FileEntryPtr> files;
    std::vector<FileEntryPtr> folders;
    setLastError("(nothing yet)");
    EXPECT_FALSE(ftp.listFolder("/", files, folders));
    EXPECT_EQ(lastErrorText(), "Not connected to an FTP server");

    auto closed = std::make_shared<ConnectionDetails>();
    closed->name = "site";
    ftp.setConnection(closed);
    EXPECT_FALSE(ftp.isReady()) << "a connection that is not open is not ready";
    FileEntryPtr file = FileEntry::fromPath("/a.txt");
    setLastError("(nothing yet)");
    EXPECT_FALSE(ftp.deleteFile(*file));
    EXPECT_EQ(lastErrorText(), "Not connected to an FTP server");
    EXPECT_FALSE(ftp.createFolder(*FileEntry::fromPath("/new/")));
}
