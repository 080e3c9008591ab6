#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "common/Prompter.h"
#include "profiles/PersistentRecord.h"
#include "transfer/ConnectionsFile.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include "support/TempFolder.h"

namespace fs = std::filesystem;

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

const fs::path kSample = fs::path(KELVANE_TEST_DATA) / "connections" / "KelvaneConnections.txt";

ConnectionList loadText(const TempFolder& temp, const std::string& content) {
    writeFile(temp.path() / "conn.txt", content);
    return loadConnections(temp.path() / "conn.txt");
}

// Records what reportError shows and logs.
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

class ConnectionsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldPrompter_ = setPrompter(&prompter_);
        oldLog_ = setErrorLog(&log_);
        oldQuiet_ = quietMode.exchange(false);
    }
    void TearDown() override {
        setPrompter(oldPrompter_);
        setErrorLog(oldLog_);
        quietMode = oldQuiet_;
        fileFormatVersion = CurrentFormatVersion;
    }

    RecordingPrompter prompter_;
    RecordingLog log_;
    TempFolder temp_;

  private:
    Prompter* oldPrompter_ = nullptr;
    ErrorLog* oldLog_ = nullptr;
    bool oldQuiet_ = false;
};

std::shared_ptr<ConnectionDetails> makeConnection(const std::string& name) {
    auto connection = std::make_shared<ConnectionDetails>();
    connection->name = name;
    connection->server = name + ".example";
    connection->user = "u";
    connection->password = "pw";
    return connection;
}

}  // namespace

TEST_F(ConnectionsFileTest, AHandWrittenFileLoadsAndSavesByteForByte) {
    const ConnectionList connections = loadConnections(kSample);
    ASSERT_EQ(connections.size(), 2u);
    const ConnectionDetails& a = *connections[0];
    EXPECT_EQ(a.name, "alpha-site");
    EXPECT_EQ(a.server, "ftp.alpha.example");
    EXPECT_EQ(a.user, "webmaster");
    EXPECT_EQ(a.password, "s3cret!");
    EXPECT_EQ(a.email, "");
    EXPECT_EQ(a.port, 2121);
    EXPECT_TRUE(a.passive);
    const ConnectionDetails& b = *connections[1];
    EXPECT_EQ(b.name, "Beta Mirror");
    EXPECT_EQ(b.server, "192.0.2.7");
    EXPECT_EQ(b.user, "deploy");
    EXPECT_EQ(b.password, "Z\xc3\xbcrich-9");  // bytes past 191 wrap round
    EXPECT_EQ(b.email, "ops@example.org");
    EXPECT_EQ(b.port, 0);
    EXPECT_FALSE(b.passive);

    const fs::path saved = temp_.path() / "KelvaneConnections.txt";
    ASSERT_TRUE(saveConnections(saved, connections));
    EXPECT_EQ(readFile(saved), readFile(kSample));
    struct stat info {};
    ASSERT_EQ(::stat(saved.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);  // it holds passwords
    EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(ConnectionsFileTest, PasswordsAreScrambledByteWise) {
    EXPECT_EQ(scramblePassword("abc"), "\xa1\xa2\xa3");
    EXPECT_EQ(unscramblePassword("\xa1\xa2\xa3"), "abc");
    EXPECT_EQ(scramblePassword("\xc0\xff"), std::string("\x00\x3f", 2));
    EXPECT_EQ(unscramblePassword(std::string("\x00\x3f", 2)), "\xc0\xff");
}

TEST_F(ConnectionsFileTest, KeysMayComeInAnyOrderWithBlanksAndLoneLineFeeds) {
    const ConnectionList connections =
        loadText(temp_,
                 "KelvaneVersion=1.05\n"
                 "PassiveMode=1\n"
                 "  Port Number = 990\n"
                 "Server Name=  spaced.example \n"
                 "ConnectionName=first\n"
                 "EndRecord=\n"
                 "ConnectionName=last\r\n"
                 "UserName=anna\r\n");  // no EndRecord: the end of the file ends the record
    EXPECT_DOUBLE_EQ(fileFormatVersion, 1.05);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0]->name, "first");
    EXPECT_TRUE(connections[0]->passive);
    EXPECT_EQ(connections[0]->port, 990);
    EXPECT_EQ(connections[0]->server, "  spaced.example ");  // values are verbatim
    EXPECT_EQ(connections[1]->name, "last");
    EXPECT_EQ(connections[1]->user, "anna");
    EXPECT_EQ(connections[1]->server, "");
}

TEST_F(ConnectionsFileTest, AnUnknownKeyTakesTheNextKeyWithIt) {
    // The unknown key's value runs into the next key ("noteServerName"), which is unknown too;
    // the loss stops at the first key that follows an empty value.
    const ConnectionList connections = loadText(temp_,
                                                "ConnectionName=site\r\n"
                                                "Comment=note\r\n"
                                                "ServerName=lost.example\r\n"
                                                "UserName=\r\n"
                                                "Email=kept@example.org\r\n"
                                                "EndRecord=\r\n");
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0]->server, "");
    EXPECT_EQ(connections[0]->email, "kept@example.org");

    // A key written in another case is unknown as well.
    const ConnectionList lower = loadText(temp_,
                                          "connectionname=x\r\n"
                                          "ConnectionName=y\r\n"
                                          "EndRecord=\r\n");
    EXPECT_TRUE(lower.empty());
}

TEST_F(ConnectionsFileTest, ConnectionsWithoutANameAreNeitherLoadedNorSaved) {
    const ConnectionList loaded = loadText(temp_,
                                           "KelvaneVersion=1.06\r\n"
                                           "ServerName=nameless.example\r\n"
                                           "EndRecord=\r\n"
                                           "ConnectionName=named\r\n"
                                           "EndRecord=\r\n"
                                           "trailing text\r\n");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->name, "named");

    ConnectionList list{makeConnection("one"), makeConnection(""), makeConnection("two")};
    const fs::path file = temp_.path() / "saved.txt";
    ASSERT_TRUE(saveConnections(file, list));
    const std::string content = readFile(file);
    EXPECT_EQ(content.find("nameless"), std::string::npos);
    EXPECT_EQ(content.find(".example\r\nUserName=u\r\nPassword=\xb0\xb7\r\n"),
              content.find("one.example") + 3);
    const ConnectionList back = loadConnections(file);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1]->name, "two");

    ASSERT_TRUE(saveConnections(file, {}));
    EXPECT_EQ(readFile(file), "KelvaneVersion=1.06\r\n");
    EXPECT_TRUE(loadConnections(file).empty());
}

TEST_F(ConnectionsFileTest, AMissingFileIsAnEmptyListWithoutAMessage) {
    EXPECT_TRUE(loadConnections(temp_.path() / "absent.txt").empty());
    EXPECT_TRUE(loadConnections(temp_.path()).empty());  // a folder, not a file
    EXPECT_TRUE(prompter_.messages.empty());
    EXPECT_TRUE(log_.lines.empty());
}

TEST_F(ConnectionsFileTest, FindConnectionMatchesTheWholeNameExactly) {
    const ConnectionList list{makeConnection("Site"), makeConnection("Site 2"),
                              makeConnection("Site")};
    EXPECT_EQ(findConnection(list, "Site"), list[0]);
    EXPECT_EQ(findConnection(list, "Site 2"), list[1]);
    EXPECT_EQ(findConnection(list, "site"), nullptr);
    EXPECT_EQ(findConnection(list, "Sit"), nullptr);
    EXPECT_EQ(findConnection(list, ""), nullptr);
}

TEST_F(ConnectionsFileTest, AFailedSaveKeepsTheOldFileAndSaysSo) {
    // A folder that cannot exist: its parent is a regular file (the tests run as root, so
    // permissions would not stop the write).
    writeFile(temp_.path() / "file.txt", "x");
    const fs::path impossible = temp_.path() / "file.txt" / "KelvaneConnections.txt";
    EXPECT_FALSE(saveConnections(impossible, {makeConnection("a")}));
    ASSERT_EQ(prompter_.messages.size(), 1u);
    EXPECT_EQ(prompter_.messages[0], "Unable to save modified connection details");
    ASSERT_EQ(log_.lines.size(), 1u);
    EXPECT_EQ(log_.lines[0],
              "CSynchroniserDlg::saveConnections: Unable to save modified connection details");

    // A write that fails half-way (the file size limit) leaves the previous file whole.
    const fs::path file = temp_.path() / "KelvaneConnections.txt";
    fs::copy_file(kSample, file);
    ConnectionList many;
    for (int i = 0; i < 50; ++i) {
        many.push_back(makeConnection("connection" + std::to_string(i)));
    }
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 512;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = saveConnections(file, many);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(file), readFile(kSample));
    EXPECT_EQ(prompter_.messages.size(), 2u);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()), fs::directory_iterator()), 2)
        << "no temporary file is left behind";
}

TEST_F(ConnectionsFileTest, SavingThroughASymbolicLinkUpdatesTheLinkedFile) {
    const fs::path real = temp_.path() / "shared" / "connections.txt";
    fs::create_directory(temp_.path() / "shared");
    fs::copy_file(kSample, real);
    const fs::path link = temp_.path() / "KelvaneConnections.txt";
    fs::create_symlink(real, link);

    ConnectionList list = loadConnections(link);
    list.push_back(makeConnection("third"));
    ASSERT_TRUE(saveConnections(link, list));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loadConnections(real).size(), 3u);
}

TEST_F(ConnectionsFileTest, TlsSettingsLiveBesideTheFileAndLeaveItAsEarlierVersionsReadIt) {
    const fs::path file = temp_.path() / "KelvaneConnections.txt";
    const fs::path tls = temp_.path() / "KelvaneConnections.tls.txt";
    EXPECT_EQ(tlsSettingsPath(file), tls);

    // A file of before: everything plain FTP, and saving it makes no TLS file.
    const ConnectionList old = loadConnections(kSample);
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[0]->tlsMode, ftp::TlsMode::Off);
    ASSERT_TRUE(saveConnections(file, old));
    EXPECT_FALSE(fs::exists(tls));

    // TLS on one connection: the connections file is byte for byte what it was.
    old[1]->tlsMode = ftp::TlsMode::Offered;
    old[1]->tlsFingerprint = ftp::formatFingerprint(std::string(64, 'A'));
    ASSERT_TRUE(saveConnections(file, old));
    EXPECT_EQ(readFile(file), readFile(kSample));
    const ConnectionList back = loadConnections(file);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0]->tlsMode, ftp::TlsMode::Off);
    EXPECT_EQ(back[1]->tlsMode, ftp::TlsMode::Offered);
    EXPECT_EQ(back[1]->tlsFingerprint, old[1]->tlsFingerprint);

    // Turned off again: the TLS file stays true rather than stale.
    back[1]->tlsMode = ftp::TlsMode::Off;
    back[1]->tlsFingerprint.clear();
    ASSERT_TRUE(saveConnections(file, back));
    EXPECT_EQ(loadConnections(file)[1]->tlsMode, ftp::TlsMode::Off);

    // Hand-written: a record for a name not in the file, an unknown mode and a fingerprint that
    // is no fingerprint are skipped; colons and case in a fingerprint do not matter.
    writeFile(tls,
              "KelvaneTls=1\r\nConnectionName=nobody\r\nTlsMode=required\r\nEndRecord=\r\n"
              "ConnectionName=alpha-site\r\nTlsMode=REQUIRED\r\nTlsFingerprint=" +
                  std::string(64, 'b') +
                  "\r\nEndRecord=\r\nConnectionName=Beta Mirror\r\nTlsMode=sometimes\r\n"
                  "TlsFingerprint=12:34\r\nEndRecord=\r\n");
    const ConnectionList hand = loadConnections(file);
    ASSERT_EQ(hand.size(), 2u);
    EXPECT_EQ(hand[0]->tlsMode, ftp::TlsMode::Required);
    EXPECT_EQ(hand[0]->tlsFingerprint, ftp::formatFingerprint(std::string(64, 'B')));
    EXPECT_EQ(hand[1]->tlsMode, ftp::TlsMode::Off);
    EXPECT_EQ(hand[1]->tlsFingerprint, "");
}

TEST(TlsNames, FingerprintsAndModesAreReadInEverySpellingAPersonTypes) {
    const std::string digits(64, 'C');
    const std::string colons = ftp::formatFingerprint(digits);
    EXPECT_EQ(colons.size(), 95u);
    EXPECT_EQ(colons.substr(0, 6), "CC:CC:");
    for (const std::string& typed :
         {digits, colons, std::string(64, 'c'), std::string("cc cc") + std::string(60, 'C')}) {
        EXPECT_EQ(ftp::normaliseFingerprint(typed), digits) << typed;
    }
    for (const std::string& wrong :
         {std::string(63, 'C'), std::string(66, 'C'), std::string(63, 'C') + "G", std::string()}) {
        EXPECT_EQ(ftp::normaliseFingerprint(wrong), "") << wrong;
    }
    ftp::TlsMode mode = ftp::TlsMode::Off;
    for (auto [text, expected] :
         {std::pair{"off", ftp::TlsMode::Off}, std::pair{"Required", ftp::TlsMode::Required},
          std::pair{"OFFERED", ftp::TlsMode::Offered}}) {
        ASSERT_TRUE(ftp::parseTlsMode(text, mode)) << text;
        EXPECT_EQ(mode, expected);
        EXPECT_TRUE(ftp::parseTlsMode(ftp::tlsModeName(expected), mode));
    }
    EXPECT_FALSE(ftp::parseTlsMode("yes", mode));
}
