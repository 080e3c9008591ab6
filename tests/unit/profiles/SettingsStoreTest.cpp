#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "profiles/SettingsStore.h"

#include <sys/stat.h>

#include "support/TempFolder.h"

namespace fs = std::filesystem;

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

}  // namespace

TEST(SettingsStore, ValuesSurviveInTheFileWithTheirTypesAndEveryByte) {
    TempFolder temp;
    const std::string awkward = std::string("C:\\logs\\n\r\nsecond line\ttab\x01\x7f", 28) +
                                std::string(1, '\0') + "after NUL \xff\xc3\xa9 \\x41";
    {
        FileSettingsStore store(temp.path());
        EXPECT_TRUE(store.writeDword("CommandTimeout", 60));
        EXPECT_TRUE(store.writeDword("AdjustHours", static_cast<std::uint32_t>(-5)));
        EXPECT_TRUE(store.writeDword("Biggest", 4294967295u));
        EXPECT_TRUE(store.writeString("LogPath", awkward));
        EXPECT_TRUE(store.writeString("Empty", ""));
    }
    // A fresh store reads from disk only.
    FileSettingsStore store(temp.path());
    EXPECT_EQ(store.readDword("CommandTimeout"), 60u);
    EXPECT_EQ(static_cast<std::int32_t>(store.readDword("AdjustHours").value()), -5);
    EXPECT_EQ(store.readDword("Biggest"), 4294967295u);
    EXPECT_EQ(store.readString("LogPath"), awkward);
    EXPECT_EQ(store.readString("Empty"), "");
    EXPECT_EQ(store.readString("Missing"), std::nullopt);
    EXPECT_EQ(store.readDword("Missing"), std::nullopt);
    // A value of the other type is no value of this one.
    EXPECT_EQ(store.readString("CommandTimeout"), std::nullopt);
    EXPECT_EQ(store.readDword("LogPath"), std::nullopt);

    // Every value stays on one line of text.
    const std::string content = readFile(store.filePath());
    EXPECT_NE(content.find("CommandTimeout=dword:60\n"), std::string::npos);
    EXPECT_NE(content.find("AdjustHours=dword:4294967291\n"), std::string::npos);
    EXPECT_NE(content.find("LogPath=sz:C:\\\\logs\\\\n\\r\\nsecond line\\ttab\\x01\\x7F\\0after"),
              std::string::npos);
    EXPECT_EQ(content.find('\r'), std::string::npos);
    EXPECT_EQ(content.find('\0'), std::string::npos);
}

TEST(SettingsStore, RewritingAValueKeepsEverythingElseInPlace) {
    TempFolder temp;
    const fs::path file = temp.path() / "Kelvane.conf";
    writeFile(file,
              "# kept by hand\n"
              "ShowTooltips=dword:0\n"
              "commandtimeout = dword: 90\r\n"
              "not a setting\n"
              "LogPath=sz:/var/log/a\n"
              "CommandTimeout=dword:120\n");
    FileSettingsStore store(temp.path());
    // Names compare without case; blanks around names and numbers are allowed; the last wins.
    EXPECT_EQ(store.readDword("CommandTimeout"), 120u);
    EXPECT_EQ(store.readDword("COMMANDTIMEOUT"), 120u);

    ASSERT_TRUE(store.writeDword("CommandTimeout", 30));
    EXPECT_EQ(readFile(file),
              "# kept by hand\n"
              "ShowTooltips=dword:0\n"
              "CommandTimeout=dword:30\n"
              "not a setting\n"
              "LogPath=sz:/var/log/a\n");
    ASSERT_TRUE(store.writeString("OpenPath", "/home/ann"));
    EXPECT_EQ(store.readString("LogPath"), "/var/log/a");
    EXPECT_EQ(store.readString("OpenPath"), "/home/ann");
    EXPECT_EQ(store.readDword("ShowTooltips"), 0u);
}

TEST(SettingsStore, DamagedLinesAreSkipped) {
    TempFolder temp;
    writeFile(temp.path() / "Kelvane.conf",
              "MaxCommandRetries=dword:5\n"
              "MaxCommandRetries=dword:five\n"  // damaged: the earlier value stands
              "CommandTimeout=dword:\n"
              "BrowseStyle=dword:4294967296\n"
              "AdjustMins=dword:-2147483649\n"
              "AdjustHours=dword:-3\n"
              "LogPath=sz:bad escape \\q\n"
              "OpenPath=sz:cut off \\x4\n"
              "BrowseStyle=sz:\\xG1\n"
              "ProfilePath=text:/a.kvp\n"
              "=dword:3\n"
              "\xff\xfe garbage without equals\n"
              "LogOn=dword:1");  // no final line end
    FileSettingsStore store(temp.path());
    EXPECT_EQ(store.readDword("MaxCommandRetries"), 5u);
    EXPECT_EQ(store.readDword("CommandTimeout"), std::nullopt);
    EXPECT_EQ(store.readDword("BrowseStyle"), std::nullopt);
    EXPECT_EQ(store.readDword("AdjustMins"), std::nullopt);
    EXPECT_EQ(store.readDword("AdjustHours"), static_cast<std::uint32_t>(-3));
    EXPECT_EQ(store.readString("LogPath"), std::nullopt);
    EXPECT_EQ(store.readString("OpenPath"), std::nullopt);
    EXPECT_EQ(store.readString("ProfilePath"), std::nullopt);
    EXPECT_EQ(store.readDword("LogOn"), 1u);
}

TEST(SettingsStore, FirstWriteCreatesPrivateFolders) {
    TempFolder temp;
    const fs::path folder = temp.path() / "config" / "Quillmere";
    FileSettingsStore store(folder);
    EXPECT_EQ(store.readDword("CommandTimeout"), std::nullopt);
    EXPECT_FALSE(fs::exists(folder));  // reading creates nothing

    ASSERT_TRUE(store.writeDword("CommandTimeout", 45)) << store.lastError();
    EXPECT_EQ(modeOf(temp.path() / "config"), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(store.filePath()), 0600u);
    EXPECT_EQ(store.readDword("CommandTimeout"), 45u);
    // The file explains its own format to whoever opens it.
    EXPECT_EQ(readFile(store.filePath()).rfind("# ", 0), 0u);
}

TEST(SettingsStore, AFileThatCannotBeReadIsNeitherReadNorReplaced) {
    TempFolder temp;
    // A folder where the file should be: it opens but cannot be read.
    fs::create_directory(temp.path() / "Kelvane.conf");
    writeFile(temp.path() / "Kelvane.conf" / "inside", "x");
    FileSettingsStore store(temp.path());
    EXPECT_EQ(store.readDword("CommandTimeout"), std::nullopt);
    EXPECT_FALSE(store.writeDword("CommandTimeout", 5));
    EXPECT_FALSE(store.lastError().empty());
    EXPECT_TRUE(fs::exists(temp.path() / "Kelvane.conf" / "inside"));

    // A folder that cannot be created (its parent is a file) fails the write cleanly.
    writeFile(temp.path() / "plain", "x");
    FileSettingsStore blocked(temp.path() / "plain" / "Quillmere");
    EXPECT_FALSE(blocked.writeString("LogPath", "/x"));
    EXPECT_FALSE(blocked.lastError().empty());
}

TEST(SettingsStore, InvalidNamesAreRefused) {
    TempFolder temp;
    FileSettingsStore store(temp.path());
    EXPECT_FALSE(store.writeDword("", 1));
    EXPECT_FALSE(store.writeDword("A=B", 1));
    EXPECT_FALSE(store.writeString("Two\nLines", "x"));
    EXPECT_FALSE(store.writeString("#Comment", "x"));
    EXPECT_FALSE(fs::exists(store.filePath()));
}
