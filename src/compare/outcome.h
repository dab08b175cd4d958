// What a run comes to, as the loop finds it and the console tells it: plain
// records, apart from the loop, so that what shows them need not know it.
#ifndef TANDEMCHECK_OUTCOME_H
#define TANDEMCHECK_OUTCOME_H

#include <array>
#include <cstdint>
#include <optional>

// How a run ended.
enum class run_end {
    going,          // not yet
    finished,       // an input ended
    read_error,     // a read failed
    interrupted,    // a signal ended it early
    report_failed,  // the report could not be written: nothing found could reach anyone
};

// Why a finished run verified less than the image, if it did.
struct shortfall {
    int file = 0;                   // 1 or 2: the input that ended too soon; 0: none did
    std::uint64_t at = 0;           // where that input ended
    bool nothing_compared = false;  // it held nothing, and not a byte was compared
};

// -k: a stretch of one input that could not be read, positions from the
// start offsets, the end exclusive.
struct unreadable_stretch {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    int error_number = 0;  // the first failure of the stretch
};

// -k: what of one input could not be read.
struct unreadable_tally {
    std::uint64_t bytes = 0;
    std::uint64_t stretches = 0;
    std::optional<unreadable_stretch> open;  // the newest stretch, where it may go on
};

// -k: of both inputs.
using unreadable_tallies = std::array<unreadable_tally, 2>;

#endif
