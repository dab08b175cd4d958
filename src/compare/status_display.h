// Where and when the status line is written.
#ifndef TANDEMCHECK_STATUS_DISPLAY_H
#define TANDEMCHECK_STATUS_DISPLAY_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "compare/progress.h"
#include "compare/tally.h"

// Off a terminal, status lines are gathered and handed on in pieces this large.
constexpr std::size_t pending_room = std::size_t{64} * 1024;

// A terminal is refreshed at most this often, and at least this often while passes run.
constexpr std::int64_t refresh_interval_ms = 100;

// The status line's destination and, on a terminal, what the screen shows.
struct status_display {
    std::FILE* out = nullptr;      // standard output
    bool terminal = false;         // out is a terminal: throttle, fit, keep one row
    bool errors_on_screen = true;  // standard error writes to that terminal too
    std::vector<char> pending;     // off a terminal: lines not yet handed to `out`
    std::size_t pending_used = 0;
    int width = 0;              // columns of the terminal; 0 when unknown
    int width_fd = -1;          // terminal to ask for its width at each showing; -1 keeps `width`
    compare_tally tally;        // figures of the newest pass (terminal only),
    progress_meter meter;       // formatted only when shown
    bool shown = true;          // the newest line is on screen
    bool row_live = false;      // the cursor stands at the start of a status row with text
    std::int64_t now_ms = 0;    // clock of the newest pass
    std::int64_t shown_ms = 0;  // clock when a line was last shown
    int write_error = 0;        // errno of the first failed write; nothing is written after it
    std::optional<std::uint64_t> length;  // the most the run compares, where known (terminal only)
    std::int64_t sample_ms = -1;          // when the throughput was last sampled
    std::uint64_t sample_count = 0;       // the count at that sample
    double rate = 0;                      // smoothed throughput, bytes per millisecond; 0: none yet
};

// Throughput is sampled this often for the time left.
constexpr std::int64_t sample_interval_ms = 500;

// What a terminal shows after the figures; -1 where it is not known.
struct progress_outlook {
    int percent = -1;                // of the length to compare, rounded down
    std::int64_t seconds_left = -1;  // estimated from the smoothed throughput
};

// The outlook of the newest pass.
progress_outlook outlook_of(const status_display& display);

// The status line for a terminal `width` columns wide: the figures, then
// percent and time left. Where it would not fit, whole figures are left
// out, least needed first; it is cut only when even the fewest do not fit.
std::size_t terminal_line(char* line, const compare_tally& tally, const progress_meter& meter,
                          const progress_outlook& outlook, int width);

// Writes a duration as m:ss, or h:mm:ss from an hour on.
char* put_duration(char* p, std::uint64_t seconds);

// A display on `out`; with `terminal` set, `width_fd` names the terminal to
// ask for its width (-1 to keep `width` as set by the caller).
status_display make_status_display(std::FILE* out, bool terminal, int width_fd);

// The status line of one pass. Off a terminal it is written at once; on a
// terminal its figures are kept, and shown when the row is empty or the last
// showing is refresh_interval_ms old.
void display_pass(status_display& display, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms);

// What is about to go to standard error, as far as the screen is concerned.
enum class error_text {
    new_line,  // starts with a newline: a block's report, the summary
    notice,    // an end-of-input notice; the status line of its pass follows it
    failure,   // a read error; it belongs below the last status line
};

// Call before anything is written to standard error. Flushes `out` so that a
// log holding both streams reads in order. On a terminal the newest status
// line is shown first, and the cursor leaves its row for a failure; a notice
// gets the row cleared instead, since its own status line comes after it.
void display_before_error(status_display& display, error_text text);

// Call when the run ends, finished or not: the newest figures are on screen
// and a terminal's cursor stands on a fresh row below them. Flushes `out`.
void display_end(status_display& display);

// Length of the status line cut to fit `width` columns without wrapping
// (one column is left free); the erase-and-return tail is kept.
std::size_t fit_status_line(char* line, std::size_t length, int width);

// Columns of the terminal on `fd`; 80 when it does not say.
int terminal_width(int fd);

#endif
