// The throughput meter and the status line it feeds.
#ifndef TANDEMCHECK_PROGRESS_H
#define TANDEMCHECK_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "compare/tally.h"

// DVD single (1x) reading speed, the unit of the "x" figure.
constexpr double dvd_single_speed_bits = 11080000.0;

// Room for one status line, control sequence included.
constexpr std::size_t status_line_room = 256;

// Throughput measured in whole-second steps of the calendar clock.
struct progress_meter {
    std::time_t last_tick = 0;          // the second at which the meter last moved on
    std::int64_t bytes_since_tick = 0;  // bytes compared since last_tick
    double speed_kbps = 0.0;            // throughput shown, kilobits per second
    double speed_factor = 0.0;          // throughput shown, multiple of DVD 1x
};

// Starts the meter at the clock reading taken before the first read.
void meter_start(progress_meter& meter, std::time_t now);

// Moves the meter on to `now`: a new speed when exactly one second has
// passed, a new tick (speeds kept) after longer; nothing while the clock
// stands still or goes back.
void meter_update(progress_meter& meter, std::time_t now);

// Credits bytes compared in this pass.
void meter_credit(progress_meter& meter, std::uint64_t bytes);

// Figures that a narrow terminal can do without, least needed first.
constexpr unsigned leave_out_position = 1;   // the count in hexadecimal
constexpr unsigned leave_out_megabytes = 2;  // "(1.05MB)"
constexpr unsigned leave_out_factor = 4;     // "(23.66x)"
constexpr unsigned leave_out_speed = 8;      // "speed=262144kbps"

// Writes the figures of the status line at `p`, without those named in
// `leave_out`, and returns their end (status_line_room bytes at most).
char* put_status_figures(char* p, const compare_tally& tally, const progress_meter& meter,
                         unsigned leave_out);

// Formats the status line into `line` (status_line_room bytes) and returns
// its length: figures, then ESC [ K and a carriage return.
std::size_t format_status_line(char* line, const compare_tally& tally, const progress_meter& meter);

// The status line as a string.
std::string status_line(const compare_tally& tally, const progress_meter& meter);

#endif
