#pragma once

#include <string>
#include <string_view>

// `text` with its control characters written out (\n, \r, \t, \x1b ...) and each backslash
// doubled, so that a name holding a line break stays on one line and cannot pass for another
// name or steer the terminal.
std::string escapeControlCharacters(std::string_view text);
