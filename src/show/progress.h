// The throughput meter: the speed the status line prints, measured in
// whole-second steps of the calendar clock. (The time left has an estimate
// of its own, time_left_rate.)
#ifndef TANDEMCHECK_PROGRESS_H
#define TANDEMCHECK_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "compare/tally.h"

// DVD single (1x) reading speed, the unit of the "x" figure.
constexpr double dvd_single_speed_bits = 11080000.0;

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

#endif
