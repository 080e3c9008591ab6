#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "engine/ActionLists.h"

// What askToDelete answers.
inline constexpr int kDeleteIt = 0;
inline constexpr int kKeepIt = 1;
inline constexpr int kCancelRun = 2;

// The five-button delete confirmation of the analysis. Remembers "Yes To All" and "No To All"
// in `flags` (the run keeps one pair for files and one for folders). Returns kDeleteIt without
// asking when Yes To All was given before or no one is at the screen (quietMode), kKeepIt when
// No To All was given before; otherwise asks and returns kDeleteIt, kKeepIt or, for Cancel,
// kCancelRun.
int askToDelete(const std::string& caption, const std::string& line1, const std::string& line2,
                const std::string& line3, const std::string& line4, ConfirmationFlags& flags);

// Cuts a text into the four lines of the confirmation, `width` characters each; what does not
// fit into four lines is not shown. Counts UTF-8 characters, so that a line never ends inside
// one.
std::array<std::string, 4> splitConfirmText(const std::string& text, std::size_t width);
