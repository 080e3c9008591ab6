#pragma once

#include <atomic>
#include <cstdint>

// The work done in the current run, in bytes: upload workers add every chunk they send, the run
// resets it when it starts and the progress display reads it. 64-bit, since one run can move
// more than 4 GiB.
inline std::atomic<std::uint64_t> bytesDone{0};

// Takes back bytes counted for an upload attempt that failed, so that a retried file is counted
// once. Never goes below zero, even if the run reset the count in between.
inline void takeBackBytesDone(std::uint64_t bytes) {
    std::uint64_t current = bytesDone.load();
    while (!bytesDone.compare_exchange_weak(current, current > bytes ? current - bytes : 0)) {
    }
}
