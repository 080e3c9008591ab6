// libFuzzer target: the MLSD, Unix and DOS listing parsers and the whole-listing reader.

#include <cstdlib>

#include "ListingFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::listingOne(data, size)) {
        std::abort();
    }
    return 0;
}
