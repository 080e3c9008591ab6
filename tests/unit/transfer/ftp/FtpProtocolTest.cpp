// The small pure decisions of the client's conversation, checked with tables: which address a
// passive data connection goes to, what PWD and FEAT replies mean, and which names are refused.

#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpProtocol.h"

namespace {

TEST(FtpProtocolTest, PassiveAddressFallsBackToTheControlPeerWhenUnusable) {
    struct Case {
        const char* pasv;
        const char* peer;
        const char* expected;
    };
    const Case cases[] = {
        // A server behind NAT names its private address; the client reaches its public one.
        {"192.168.1.20", "203.0.113.7", "203.0.113.7"},
        {"10.0.0.5", "203.0.113.7", "203.0.113.7"},
        {"172.16.4.4", "203.0.113.7", "203.0.113.7"},
        {"172.31.255.1", "198.51.100.1", "198.51.100.1"},
        {"127.0.0.1", "203.0.113.7", "203.0.113.7"},
        {"169.254.3.3", "203.0.113.7", "203.0.113.7"},
        {"100.64.0.9", "203.0.113.7", "203.0.113.7"},
        // 0.0.0.0 never names a host to connect to.
        {"0.0.0.0", "127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "192.168.1.20", "192.168.1.20"},
        // Both private (same LAN, or loopback tests): the server's word stands.
        {"192.168.1.20", "192.168.1.1", "192.168.1.20"},
        {"127.0.0.1", "127.0.0.1", "127.0.0.1"},
        // A public address stands, even when it differs (a separate data host).
        {"198.51.100.9", "203.0.113.7", "198.51.100.9"},
        {"172.32.0.1", "203.0.113.7", "172.32.0.1"},  // just outside 172.16/12
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ftp::chooseDataHost(c.pasv, c.peer), c.expected) << c.pasv << " via " << c.peer;
    }
    EXPECT_TRUE(ftp::isNonPublicAddress("::1"));
    EXPECT_TRUE(ftp::isNonPublicAddress("fe80::1"));
    EXPECT_TRUE(ftp::isNonPublicAddress("fd12::7"));
    EXPECT_FALSE(ftp::isNonPublicAddress("2001:db8::1"));
}

TEST(FtpProtocolTest, ReadsThePathOfAPwdReply) {
    struct Case {
        const char* reply;
        const char* path;
    };
    const Case cases[] = {
        {"257 \"/\" is the current directory.", "/"},
        {"257 \"/web site/img\" is current directory.", "/web site/img"},
        {"257 \"/say \"\"hi\"\"\" is current directory.", "/say \"hi\""},
        {"257 \"C:/web\"", "C:/web"},
        {"257 /home/u is your directory", "/home/u"},  // no quotes at all
        {"257-Current directory follows\n257 \"/deep\"", "/deep"},
    };
    for (const Case& c : cases) {
        auto path = ftp::parsePwdReply(c.reply);
        ASSERT_TRUE(path.has_value()) << c.reply;
        EXPECT_EQ(*path, c.path) << c.reply;
    }
    EXPECT_FALSE(ftp::parsePwdReply("257 \"/unterminated").has_value());
    EXPECT_FALSE(ftp::parsePwdReply("257").has_value());
}

TEST(FtpProtocolTest, ReadsTheFeaturesThatChangeWhatTheClientSends) {
    ftp::Reply pyftpd{211,
                      "211-Features supported:\n EPRT\n EPSV\n MDTM\n MLST "
                      "type*;perm;size*;modify*;unique;unix.mode;\n REST STREAM\n SIZE\n TVFS\n "
                      "UTF8\n211 End FEAT."};
    ftp::ServerFeatures features = ftp::parseFeatures(pyftpd);
    EXPECT_TRUE(features.mlsd);
    EXPECT_TRUE(features.utf8);

    ftp::Reply vsftpd{211,
                      "211-Features:\n EPRT\n EPSV\n MDTM\n PASV\n REST STREAM\n SIZE\n "
                      "TVFS\n211 End"};
    features = ftp::parseFeatures(vsftpd);
    EXPECT_FALSE(features.mlsd);
    EXPECT_FALSE(features.utf8);

    // A feature named only in the text of the first or last line does not count.
    ftp::Reply tricky{211, "211-MLST and UTF8 are not here\n SIZE\n211 MLST"};
    features = ftp::parseFeatures(tricky);
    EXPECT_FALSE(features.mlsd);
    EXPECT_FALSE(features.utf8);

    features = ftp::parseFeatures(ftp::Reply{500, "500 FEAT not understood"});
    EXPECT_FALSE(features.mlsd);
}

TEST(FtpProtocolTest, WritesActiveModeAddresses) {
    EXPECT_EQ(ftp::formatEprtArgument({"127.0.0.1", 40123, false}), "|1|127.0.0.1|40123|");
    EXPECT_EQ(ftp::formatEprtArgument({"::1", 5001, true}), "|2|::1|5001|");
    EXPECT_EQ(ftp::formatPortArgument({"192.168.1.2", 40123, false}), "192,168,1,2,156,187");
    EXPECT_EQ(ftp::formatPortArgument({"::1", 5001, true}), "");
}

TEST(FtpProtocolTest, RefusesLineBreaksAndNulButKeepsOtherBytes) {
    EXPECT_TRUE(ftp::hasLineBreak("a\rb"));
    EXPECT_TRUE(ftp::hasLineBreak("a\nb"));
    EXPECT_TRUE(ftp::hasLineBreak(std::string("a\0b", 3)));
    EXPECT_FALSE(ftp::hasLineBreak("caf\xC3\xA9 & \"quotes\" \t tab.txt"));
    EXPECT_EQ(ftp::lineBreakErrorText("x\r\nDELE y"),
              "The name \"x\\r\\nDELE y\" contains a line break (CR or LF) or a NUL byte and "
              "cannot be sent to an FTP server");
}

TEST(FtpProtocolTest, TellsAnEmptyFolderFromAListingThatCannotBeRead) {
    EXPECT_TRUE(ftp::isEmptyListing(""));
    EXPECT_TRUE(ftp::isEmptyListing("total 0\r\n"));
    EXPECT_TRUE(
        ftp::isEmptyListing("drwxr-xr-x 2 0 0 4096 Mar 04 2021 .\r\n"
                            "drwxr-xr-x 9 0 0 4096 Mar 04 2021 ..\r\n"));
    EXPECT_TRUE(
        ftp::isEmptyListing("type=cdir;modify=20210304050607; /x\r\n"
                            "Type=PDir;modify=20210304050607; /\r\n"));
    EXPECT_FALSE(ftp::isEmptyListing("total 8\r\n?? garbled line ??\r\n"));
    EXPECT_FALSE(ftp::isEmptyListing("-rw-r--r-- 1 0 0 12 Mar 04 2021 name"));
}

TEST(FtpProtocolTest, ClassifiesReplies) {
    EXPECT_EQ(ftp::classifyReply(250, true), ftp::FtpError::None);
    EXPECT_EQ(ftp::classifyReply(550, true), ftp::FtpError::NotFound);
    EXPECT_EQ(ftp::classifyReply(550, false), ftp::FtpError::Fatal);  // e.g. MKD refused
    EXPECT_EQ(ftp::classifyReply(450, true), ftp::FtpError::Transient);
    EXPECT_EQ(ftp::classifyReply(421, false), ftp::FtpError::ConnectionLost);
    EXPECT_EQ(ftp::classifyReply(530, false), ftp::FtpError::Fatal);
}

TEST(FtpProtocolTest, TellsWhichRepliesCanAnswerACommand) {
    EXPECT_EQ(ftp::commandVerb("stor /a b.html"), "STOR");
    EXPECT_EQ(ftp::commandVerb("PWD"), "PWD");
    EXPECT_EQ(ftp::commandVerb("LIST -a /x/"), "LIST");
    struct Case {
        const char* verb;
        int code;
        bool fits;
    };
    const Case cases[] = {
        {"STOR", 150, true},  {"STOR", 125, true},  {"STOR", 226, true},  {"STOR", 229, false},
        {"STOR", 257, false}, {"STOR", 553, true},  {"LIST", 226, true},  {"MLSD", 250, true},
        {"LIST", 227, false}, {"EPSV", 229, true},  {"EPSV", 227, false}, {"EPSV", 150, false},
        {"EPSV", 500, true},  {"PASV", 227, true},  {"PASV", 229, false}, {"CWD", 250, true},
        {"CWD", 200, true},   {"CWD", 257, false},  {"CWD", 550, true},   {"PWD", 257, true},
        {"PWD", 250, false},  {"MKD", 257, true},   {"MKD", 250, true},   {"MKD", 226, false},
        {"DELE", 250, true},  {"DELE", 150, false}, {"RNFR", 350, true},  {"RNFR", 250, false},
        {"RNTO", 250, true},  {"SIZE", 213, true},  {"SIZE", 226, false}, {"NOOP", 200, true},
        {"NOOP", 226, false}, {"USER", 331, true},  {"USER", 230, true},  {"PASS", 230, true},
        {"FEAT", 211, true},  {"TYPE", 200, true},  {"TYPE", 229, false}, {"QUIT", 221, true},
        {"", 220, true},      {"SITE", 200, true},  {"NOOP", 421, true},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(ftp::replyFitsCommand(test.verb, test.code), test.fits)
            << test.verb << " " << test.code;
    }
}

}  // namespace
