// What the status line says: the figures of a pass and, on a terminal, how
// far along the run is and how long is left.
#ifndef TANDEMCHECK_STATUS_PRINTER_H
#define TANDEMCHECK_STATUS_PRINTER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "compare/tally.h"
#include "show/progress.h"

// Room for one status line, control sequence included.
constexpr std::size_t status_line_room = 256;

// Room for a terminal's status line: the figures and the outlook.
constexpr std::size_t terminal_line_room = status_line_room + 64;

// Figures that a narrow terminal can do without, least needed first.
constexpr unsigned leave_out_position = 1;   // the count in hexadecimal
constexpr unsigned leave_out_megabytes = 2;  // "(1.05MB)"
constexpr unsigned leave_out_factor = 4;     // "(23.66x)"
constexpr unsigned leave_out_speed = 8;      // "speed=262144kbps"

// The meter's speeds as text. They change once a second at most while a
// line is formatted for every block, so the texts are kept until they do.
struct speed_text {
    double kbps = -1;
    double factor = -1;
    std::size_t kbps_length = 0;
    std::size_t factor_length = 0;
    char kbps_text[80];
    char factor_text[80];
};

// Throughput is sampled this often for the time left.
constexpr std::int64_t sample_interval_ms = 500;

// The throughput of the last few seconds, smoothed, behind the time left
// alone; the speed the status line prints is the meter's (progress_meter).
struct time_left_rate {
    std::int64_t sample_ms = -1;     // when it was last sampled; -1: never
    std::uint64_t sample_count = 0;  // the count at that sample
    double rate = 0;                 // smoothed, bytes per millisecond; 0: none yet
};

// Samples the count at `now_ms`, every sample_interval_ms.
void sample_time_left_rate(time_left_rate& estimate, std::uint64_t count, std::int64_t now_ms);

// What a terminal shows after the figures; -1 where it is not known.
struct progress_outlook {
    int percent = -1;                // of the length, rounded down
    std::int64_t seconds_left = -1;  // at the estimated throughput
};

// How far `count` is along `length`, and the time left at `estimate`.
progress_outlook outlook_of(std::uint64_t count, std::optional<std::uint64_t> length,
                            const time_left_rate& estimate);

// Writes the figures of the status line at `p`, without those named in
// `leave_out`, and returns their end (status_line_room bytes at most).
char* put_status_figures(char* p, const compare_tally& tally, const progress_meter& meter,
                         speed_text& speeds, unsigned leave_out);

// The status line off a terminal, into `line` (status_line_room bytes): the
// figures, then ESC [ K and a carriage return. Returns its length.
std::size_t format_status_line(char* line, const compare_tally& tally, const progress_meter& meter,
                               speed_text& speeds);

// The status line for a terminal `width` columns wide, into `line`
// (terminal_line_room bytes): the figures, then percent and time left. Where
// it would not fit, whole figures are left out, least needed first; it is
// cut only when even the fewest do not fit.
std::size_t terminal_line(char* line, const compare_tally& tally, const progress_meter& meter,
                          speed_text& speeds, const progress_outlook& outlook, int width);

// Writes a duration as m:ss, or h:mm:ss from an hour on.
char* put_duration(char* p, std::uint64_t seconds);

// Length of the status line cut to fit `width` columns without wrapping
// (one column is left free); the erase-and-return tail is kept.
std::size_t fit_status_line(char* line, std::size_t length, int width);

// A terminal is refreshed at most this often, and at least this often while passes run.
constexpr std::int64_t refresh_interval_ms = 100;

// The newest figures, and when the row last showed figures.
struct status_printer {
    compare_tally tally;                  // of the newest pass
    progress_meter meter;                 // of the newest pass
    speed_text speeds;                    // the meter's speeds as text
    std::optional<std::uint64_t> length;  // the image's length, for the percent (terminal only)
    time_left_rate estimate;              // for the time left
    std::int64_t now_ms = 0;              // clock of the newest pass
    std::int64_t shown_ms = 0;            // clock when figures were last shown
    bool shown = true;                    // the newest figures have been shown
};

// Takes the figures of a pass at `now_ms`.
void printer_take(status_printer& printer, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms);

// Whether a terminal whose row holds older figures is due for the newest.
bool printer_due(const status_printer& printer);

// The line of the newest figures, for a terminal when `terminal` is set
// (width columns), into `line` (terminal_line_room bytes); marks them shown.
std::size_t printer_line(status_printer& printer, char* line, bool terminal, int width);

#endif
