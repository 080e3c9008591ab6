#include <gtest/gtest.h>

#include <string>

#include "transfer/ftp/FtpReply.h"

TEST(ReplySplitter, SingleAndMultiLineReplies) {
    ftp::ReplySplitter splitter;
    // Lone LF ends a line too; a line with another code, or the same code and "-", does not
    // end a multi-line reply; a CR inside a line stays.
    splitter.feed("220 ok\n150-first\r\n200 inside\r\n150-still\r\n 150 indented\r\n150 done\r\n");
    splitter.feed("226\r\n331 a\rb\r\n421 partial");
    std::optional<ftp::Reply> reply = splitter.next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 220);
    EXPECT_EQ(reply->text, "220 ok");
    reply = splitter.next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 150);
    EXPECT_EQ(reply->lines(), std::vector<std::string>({"150-first", "200 inside", "150-still",
                                                        " 150 indented", "150 done"}));
    reply = splitter.next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text, "226");  // a bare code is a complete reply
    reply = splitter.next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text, "331 a\rb");
    EXPECT_FALSE(splitter.next().has_value());
    EXPECT_EQ(splitter.unfinished(), "421 partial");
    splitter.feed("\r\n");
    reply = splitter.next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 421);
    EXPECT_EQ(splitter.unfinished(), "");
    EXPECT_FALSE(splitter.broken());
}

TEST(ReplySplitter, GarbageMarksTheStreamBroken) {
    for (const char* first : {"hello\r\n", "99 short\r\n", "600 too high\r\n", "099 low\r\n",
                              "220x\r\n", "\r\n", "22\r\n"}) {
        SCOPED_TRACE(first);
        ftp::ReplySplitter splitter;
        splitter.feed(std::string("200 before\r\n") + first + "220 after\r\n");
        EXPECT_TRUE(splitter.broken());
        // What arrived before the garbage is still there; nothing after it is.
        ASSERT_TRUE(splitter.next().has_value());
        EXPECT_FALSE(splitter.next().has_value());
        splitter.reset();
        EXPECT_FALSE(splitter.broken());
        splitter.feed("220 again\r\n");
        EXPECT_TRUE(splitter.next().has_value());
    }
}

TEST(ReplySplitter, RepliesBeyondTheLimitMarkTheStreamBroken) {
    const std::size_t limit = ftp::ReplySplitter::kMaxReplyBytes;
    const std::string line = std::string(1022, 'x') + "\r\n";  // 1 KiB per line

    ftp::ReplySplitter endless;
    endless.feed("211-start\r\n");
    for (std::size_t sent = 0; sent <= limit && !endless.broken(); sent += line.size()) {
        endless.feed(line);
    }
    EXPECT_TRUE(endless.broken());
    EXPECT_EQ(endless.unfinished(), "");

    ftp::ReplySplitter unterminated;
    unterminated.feed("220 ");
    unterminated.feed(std::string(limit, 'y'));
    EXPECT_TRUE(unterminated.broken());

    // Exactly at the limit is still a reply.
    ftp::ReplySplitter atLimit;
    const std::string head = "211-";
    const std::string tail = "\r\n211 end\r\n";
    atLimit.feed(head + std::string(limit - head.size() - tail.size(), 'z') + tail);
    EXPECT_FALSE(atLimit.broken());
    ASSERT_TRUE(atLimit.next().has_value());
}

TEST(PassiveReplies, PasvFindsSixNumbers) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        std::uint16_t port;
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,119,68).", "127.0.0.1", 30532},
        {"227 Entering passive mode (127,0,0,1,215,41).", "127.0.0.1", 55081},
        {"227 =10,1,2,3,0,21", "10.1.2.3", 21},
        {"227 Entering Passive Mode (0,0,0,0,4,1)", "0.0.0.0", 1025},
        {"227 Passive (192, 168, 1, 2, 255, 255)", "192.168.1.2", 65535},
        {"227 Entering Passive Mode (256,0,0,1,4,1)", nullptr, 0},
        {"227 Entering Passive Mode (1234,0,0,1,4,1)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,4)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,0,0)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,4,1000)", nullptr, 0},
        {"227 ok", nullptr, 0},
        {"", nullptr, 0},
        {",,,,,", nullptr, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        const std::optional<ftp::HostPort> parsed = ftp::parsePasv(test.text);
        ASSERT_EQ(parsed.has_value(), test.host != nullptr);
        if (parsed) {
            EXPECT_EQ(parsed->host, test.host);
            EXPECT_EQ(parsed->port, test.port);
        }
    }
}

TEST(PassiveReplies, EpsvReadsThePortBetweenDelimiters) {
    struct Case {
        const char* text;
        std::uint16_t port;  // 0: refused
    };
    const Case cases[] = {
        {"229 Entering Extended Passive Mode (|||30631|)", 30631},
        {"229 Entering extended passive mode (|||56635|).", 56635},
        {"229 Extended (!!!1!)", 1},
        {"229 (note) then (###65535#)", 65535},
        {"229 (|||0|)", 0},
        {"229 (|||65536|)", 0},
        {"229 (|||123456|)", 0},
        {"229 (||30631|)", 0},
        {"229 (|||30631!)", 0},
        {"229 (|||30631|", 0},
        {"229 (   30631 )", 0},
        {"229 (|||", 0},
        {"", 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        const std::optional<std::uint16_t> port = ftp::parseEpsv(test.text);
        EXPECT_EQ(port.value_or(0), test.port);
    }
}
