// The running counts of a comparison.
#ifndef TANDEMCHECK_TALLY_H
#define TANDEMCHECK_TALLY_H

#include <cstdint>

// What the comparison has found so far; positions count from the start offsets.
struct compare_tally {
    std::uint64_t count = 0;    // bytes compared so far
    std::uint64_t errors = 0;   // differing bytes found
    std::uint64_t dblocks = 0;  // blocks holding at least one difference
};

#endif
