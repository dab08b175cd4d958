// The throughput meter and the status line.
#include "compare/progress.h"

#include <cstring>

#include "compare/text.h"

namespace {

// count / 1,000,000 with two decimals, as "%.2f" prints the quotient.
char* put_megabytes(char* p, std::uint64_t count)
{
    // Below 2^50 the quotient is off by far less than one count from the
    // exact value, so it rounds as count does in integers, except at exact
    // ties (a count ending in 5000), which printf settles by the quotient's
    // binary value: those take the slow way.
    if (count < (std::uint64_t{1} << 50) && count % 10000 != 5000) {
        std::uint64_t hundredths = (count + 5000) / 10000;
        p = put_decimal(p, hundredths / 100);
        *p++ = '.';
        *p++ = static_cast<char>('0' + hundredths % 100 / 10);
        *p++ = static_cast<char>('0' + hundredths % 10);
        return p;
    }
    return put_fixed(p, static_cast<double>(count) / 1000000, 2);
}

// The speed figures change once a second at most, while a line is
// formatted for every block: the last texts are kept.
struct speed_text {
    double kbps = -1;
    double factor = -1;
    std::size_t kbps_length = 0;
    std::size_t factor_length = 0;
    char kbps_text[80];
    char factor_text[80];
};

speed_text last_speeds;

const speed_text& speeds_of(const progress_meter& meter)
{
    speed_text& memo = last_speeds;
    if (memo.kbps != meter.speed_kbps) {
        memo.kbps_length = static_cast<std::size_t>(put_fixed(memo.kbps_text, meter.speed_kbps, 0) -
                                                    memo.kbps_text);
        memo.kbps = meter.speed_kbps;
    }
    if (memo.factor != meter.speed_factor) {
        memo.factor_length = static_cast<std::size_t>(
            put_fixed(memo.factor_text, meter.speed_factor, 2) - memo.factor_text);
        memo.factor = meter.speed_factor;
    }
    return memo;
}

char* put_text(char* p, const char* text, std::size_t length)
{
    std::memcpy(p, text, length);
    return p + length;
}

}  // namespace

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

char* put_status_figures(char* p, const compare_tally& tally, const progress_meter& meter,
                         unsigned leave_out)
{
    p = put_literal(p, "count=");
    p = put_decimal(p, tally.count);
    if (!(leave_out & leave_out_megabytes)) {
        p = put_literal(p, " (");
        p = put_megabytes(p, tally.count);
        p = put_literal(p, "MB)");
    }
    if (!(leave_out & leave_out_speed) || !(leave_out & leave_out_factor)) {
        const speed_text& speeds = speeds_of(meter);
        if (!(leave_out & leave_out_speed)) {
            p = put_literal(p, ", speed=");
            p = put_text(p, speeds.kbps_text, speeds.kbps_length);
            p = put_literal(p, "kbps");
        }
        if (!(leave_out & leave_out_factor)) {
            p = put_literal(p, " (");
            p = put_text(p, speeds.factor_text, speeds.factor_length);
            p = put_literal(p, "x)");
        }
    }
    p = put_literal(p, " errors=");
    p = put_decimal(p, tally.errors);
    p = put_literal(p, " dblocks=");
    p = put_decimal(p, tally.dblocks);
    if (!(leave_out & leave_out_position)) {
        p = put_literal(p, " ");
        p = put_hex(p, tally.count, 8);
    }
    return p;
}

std::size_t format_status_line(char* line, const compare_tally& tally, const progress_meter& meter)
{
    char* p = put_status_figures(line, tally, meter, 0);
    p = put_literal(p, "\033[K\r");
    return static_cast<std::size_t>(p - line);
}

std::string status_line(const compare_tally& tally, const progress_meter& meter)
{
    char line[status_line_room];
    return std::string(line, format_status_line(line, tally, meter));
}
