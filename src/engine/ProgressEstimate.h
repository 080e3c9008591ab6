#pragma once

#include <cstdint>
#include <string>

// The arithmetic of the run's progress display, kept apart from the clock and the view so that
// it can be checked with fixed numbers.

// Work done in thousandths of the estimate, truncated. Capped at 1000: an estimate that fell
// short (a file grew after it was measured) must not push the bar past its end.
int progressThousandths(std::uint64_t done, std::uint64_t total);

// "%d" of the whole per cent.
std::string progressPercentText(int thousandths);

// The time still needed at the rate so far, "hh:mm:ss", at least one second. Empty while no
// whole thousandth is done, since no rate can be told yet.
std::string timeRemainingText(int thousandths, std::int64_t elapsedMs);
