#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ProfileTestFiles.h"
#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "profiles/BatchList.h"

namespace {

using profiletest::dataFile;
using profiletest::readBytes;
using profiletest::TempFolder;
using profiletest::withoutCarriageReturns;
using profiletest::writeBytes;

using Paths = std::vector<std::string>;

class BatchListTest : public profiletest::FormatVersionGuard {};

BatchList readBatch(const std::string& text) {
    BatchList batch;
    batch.profilePaths = {"/left/over.kvp"};
    batch.modified = true;
    std::istringstream in(text);
    batch.read(in);
    EXPECT_FALSE(batch.modified);
    return batch;
}

// The person at the screen: records every message box.
class RecordingPrompter : public Prompter {
  public:
    void messageBox(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string&) override { return false; }
    ConfirmAnswer confirmDelete(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&) override {
        return ConfirmAnswer::Cancel;
    }
    std::vector<std::string> messages;
};

class RecordingLog : public ErrorLog {
  public:
    bool isOpen() const override { return true; }
    void writeLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(BatchListTest, SampleFileRoundTripsByteForByte) {
    const std::string sample = readBytes(dataFile("batch.kvb"));
    BatchList batch;
    ASSERT_TRUE(batch.loadFromFile(dataFile("batch.kvb")));
    EXPECT_TRUE(batch.valid);
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.06);
    // Order and duplicates are kept: the same profile runs twice.
    EXPECT_EQ(batch.profilePaths,
              (Paths{"/home/ann/profiles/river.kvp", "/home/ann/profiles/Bakery Site.kvp",
                     "/home/ann/profiles/river.kvp"}));

    TempFolder folder;
    batch.modified = true;
    std::string error;
    ASSERT_TRUE(batch.saveToFile(folder.path() / "copy.kvb", &error)) << error;
    EXPECT_FALSE(batch.modified);
    EXPECT_EQ(readBytes(folder.path() / "copy.kvb"), sample);

    writeBytes(folder.path() / "unix.kvb", withoutCarriageReturns(sample));
    BatchList unix;
    ASSERT_TRUE(unix.loadFromFile(folder.path() / "unix.kvb"));
    EXPECT_TRUE(unix.valid);
    EXPECT_EQ(unix.profilePaths, batch.profilePaths);

    BatchList empty;
    std::ostringstream out;
    empty.write(out);
    EXPECT_EQ(out.str(),
              "file_type=Kelvane_batch\r\nkelvane_version=1.06\r\nprofiles=\r\nend_profiles\r\n");

    EXPECT_FALSE(empty.saveToFile(folder.path() / "missing" / "x.kvb"));
    EXPECT_FALSE(empty.loadFromFile(folder.path() / "absent.kvb"));
}

TEST_F(BatchListTest, ReadingRules) {
    // Blanks around keys are dropped; blank lines before the first path are skipped, an empty
    // line after it is a path of its own, and paths are kept verbatim.
    BatchList blanks = readBatch(
        "  file_type = Kelvane_batch \r\nkelvane_version=1.07\r\n"
        "profiles=\r\n\r\n  /a.kvp\r\n\r\n/b.kvp \r\nend_profiles\r\n");
    EXPECT_TRUE(blanks.valid);
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.07);
    EXPECT_EQ(blanks.profilePaths, (Paths{"/a.kvp", "", "/b.kvp "}));

    // A key this version does not know has no value read for it, so its value runs into the
    // next key and that key is lost. Files of this program never hold one.
    BatchList unknown = readBatch(
        "file_type=Kelvane_batch\r\nkelvane_version=1.06\r\nwindow=max\r\n"
        "profiles=\r\n/a.kvp\r\nend_profiles\r\n");
    EXPECT_TRUE(unknown.valid);
    EXPECT_TRUE(unknown.profilePaths.empty());

    // Without end_profiles the paths up to the end of the file are kept.
    BatchList open = readBatch(
        "file_type=Kelvane_batch\r\nkelvane_version=1.06\r\nprofiles=\r\n/a.kvp\r\n/b.kvp");
    EXPECT_TRUE(open.valid);
    EXPECT_EQ(open.profilePaths, (Paths{"/a.kvp", "/b.kvp"}));

    const char* notBatches[] = {
        "",
        "kelvane_version=1.06\r\nfile_type=Kelvane_batch\r\nprofiles=\r\n/a.kvp\r\n",
        "file_type=Kelvane_batch\r\nprofiles=\r\n/a.kvp\r\nend_profiles\r\n"
        "kelvane_version=1.06\r\n",
        "file_type=Kelvane_profile\r\nkelvane_version=1.06\r\nprofiles=\r\n/a.kvp\r\n",
        "file_type=kelvane_batch\r\nkelvane_version=1.06\r\n",
        "file_type=Kelvane_batch\r\n",
        "kelvane_version=1.06\r\nlocation1=/x\r\n",
    };
    for (const char* text : notBatches) {
        BatchList batch = readBatch(text);
        EXPECT_FALSE(batch.valid) << text;
        EXPECT_TRUE(batch.profilePaths.empty()) << text;
    }
}

TEST_F(BatchListTest, CheckProfileWantsAValidProfileWithAutoStart) {
    TempFolder folder;
    const std::string good = (folder.path() / "good.kvp").string();
    const std::string manual = (folder.path() / "manual.kvp").string();
    const std::string notProfile = (folder.path() / "notes.kvp").string();
    writeBytes(good, "kelvane_version=1.06\r\nauto_start=2\r\n");
    writeBytes(manual, "kelvane_version=1.06\r\nauto_start=0\r\n");
    writeBytes(notProfile, "file_type=Kelvane_batch\r\n");

    RecordingPrompter person;
    RecordingLog log;
    Prompter* previousPrompter = setPrompter(&person);
    ErrorLog* previousLog = setErrorLog(&log);
    const bool previousQuiet = quietMode.exchange(false);

    EXPECT_TRUE(BatchList::checkProfile(good));
    EXPECT_FALSE(BatchList::checkProfile(manual));
    EXPECT_FALSE(BatchList::checkProfile(notProfile));
    EXPECT_FALSE(BatchList::checkProfile((folder.path() / "gone.kvp").string()));

    quietMode = previousQuiet;
    setErrorLog(previousLog);
    setPrompter(previousPrompter);

    EXPECT_EQ(person.messages,
              (Paths{"The profile " + manual +
                         "\n must have Auto Start selected to be used as a batch profile",
                     notProfile + " is not a valid Kelvane profile"}));
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[1],
              "BatchDlg::checkProfile: " + notProfile + " is not a valid Kelvane profile");
}
