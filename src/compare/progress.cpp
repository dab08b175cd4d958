// The throughput meter and the status line.
#include "compare/progress.h"

#include "compare/text.h"

void meter_start(progress_meter& meter, std::time_t now)
{
    meter = progress_meter{};
    meter.last_tick = now;
}

void meter_update(progress_meter& meter, std::time_t now)
{
    double elapsed = std::difftime(now, meter.last_tick);
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

std::size_t format_status_line(char* line, const compare_tally& tally, const progress_meter& meter)
{
    char* p = put_literal(line, "count=");
    p = put_decimal(p, tally.count);
    p = put_literal(p, " (");
    p = put_fixed(p, static_cast<double>(tally.count) / 1000000, 2);
    p = put_literal(p, "MB), speed=");
    p = put_fixed(p, meter.speed_kbps, 0);
    p = put_literal(p, "kbps (");
    p = put_fixed(p, meter.speed_factor, 2);
    p = put_literal(p, "x) errors=");
    p = put_decimal(p, tally.errors);
    p = put_literal(p, " dblocks=");
    p = put_decimal(p, tally.dblocks);
    p = put_literal(p, " ");
    p = put_hex(p, tally.count, 8);
    p = put_literal(p, "\033[K\r");
    return static_cast<std::size_t>(p - line);
}

std::string status_line(const compare_tally& tally, const progress_meter& meter)
{
    char line[status_line_room];
    return std::string(line, format_status_line(line, tally, meter));
}
