#include <gtest/gtest.h>

#include <sstream>

#include "profiles/PersistentRecord.h"

TEST(KeyReader, ReadsKeysAcrossLineEndsAndBlanks) {
    std::istringstream in("  first key =1\r\n\r\n second=x\n");
    std::string key;
    ASSERT_TRUE(readKey(in, key));
    EXPECT_EQ(key, "firstkey");
    int value = 0;
    in >> value;
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(readKey(in, key));
    EXPECT_EQ(key, "second");
    std::string text;
    ASSERT_TRUE(readLineValue(in, text));
    EXPECT_EQ(text, "x");
    EXPECT_FALSE(readKey(in, key));
}

TEST(KeyReader, DelimiterResultsAndLimits) {
    std::string buffer;
    std::istringstream found("abc=rest");
    EXPECT_EQ(readToDelimiter(found, buffer, "=", 1023), kReadFoundDelimiter);
    EXPECT_EQ(buffer, "abc");

    std::istringstream missing("no delimiter");
    EXPECT_EQ(readToDelimiter(missing, buffer, "=", 1023), kReadFailed);

    std::istringstream longKey(std::string(2000, 'k') + "=1");
    EXPECT_EQ(readToDelimiter(longKey, buffer, "=", 1023), kReadMaxLength);
    EXPECT_EQ(buffer.size(), 1023u);

    // A delimiter of several characters must be matched as a whole.
    std::istringstream multi("a=b==c");
    EXPECT_EQ(readToDelimiter(multi, buffer, "==", 1023), kReadFoundDelimiter);
    EXPECT_EQ(buffer, "a=b");
}

TEST(KeyReader, RemoveWhitespaceTakesEveryKind) {
    std::string text = " a\tb\nc\vd\fe\rf ";
    removeWhitespace(text);
    EXPECT_EQ(text, "abcdef");
}

TEST(FileKindTest, ClassifiesByCaseSensitiveExtension) {
    EXPECT_EQ(fileKind("/home/u/site.kvp"), FileKind::Profile);
    EXPECT_EQ(fileKind("nightly.kvb"), FileKind::Batch);
    EXPECT_EQ(fileKind("/home/u/SITE.KVP"), FileKind::None);
    EXPECT_EQ(fileKind("/home/u.kvp/readme"), FileKind::None);
    EXPECT_EQ(fileKind("noextension"), FileKind::None);
    EXPECT_EQ(fileKind("archive.kvp.bak"), FileKind::None);
}

TEST(FormatVersion, DefaultFloatingPointFormat) {
    EXPECT_EQ(formatVersion(1.06), "1.06");
    EXPECT_EQ(formatVersion(1.0), "1");
}
