#pragma once

#include <string_view>

// Matches a file name against an exclusion wildcard, ignoring ASCII letter case: "?" stands for
// any one character, "*" for any run of characters. As users of the exclusion lists expect from
// their file managers, "*.*" also matches names without a dot: when the text is used up, a
// "." directly before a "*" is optional.
bool wildcardMatch(std::string_view pattern, std::string_view text);
