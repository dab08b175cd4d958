// The throughput meter.
#include "show/progress.h"

void meter_start(progress_meter& meter, std::time_t now)
{
    meter = progress_meter{};
    meter.last_tick = now;
}

void meter_update(progress_meter& meter, std::time_t now)
{
    // time_t is an integer count of seconds on POSIX systems.
    std::int64_t elapsed =
        static_cast<std::int64_t>(now) - static_cast<std::int64_t>(meter.last_tick);
    if (elapsed < 1)
        return;
    if (elapsed == 1) {
        double bits = static_cast<double>(meter.bytes_since_tick) * 8;
        meter.speed_kbps = bits / 1000;
        meter.speed_factor = bits / dvd_single_speed_bits;
    }
    meter.bytes_since_tick = 0;
    meter.last_tick = now;
}

void meter_credit(progress_meter& meter, std::uint64_t bytes)
{
    meter.bytes_since_tick += static_cast<std::int64_t>(bytes);
}
