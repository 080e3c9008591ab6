#include "profiles/WildcardMatch.h"

#include <string>

namespace {

std::string upperAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

}  // namespace

bool wildcardMatch(std::string_view patternText, std::string_view textText) {
    const std::string pattern = upperAscii(patternText);
    const std::string text = upperAscii(textText);
    const std::size_t patternEnd = pattern.size();
    const std::size_t textEnd = text.size();
    std::size_t p = 0;
    std::size_t t = 0;

    // Up to the first "*" the pattern must match character for character.
    while (t < textEnd && (p == patternEnd || pattern[p] != '*')) {
        if (p == patternEnd || (pattern[p] != text[t] && pattern[p] != '?')) {
            return false;
        }
        ++p;
        ++t;
    }

    // From there on, a mismatch goes back to the last "*" and lets it swallow one more
    // character of the text.
    std::size_t starPattern = p;
    std::size_t starText = t;
    while (t < textEnd) {
        if (p < patternEnd && pattern[p] == '*') {
            if (++p == patternEnd) {
                return true;
            }
            starPattern = p;
            starText = t + 1;
        } else if (p < patternEnd && (pattern[p] == text[t] || pattern[p] == '?')) {
            ++p;
            ++t;
        } else {
            p = starPattern;
            t = starText++;
        }
    }

    while (p < patternEnd && (pattern[p] == '*' ||
                              (pattern[p] == '.' && p + 1 < patternEnd && pattern[p + 1] == '*'))) {
        ++p;
    }
    return p == patternEnd;
}
