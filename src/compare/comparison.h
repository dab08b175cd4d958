// The block-by-block comparison of two positioned inputs.
#ifndef TANDEMCHECK_COMPARISON_H
#define TANDEMCHECK_COMPARISON_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "compare/inputs.h"
#include "compare/report.h"
#include "compare/status_display.h"
#include "compare/tally.h"

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
    compare_tally tally;      // the counts shown in the summary
    bool read_error = false;  // a read failed and cut the run short
    int signal = 0;           // an interrupt caught during the run, or 0
    int status = 0;           // the exit status
};

// Compares `length` bytes of two blocks. Each differing byte gets a
// DIFFERENCE line (positions from tally.count, block tally.block) and counts
// in tally.errors; a block with differences counts in tally.dblocks, and its
// report, framed by a newline and the retries line, is written out.
void compare_block(const unsigned char* block1, const unsigned char* block2, std::size_t length,
                   compare_tally& tally, report_buffer& report, status_display& display);

// Reads both inputs in lockstep until one ends or fails, reports every
// difference on `err`, writes the status line through `display`, closes both
// streams and writes the summary. Returns the tally and the exit status,
// which is never 0 when `display` or `err` could not be written. An
// interrupt or a failed report ends the run after the pass in progress,
// without a summary; an interrupt that comes as the run finishes is still
// returned in `signal`, for the process to end by it. How each input is
// read (see make_reader) does not change what the run shows.
run_result run_comparison(input& input1, input& input2, status_display& display, std::FILE* err,
                          clock_function clock);

#endif
