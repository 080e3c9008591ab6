// libFuzzer target: the control connection's reply splitter and the PASV/EPSV parsers.

#include <cstdlib>

#include "ReplySplitterFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::replySplitterOne(data, size)) {
        std::abort();
    }
    return 0;
}
