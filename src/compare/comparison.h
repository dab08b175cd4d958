// The block-by-block comparison of two positioned inputs.
#ifndef TANDEMCHECK_COMPARISON_H
#define TANDEMCHECK_COMPARISON_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

#include "compare/outcome.h"
#include "compare/tally.h"
#include "read/checksum.h"

struct console;
struct input;

// One reading of the clocks: calendar seconds for the meter, and a
// monotonic millisecond count for pacing a terminal.
struct clock_reading {
    std::time_t seconds;
    std::int64_t millis;
};

// Where the run reads the time; tests pass their own.
using clock_function = clock_reading (*)();

// The system clocks.
clock_reading read_system_clock();

// How a run ended.
struct run_result {
    compare_tally tally;                       // the counts shown in the summary
    unreadable_tallies unreadable;             // what could not be read
    run_end end = run_end::going;              // what ended it
    shortfall missing;                         // what a finished run verified less than the image
    int signal = 0;                            // an interrupt caught during the run, or 0
    int status = 0;                            // the exit status
    std::optional<checksum_verdict> checksum;  // -s: what the image's checksum came to
};

// Reads both inputs in lockstep until one ends or fails, and tells `con`
// what happens: each pass, each defective block, the end of an input, a
// read error, and the end of the run. Where an input keeps going (-k), what
// a file or a disk cannot be read of is passed over and told, stretch by
// stretch.
// With a `check`, the image is hashed as it is read, and read to its end
// where the comparison stopped before it (the copy ended or failed first).
// Closes both streams. Returns the tally and the exit status, which is 0
// only when every byte was read and every compared byte was equal, the
// whole image was compared, its checksum is the one expected, and both
// streams could be written.
// An interrupt or a failed report ends the run after the pass in progress;
// an interrupt that comes as the run finishes is still returned in
// `signal`, for the process to end by it. How each input is read (see
// make_reader) does not change what the run shows.
run_result run_comparison(input& input1, input& input2, console& con, clock_function clock,
                          const checksum_check* check = nullptr);

#endif
