// Runs the fuzz targets' bodies on a bounded, deterministic set of inputs in every test build:
// the recorded vectors, mutations of them and pseudo-random bytes. The libFuzzer builds under
// fuzz/ explore much further; this keeps the entry points and their invariants from rotting.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz/ListingFuzz.h"
#include "fuzz/ReplySplitterFuzz.h"
#include "VectorTable.h"

namespace {

std::vector<std::string> seedInputs() {
    std::vector<std::string> seeds;
    for (const char* file : {"unix.tsv", "dos.tsv", "mlsd.tsv", "invalid.tsv"}) {
        std::string listing;
        for (const vectors::Row& row : vectors::readTable(file)) {
            seeds.push_back(vectors::unescape(vectors::column(row, "line")));
            listing += seeds.back() + "\r\n";
        }
        seeds.push_back(listing);
    }
    for (const vectors::Row& row : vectors::readTable("replies.tsv")) {
        seeds.push_back(vectors::unescape(vectors::column(row, "raw")));
    }
    seeds.push_back("227 Entering Passive Mode (127,0,0,1,119,68).\r\n");
    seeds.push_back("229 Entering Extended Passive Mode (|||30631|)\r\n");
    return seeds;
}

// Bytes that steer the parsers into their branches.
constexpr std::string_view kInteresting = " \t\r\n\x85:,;=-|()0123456789<>dlcbrwxsStT+AMPJFD\xe6";

// The generator's raw output only: its sequence is fixed by the standard, unlike the
// distributions', so every platform runs the same inputs.
struct Dice {
    std::mt19937 engine{20261208u};
    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : engine() % bound; }
    char byte() {
        return below(2) == 0 ? kInteresting[below(kInteresting.size())]
                             : static_cast<char>(engine() & 0xff);
    }
};

std::string mutate(std::string input, const std::vector<std::string>& seeds, Dice& dice) {
    const std::size_t steps = 1 + dice.below(4);
    for (std::size_t step = 0; step < steps; ++step) {
        const std::size_t at = dice.below(input.size() + 1);
        switch (dice.below(6)) {
            case 0:
                if (at < input.size()) {
                    input[at] = dice.byte();
                }
                break;
            case 1:
                input.insert(at, 1, dice.byte());
                break;
            case 2:
                input.erase(at, 1 + dice.below(8));
                break;
            case 3:
                input.resize(at);
                break;
            case 4: {
                const std::string& other = seeds[dice.below(seeds.size())];
                const std::size_t from = dice.below(other.size() + 1);
                input.insert(at, other.substr(from, dice.below(40)));
                break;
            }
            default:
                input.insert(at, input.substr(at, dice.below(16)));
        }
    }
    return input;
}

std::string hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

}  // namespace

TEST(FuzzSmoke, TargetsHoldTheirInvariantsOnMutatedAndRandomInput) {
    const std::vector<std::string> seeds = seedInputs();
    ASSERT_GT(seeds.size(), 100u);
    std::vector<std::string> inputs = seeds;
    Dice dice;
    for (int i = 0; i < 3000; ++i) {
        inputs.push_back(mutate(seeds[dice.below(seeds.size())], seeds, dice));
    }
    for (int i = 0; i < 1000; ++i) {
        std::string random(dice.below(200), '\0');
        for (char& c : random) {
            c = dice.byte();
        }
        inputs.push_back(std::move(random));
    }

    const auto start = std::chrono::steady_clock::now();
    for (const std::string& input : inputs) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(input.data());
        ASSERT_TRUE(fuzz::replySplitterOne(data, input.size())) << hex(input);
        ASSERT_TRUE(fuzz::listingOne(data, input.size())) << hex(input);
    }
    // A parser that turned quadratic would show here long before it hurts a real listing.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}
