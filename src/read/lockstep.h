// Reading both inputs in lockstep, a block of each per pass, as reading
// both a block at a time would: input 2 is read even where input 1 has just
// ended, and not after input 1 stopped the run. Each reader of a medium is
// held at the other input's length (its reading limit), so that nothing
// past an image is asked for; where the other input turns out longer, the
// held reader reads on.
#ifndef TANDEMCHECK_LOCKSTEP_H
#define TANDEMCHECK_LOCKSTEP_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "read/inputs.h"
#include "read/reader.h"

// How far `self` needs to be read, from its start offset, for a run against
// `other`: the other's length where it is known and shorter than this
// input's, so that an unreadable area past an image is never touched.
std::optional<std::uint64_t> reading_limit(const input& self, const input& other);

// One input's part of a pass.
struct block_read {
    input_block block;  // as its reader handed it out
    read_outcome outcome = read_outcome::block;
    int error_number = 0;        // with read_outcome::error
    std::uint64_t ended_at = 0;  // with read_outcome::end: where the input ended
};

// Whether `outcome` ends the run before the pass is compared.
bool stops_the_run(read_outcome outcome);

// What the lockstep does after the reads of a pass so far.
enum class lockstep_step {
    settle,     // both reads stand: settle the held ones (settle_at_limit)
    read_on_1,  // input 1 is held at its limit, and input 2 went past it
    read_on_2,  // input 2 is held at its limit, and input 1 went past it
};

// The next step after input 1's read `r1` and input 2's `r2` (an empty
// read where input 1 stopped the run).
lockstep_step next_step(const block_read& r1, const block_read& r2);

// A read held at its limit while the other input ended: reading a block at
// a time would have read this block and met the end where the held input's
// own `length` says, if that lies within the block. The medium past the
// other's end is never asked for.
void settle_at_limit(block_read& held, std::optional<std::uint64_t> length);

// Reads the next block of both inputs.
void read_both(input_reader& reader1, input_reader& reader2, block_read& r1, block_read& r2);

#endif
