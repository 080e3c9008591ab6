#include <gtest/gtest.h>

#include "profiles/WildcardMatch.h"

TEST(WildcardMatchTest, MatchesLikeAFileManager) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"*.tmp", "x.TMP", true},
        {"*.tmp", "x.tmp.bak", false},
        {"*.tmp", ".tmp", true},
        {"*.*", "README", true},
        {"*.*", "index.html", true},
        {"*", "", true},
        {"*", "anything at all", true},
        {"a?c", "ABC", true},
        {"a?c", "ac", false},
        {"a?c", "abcd", false},
        {"abc", "ab", false},
        {"ab", "abc", false},
        {"", "", true},
        {"", "a", false},
        {"a*b*c", "a-b-x-b-c", true},
        {"a*b*c", "a-b-x-b-d", false},
        {"*ab", "aab", true},
        {"*ab", "abab", true},
        {"*ab", "aba", false},
        {"data*.log", "DATA2024.log", true},
        {"data*.log", "olddata.log", false},
        {"?*", "", false},
        {"a.*", "a", true},
        {"a.*", "ab", false},
        {"a*.", "abc", false},
        {"***", "x", true},
        {"*.*.*", "x", true},
        {"[ab]", "a", false},
        {"[ab]", "[AB]", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wildcardMatch(c.pattern, c.text), c.matches)
            << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
    }
}

TEST(WildcardMatchTest, FoldsOnlyAsciiLetters) {
    // UTF-8 names are compared byte for byte beyond ASCII.
    EXPECT_TRUE(wildcardMatch("caf\xc3\xa9.*", "CAF\xc3\xa9.TXT"));
    EXPECT_FALSE(wildcardMatch("\xc3\xa9*", "\xc3\x89"));
    EXPECT_TRUE(wildcardMatch("?\xa9", "\xc3\xa9"));
}
