// Local file operations on real temporary folders. The tests may run as root, for whom the kernel
// ignores permission bits, so they also show that the read-only rules hold for every user.

#include "transfer/LocalFileOperations.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "common/ErrorReport.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

std::string systemText(int code) {
    return std::system_category().message(code);
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 0777;
}

void setMode(const fs::path& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

timespec modifiedTime(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mtim;
}

void setModifiedTime(const fs::path& path, std::time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A failure must leave its own reason, not whatever an earlier operation left behind.
void clearLastError() {
    setLastError("(no failure recorded)");
}

class LocalFileOperationsTest : public ::testing::Test {
  protected:
    fs::path at(const std::string& name) const { return folder_.path() / name; }
    fs::path file(const std::string& name, const std::string& bytes, mode_t mode = 0644) {
        const fs::path path = at(name);
        writeFile(path, bytes);
        setMode(path, mode);
        return path;
    }

    TempFolder folder_{"kelvane-localops"};
};

TEST_F(LocalFileOperationsTest, DeleteHonoursReadOnly) {
    const fs::path writable = file("writable.txt", "w");
    EXPECT_TRUE(deleteLocalFile(writable, false));
    EXPECT_FALSE(fs::exists(writable));

    const fs::path readOnly = file("read-only.txt", "r", 0444);
    clearLastError();
    EXPECT_FALSE(deleteLocalFile(readOnly, false));
    EXPECT_EQ(lastErrorText(), systemText(EACCES));
    EXPECT_TRUE(fs::exists(readOnly));
    EXPECT_EQ(modeOf(readOnly), 0444u);

    EXPECT_TRUE(deleteLocalFile(readOnly, true));
    EXPECT_FALSE(fs::exists(readOnly));

    clearLastError();
    EXPECT_FALSE(deleteLocalFile(at("missing.txt"), true));
    EXPECT_EQ(lastErrorText(), systemText(ENOENT));
}

TEST_F(LocalFileOperationsTest, DeleteRemovesALinkButNotItsReadOnlyTarget) {
    const fs::path target = file("target.txt", "kept", 0444);
    fs::create_symlink(target, at("link.txt"));
    EXPECT_TRUE(deleteLocalFile(at("link.txt"), false));
    EXPECT_FALSE(fs::is_symlink(at("link.txt")));
    EXPECT_EQ(readFile(target), "kept");
}

TEST_F(LocalFileOperationsTest, CopyKeepsBytesTimeAndPermissions) {
    std::string bytes(700'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 31 % 251);
    }
    const fs::path source = file("source.bin", bytes, 0640);
    setModifiedTime(source, 1'300'000'000, 123'456'789);

    ASSERT_TRUE(copyLocalFile(source, at("copy.bin"), true, false)) << lastErrorText();
    EXPECT_EQ(readFile(at("copy.bin")), bytes);
    const timespec copied = modifiedTime(at("copy.bin"));
    EXPECT_EQ(copied.tv_sec, 1'300'000'000);
    EXPECT_EQ(copied.tv_nsec, 123'456'789);
    EXPECT_EQ(modeOf(at("copy.bin")), 0640u);
    // Nothing but the two files: the temporary file went into place.
    EXPECT_EQ(namesIn(folder_.path()), (std::set<std::string>{"source.bin", "copy.bin"}));
}

TEST_F(LocalFileOperationsTest, CopyOverAnExistingFile) {
    const fs::path source = file("source.txt", "new");
    const fs::path destination = file("destination.txt", "old", 0600);

    clearLastError();
    EXPECT_FALSE(copyLocalFile(source, destination, true, false));
    EXPECT_EQ(lastErrorText(), systemText(EEXIST));
    EXPECT_EQ(readFile(destination), "old");

    ASSERT_TRUE(copyLocalFile(source, destination, false, false)) << lastErrorText();
    EXPECT_EQ(readFile(destination), "new");
    // The replaced file's permissions stay; a private file does not become readable to all.
    EXPECT_EQ(modeOf(destination), 0600u);
    EXPECT_EQ(namesIn(folder_.path()), (std::set<std::string>{"source.txt", "destination.txt"}));
}

TEST_F(LocalFileOperationsTest, CopyOntoAReadOnlyFile) {
    const fs::path source = file("source.txt", "new");
    const fs::path destination = file("destination.txt", "old", 0444);

    clearLastError();
    EXPECT_FALSE(copyLocalFile(source, destination, false, false));
    EXPECT_EQ(lastErrorText(), systemText(EACCES));
    EXPECT_EQ(readFile(destination), "old");

    ASSERT_TRUE(copyLocalFile(source, destination, false, true)) << lastErrorText();
    EXPECT_EQ(readFile(destination), "new");
    EXPECT_EQ(modeOf(destination), 0444u);
}

TEST_F(LocalFileOperationsTest, FailedCopyLeavesNothingBehind) {
    clearLastError();
    EXPECT_FALSE(copyLocalFile(at("missing.txt"), at("copy.txt"), false, false));
    EXPECT_EQ(lastErrorText(), systemText(ENOENT));

    fs::create_directory(at("folder"));
    const fs::path destination = file("destination.txt", "old");
    clearLastError();
    EXPECT_FALSE(copyLocalFile(at("folder"), destination, false, false));
    EXPECT_EQ(lastErrorText(), systemText(EISDIR));
    EXPECT_EQ(readFile(destination), "old");

    clearLastError();
    EXPECT_FALSE(copyLocalFile(destination, at("no-such-folder") / "copy.txt", false, false));
    EXPECT_EQ(lastErrorText(), systemText(ENOENT));

    EXPECT_EQ(namesIn(folder_.path()), (std::set<std::string>{"folder", "destination.txt"}));
}

TEST_F(LocalFileOperationsTest, MoveRenamesAndHonoursAReadOnlyDestination) {
    const fs::path first = file("first.txt", "first", 0640);
    setModifiedTime(first, 1'200'000'000, 0);
    ASSERT_TRUE(moveLocalFile(first, at("moved.txt"), false)) << lastErrorText();
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(readFile(at("moved.txt")), "first");
    EXPECT_EQ(modifiedTime(at("moved.txt")).tv_sec, 1'200'000'000);
    EXPECT_EQ(modeOf(at("moved.txt")), 0640u);

    const fs::path second = file("second.txt", "second");
    const fs::path readOnly = file("read-only.txt", "old", 0444);
    clearLastError();
    EXPECT_FALSE(moveLocalFile(second, readOnly, false));
    EXPECT_EQ(lastErrorText(), systemText(EACCES));
    EXPECT_EQ(readFile(readOnly), "old");
    EXPECT_TRUE(fs::exists(second));

    ASSERT_TRUE(moveLocalFile(second, readOnly, true)) << lastErrorText();
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(readFile(readOnly), "second");
    EXPECT_EQ(modeOf(readOnly), 0444u);

    clearLastError();
    EXPECT_FALSE(moveLocalFile(at("missing.txt"), at("anywhere.txt"), true));
    EXPECT_EQ(lastErrorText(), systemText(ENOENT));
}

// A second file system is needed; /dev/shm is a memory file system on most Linux systems.
TEST_F(LocalFileOperationsTest, MoveAcrossFileSystems) {
    std::string pattern = "/dev/shm/kelvane-localops-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        GTEST_SKIP() << "no /dev/shm to move to";
    }
    const fs::path other = pattern;
    struct stat here {
    }, there{};
    ::stat(folder_.path().c_str(), &here);
    ::stat(other.c_str(), &there);
    if (here.st_dev == there.st_dev) {
        fs::remove_all(other);
        GTEST_SKIP() << "/dev/shm is on the same file system as the temporary folder";
    }

    const fs::path source = file("source.txt", "travels", 0604);
    setModifiedTime(source, 1'100'000'000, 500);
    const fs::path destination = other / "destination.txt";
    const bool moved = moveLocalFile(source, destination, false);
    const std::string reason = lastErrorText();
    const std::string bytes = readFile(destination);
    const mode_t mode = modeOf(destination);
    const timespec time = modifiedTime(destination);
    fs::remove_all(other);

    ASSERT_TRUE(moved) << reason;
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(bytes, "travels");
    EXPECT_EQ(mode, 0604u);
    EXPECT_EQ(time.tv_sec, 1'100'000'000);
}

TEST_F(LocalFileOperationsTest, CreateDirectory) {
    fs::create_directory(at("existing"));
    EXPECT_TRUE(createLocalDirectory(at("existing")));

    ASSERT_TRUE(createLocalDirectory(at("private"), fs::perms::owner_all));
    EXPECT_TRUE(fs::is_directory(at("private")));
    EXPECT_EQ(modeOf(at("private")), 0700u);

    file("a-file", "x");
    clearLastError();
    EXPECT_FALSE(createLocalDirectory(at("a-file")));
    EXPECT_EQ(lastErrorText(), systemText(EEXIST));

    clearLastError();
    EXPECT_FALSE(createLocalDirectory(at("missing") / "child"));
    EXPECT_EQ(lastErrorText(), systemText(ENOENT));
}

TEST_F(LocalFileOperationsTest, RemoveDirectoryHonoursReadOnly) {
    fs::create_directory(at("plain"));
    EXPECT_TRUE(removeLocalDirectory(at("plain"), false));
    EXPECT_FALSE(fs::exists(at("plain")));

    fs::create_directory(at("read-only"));
    setMode(at("read-only"), 0555);
    clearLastError();
    EXPECT_FALSE(removeLocalDirectory(at("read-only"), false));
    EXPECT_EQ(lastErrorText(), systemText(EACCES));
    EXPECT_TRUE(fs::is_directory(at("read-only")));

    EXPECT_TRUE(removeLocalDirectory(at("read-only"), true)) << lastErrorText();
    EXPECT_FALSE(fs::exists(at("read-only")));

    // A folder that is not empty stays, read-only as it was.
    fs::create_directory(at("full"));
    file("full/inside.txt", "x");
    setMode(at("full"), 0555);
    clearLastError();
    EXPECT_FALSE(removeLocalDirectory(at("full"), true));
    EXPECT_EQ(lastErrorText(), systemText(ENOTEMPTY));
    EXPECT_EQ(modeOf(at("full")), 0555u);
    setMode(at("full"), 0755);
}

}  // namespace
