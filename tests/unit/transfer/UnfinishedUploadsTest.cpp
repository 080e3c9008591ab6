// The record of uploads begun and not finished: what a later program reads back, how an upload is
// told apart from uploads of other connections, and what the file holds as programs come and go.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/UnfinishedUploads.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

ConnectionDetails site() {
    ConnectionDetails connection;
    connection.name = "site";
    connection.server = "ftp.example.org";
    connection.port = 21;
    connection.user = "ann";
    return connection;
}

std::size_t lineCount(const fs::path& file) {
    const std::string text = readFile(file);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class UnfinishedUploadsTest : public ::testing::Test {
  protected:
    fs::path file() const { return temp_.path() / "settings" / kUnfinishedUploadsFileName; }
    TempFolder temp_{"kelvane-unfinished"};
};

}  // namespace

TEST_F(UnfinishedUploadsTest, AnUploadBegunIsSeenByTheNextProgramUntilOneFinishesIt) {
    {
        UnfinishedUploads first(file());
        first.begin(site(), "/www/big.bin", 24'000'000);
        // Read while the first is still running, as after it was killed: the line is there.
        UnfinishedUploads next(file());
        EXPECT_TRUE(next.contains(site(), "/www/big.bin"));
        EXPECT_FALSE(next.contains(site(), "/www/other.bin"));
    }
    // A program that ends with the upload unfinished keeps it recorded.
    UnfinishedUploads later(file());
    ASSERT_TRUE(later.contains(site(), "/www/big.bin"));
    later.finish(site(), "/www/big.bin");
    EXPECT_FALSE(later.contains(site(), "/www/big.bin"));
    EXPECT_TRUE(later.empty());
}

TEST_F(UnfinishedUploadsTest, AnUploadBelongsToItsConnectionAndPathOnly) {
    UnfinishedUploads(file()).begin(site(), "/www/big.bin", 10);
    UnfinishedUploads record(file());
    struct Case {
        const char* what;
        void (*change)(ConnectionDetails&);
        bool sameUpload;
    };
    const Case cases[] = {
        {"renamed", [](ConnectionDetails& c) { c.name = "site2"; }, false},
        {"another server", [](ConnectionDetails& c) { c.server = "ftp.example.net"; }, false},
        {"another port", [](ConnectionDetails& c) { c.port = 2121; }, false},
        {"another user", [](ConnectionDetails& c) { c.user = "bob"; }, false},
        {"a new password", [](ConnectionDetails& c) { c.password = "new"; }, true},
        {"passive mode", [](ConnectionDetails& c) { c.passive = !c.passive; }, true},
    };
    for (const Case& item : cases) {
        ConnectionDetails changed = site();
        item.change(changed);
        EXPECT_EQ(record.contains(changed, "/www/big.bin"), item.sameUpload) << item.what;
    }
    EXPECT_FALSE(record.contains(site(), "/www/BIG.bin"));
    EXPECT_FALSE(record.contains(site(), "/www/big.bin/"));
}

TEST_F(UnfinishedUploadsTest, AnyBytesStayInTheirFieldAndOnTheirLine) {
    ConnectionDetails odd = site();
    odd.name = "tab\there 100%";
    odd.user = "line\r\nbreak";
    const std::string path = "/www/a\tb\nc%09d.html";
    UnfinishedUploads(file()).begin(odd, path, 10);
    EXPECT_EQ(lineCount(file()), 1u);
    UnfinishedUploads record(file());
    EXPECT_TRUE(record.contains(odd, path));
    EXPECT_FALSE(record.contains(odd, "/www/a%09b%0Ac%2509d.html"));
    ConnectionDetails plain = site();
    plain.name = "tab";
    EXPECT_FALSE(record.contains(plain, "here 100%\tftp.example.org"));
}

TEST_F(UnfinishedUploadsTest, ALineCutOffByACrashIsDroppedAndNothingIsGluedToIt) {
    fs::create_directories(file().parent_path());
    writeFile(file(),
              "started\tsite\tftp.example.org\t21\tann\t/www/a.html\n"
              "started\tsite\tftp.example.org\t21\tann\t/www/cut");
    {
        UnfinishedUploads record(file());
        EXPECT_TRUE(record.contains(site(), "/www/a.html"));
        EXPECT_FALSE(record.contains(site(), "/www/cut"));
        // Another program keeps the file open, so this one cannot tidy it up and appends.
        UnfinishedUploads other(file());
        record.begin(site(), "/www/b.html", 10);
    }
    UnfinishedUploads next(file());
    EXPECT_TRUE(next.contains(site(), "/www/a.html"));
    EXPECT_TRUE(next.contains(site(), "/www/b.html"));
}

TEST_F(UnfinishedUploadsTest, TheFileKeepsOnlyWhatIsUnfinishedAndGoesWhenNothingIs) {
    {
        UnfinishedUploads record(file());
        for (int i = 0; i < 10; ++i) {
            const std::string path = "/www/page" + std::to_string(i) + ".html";
            record.begin(site(), path, 10);
            record.finish(site(), path);
        }
        record.begin(site(), "/www/big.bin", 10);
        EXPECT_EQ(lineCount(file()), 21u) << "appended, never rewritten per upload";
    }
    EXPECT_EQ(lineCount(file()), 1u);
    {
        UnfinishedUploads record(file());
        record.finish(site(), "/www/big.bin");
    }
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(UnfinishedUploadsTest, TwoProgramsAtOnceLoseNeitherOnesLines) {
    auto first = std::make_unique<UnfinishedUploads>(file());
    auto second = std::make_unique<UnfinishedUploads>(file());
    first->begin(site(), "/www/first.bin", 10);
    second->begin(site(), "/www/second.bin", 10);
    second->begin(site(), "/www/done.bin", 10);
    second->finish(site(), "/www/done.bin");
    // Only what a program itself knows to be unfinished is finished by it.
    second->finish(site(), "/www/first.bin");
    second.reset();  // the first still has the file open: it is left as it is
    first->begin(site(), "/www/third.bin", 10);
    first.reset();  // alone now: rewritten
    EXPECT_EQ(lineCount(file()), 3u);
    UnfinishedUploads next(file());
    EXPECT_TRUE(next.contains(site(), "/www/first.bin"));
    EXPECT_TRUE(next.contains(site(), "/www/second.bin"));
    EXPECT_TRUE(next.contains(site(), "/www/third.bin"));
    EXPECT_FALSE(next.contains(site(), "/www/done.bin"));
}

TEST_F(UnfinishedUploadsTest, AFileThatCannotBeWrittenCostsTheRepairNotTheUpload) {
    writeFile(temp_.path() / "settings", "a file where the folder should be");
    UnfinishedUploads record(file());
    record.begin(site(), "/www/big.bin", 10);
    EXPECT_TRUE(record.contains(site(), "/www/big.bin"));
    record.finish(site(), "/www/big.bin");
    EXPECT_TRUE(record.empty());
}
