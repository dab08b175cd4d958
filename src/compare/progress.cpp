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
// formatted for every block: the last text is kept.
struct speed_text {
    double kbps = -1;
    double factor = -1;
    std::size_t length = 0;
    char text[160];
};

speed_text last_speeds;

char* put_speeds(char* p, const progress_meter& meter)
{
    speed_text& memo = last_speeds;
    if (memo.kbps != meter.speed_kbps || memo.factor != meter.speed_factor) {
        char* q = put_fixed(memo.text, meter.speed_kbps, 0);
        q = put_literal(q, "kbps (");
        q = put_fixed(q, meter.speed_factor, 2);
        memo.length = static_cast<std::size_t>(q - memo.text);
        memo.kbps = meter.speed_kbps;
        memo.factor = meter.speed_factor;
    }
    std::memcpy(p, memo.text, memo.length);
    return p + memo.length;
}

}  // namespace

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
    p = put_megabytes(p, tally.count);
    p = put_literal(p, "MB), speed=");
    p = put_speeds(p, meter);
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
