#include "engine/ProgressEstimate.h"

#include <cstdio>

int progressThousandths(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || done >= total) {
        return 1000;
    }
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 1000.0);
}

std::string progressPercentText(int thousandths) {
    return std::to_string(thousandths / 10);
}

std::string timeRemainingText(int thousandths, std::int64_t elapsedMs) {
    if (thousandths <= 0) {
        return {};
    }
    const double estimate =
        static_cast<double>(elapsedMs) * 0.001 / thousandths * (1000 - thousandths) + 0.5;
    long long seconds = static_cast<long long>(estimate);
    if (seconds <= 0) {
        seconds = 1;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60,
                  seconds % 60);
    return text;
}
