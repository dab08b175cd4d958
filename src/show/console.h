// What a run shows, and where: the status line on standard output, the
// report and every message on standard error. The comparison loop reports
// what happens; the console decides what is written where, and in which
// order, so that a log of both streams reads in order and a terminal's
// status row stays whole.
#ifndef TANDEMCHECK_CONSOLE_H
#define TANDEMCHECK_CONSOLE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "compare/outcome.h"
#include "compare/tally.h"
#include "read/caveat.h"
#include "read/checksum.h"
#include "show/messages.h"
#include "show/output.h"
#include "show/progress.h"
#include "show/status_printer.h"
#include "show/status_row.h"

// Both streams, the status row, and what the row says.
struct console {
    output_stream out;             // standard output
    output_stream err;             // standard error
    bool errors_on_screen = true;  // text on standard error lands on the status row's screen
    status_row row;                // where the status line is written
    status_printer printer;        // what it says
    bool ending = false;  // an input has ended: the pass's line waits for the run's end figures
};

// A console on `out` (standard output) and `err` (standard error), as main
// or a test decides once: whether standard output is a `terminal`, whether
// standard error writes to it too, the terminal to ask for its width
// (`width_fd`; -1: the width is unknown and lines are not cut), and the
// image's length for the percent (shown on a terminal only).
console make_console(std::FILE* out, std::FILE* err, bool terminal = false,
                     bool errors_on_screen = true, int width_fd = -1,
                     std::optional<std::uint64_t> length = std::nullopt);

// Both blocks of a pass were read: the status line of its figures.
void console_pass(console& con, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms);

// A block holds differences: its report begins.
void console_block_differs(console& con);

// One differing byte of the block.
inline void console_difference(console& con, const difference& d)
{
    write_difference(con.err, d);
}

// The block's report is over; its bytes were asked for again `retries`
// times. Returns false where it could not be written.
bool console_block_done(console& con, int retries = 0);

// Input `which` could not be read over `stretch`, which has ended: told
// within a block's report, or on a line of its own.
void console_unreadable(console& con, int which, const unreadable_stretch& stretch, bool in_report);

// Input `which` ended `at` bytes from its start offset.
void console_input_ended(console& con, int which, std::uint64_t at);

// Input `which`, named `name`, may be read from memory in part, as
// `caveat` says; nothing is written where it may not.
void console_caveat(console& con, int which, const std::string& name, const medium_caveat& caveat);

// Reading input `which` failed, with `tally` and `meter` as they stand at
// the run's end: the last status line shows them, as at every end.
void console_read_failed(console& con, int which, int error_number, const compare_tally& tally,
                         const progress_meter& meter);

// The run is over, `how`, with `tally`, `meter`, `missing`,
// `unreadable` and the image's `checksum` (-s; null without) as they stand
// at its end: the last status line, the stretches still open and what each
// input could not be read of, what the checksum came to, the summary where
// the run got that far, and what could not be written. The terminal's row
// is left below the last line. Returns false where either stream could not
// be written.
bool console_run_ended(console& con, run_end how, const compare_tally& tally,
                       const progress_meter& meter, const shortfall& missing,
                       const unreadable_tallies& unreadable = {},
                       const checksum_verdict* checksum = nullptr);

#endif
