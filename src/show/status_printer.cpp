// The status line's text.
#include "show/status_printer.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "show/text.h"

namespace {

// Every status line ends so: erase the rest of the row, back to its start.
constexpr char line_tail[] = "\033[K\r";
constexpr std::size_t tail_length = sizeof line_tail - 1;

// Up to this much time left is worth showing.
constexpr std::int64_t longest_estimate = std::int64_t{100} * 3600;

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

// Brings the speed texts up to the meter's speeds.
void update_speeds(speed_text& speeds, const progress_meter& meter)
{
    if (speeds.kbps != meter.speed_kbps) {
        speeds.kbps_length = static_cast<std::size_t>(
            put_fixed(speeds.kbps_text, meter.speed_kbps, 0) - speeds.kbps_text);
        speeds.kbps = meter.speed_kbps;
    }
    if (speeds.factor != meter.speed_factor) {
        speeds.factor_length = static_cast<std::size_t>(
            put_fixed(speeds.factor_text, meter.speed_factor, 2) - speeds.factor_text);
        speeds.factor = meter.speed_factor;
    }
}

char* put_text(char* p, const char* text, std::size_t length)
{
    std::memcpy(p, text, length);
    return p + length;
}

// Leaves out the next figure; false when there is none left to leave out.
bool leave_out_more(unsigned& leave_out)
{
    for (unsigned figure :
         {leave_out_position, leave_out_megabytes, leave_out_factor, leave_out_speed}) {
        if (!(leave_out & figure)) {
            leave_out |= figure;
            return true;
        }
    }
    return false;
}

char* put_outlook(char* p, const progress_outlook& outlook, bool with_time)
{
    if (outlook.percent < 0)
        return p;
    p = put_literal(p, "  ");
    p = put_decimal(p, static_cast<std::uint64_t>(outlook.percent));
    *p++ = '%';
    if (with_time && outlook.seconds_left >= 0) {
        *p++ = ' ';
        p = put_duration(p, static_cast<std::uint64_t>(outlook.seconds_left));
        p = put_literal(p, " left");
    }
    return p;
}

}  // namespace

void sample_time_left_rate(time_left_rate& estimate, std::uint64_t count, std::int64_t now_ms)
{
    if (estimate.sample_ms < 0) {
        estimate.sample_ms = now_ms;
        estimate.sample_count = count;
        return;
    }
    std::int64_t elapsed = now_ms - estimate.sample_ms;
    if (elapsed < sample_interval_ms)
        return;
    // Each sample weighs a quarter, so a change in speed shows within two or
    // three seconds while one slow block does not swing the estimate.
    double rate = static_cast<double>(count - estimate.sample_count) / static_cast<double>(elapsed);
    estimate.rate = estimate.rate > 0 ? 0.25 * rate + 0.75 * estimate.rate : rate;
    estimate.sample_ms = now_ms;
    estimate.sample_count = count;
}

progress_outlook outlook_of(std::uint64_t count, std::optional<std::uint64_t> length,
                            const time_left_rate& estimate)
{
    progress_outlook outlook;
    if (!length)
        return outlook;
    // At the length or past it there is nothing left; this also keeps a
    // length of 0 out of the arithmetic below.
    if (count >= *length) {
        outlook.percent = 100;
        return outlook;
    }
    // Rounded down, so 100% means all of it; count * 100 cannot overflow below 2^57.
    outlook.percent =
        count < (std::uint64_t{1} << 57)
            ? static_cast<int>(count * 100 / *length)
            : static_cast<int>(static_cast<double>(count) / static_cast<double>(*length) * 100);
    if (estimate.rate > 0) {
        double seconds = static_cast<double>(*length - count) / estimate.rate / 1000;
        if (seconds < static_cast<double>(longest_estimate))
            outlook.seconds_left = std::llround(seconds);
    }
    return outlook;
}

char* put_status_figures(char* p, const compare_tally& tally, const progress_meter& meter,
                         speed_text& speeds, unsigned leave_out)
{
    p = put_literal(p, "count=");
    p = put_decimal(p, tally.count);
    if (!(leave_out & leave_out_megabytes)) {
        p = put_literal(p, " (");
        p = put_megabytes(p, tally.count);
        p = put_literal(p, "MB)");
    }
    if (!(leave_out & leave_out_speed) || !(leave_out & leave_out_factor)) {
        update_speeds(speeds, meter);
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

std::size_t format_status_line(char* line, const compare_tally& tally, const progress_meter& meter,
                               speed_text& speeds)
{
    char* p = put_status_figures(line, tally, meter, speeds, 0);
    p = put_literal(p, line_tail);
    return static_cast<std::size_t>(p - line);
}

std::size_t terminal_line(char* line, const compare_tally& tally, const progress_meter& meter,
                          speed_text& speeds, const progress_outlook& outlook, int width)
{
    // One column stays free: a line that fills the row wraps on some terminals.
    const std::size_t room = width <= 0  ? terminal_line_room
                             : width > 1 ? static_cast<std::size_t>(width - 1)
                                         : 0;
    unsigned leave_out = 0;
    bool with_time = true;
    std::size_t length = 0;
    for (;;) {
        char* p = put_status_figures(line, tally, meter, speeds, leave_out);
        p = put_outlook(p, outlook, with_time);
        length = static_cast<std::size_t>(p - line);
        if (length <= room || !(leave_out_more(leave_out) || std::exchange(with_time, false)))
            break;
    }
    put_literal(line + length, line_tail);
    return fit_status_line(line, length + tail_length, width);
}

char* put_duration(char* p, std::uint64_t seconds)
{
    std::uint64_t minutes = seconds / 60;
    if (minutes >= 60) {
        p = put_decimal(p, minutes / 60);
        *p++ = ':';
        *p++ = static_cast<char>('0' + minutes % 60 / 10);
        *p++ = static_cast<char>('0' + minutes % 10);
    } else {
        p = put_decimal(p, minutes);
    }
    *p++ = ':';
    *p++ = static_cast<char>('0' + seconds % 60 / 10);
    *p++ = static_cast<char>('0' + seconds % 10);
    return p;
}

std::size_t fit_status_line(char* line, std::size_t length, int width)
{
    if (width <= 0 || length < tail_length)
        return length;
    std::size_t figures = length - tail_length;
    std::size_t room = static_cast<std::size_t>(width - 1);
    if (figures <= room)
        return length;
    std::memcpy(line + room, line_tail, tail_length);
    return room + tail_length;
}

void printer_take(status_printer& printer, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms)
{
    printer.tally = tally;
    printer.meter = meter;
    printer.now_ms = now_ms;
    printer.shown = false;
    if (printer.length)
        sample_time_left_rate(printer.estimate, tally.count, now_ms);
}

bool printer_due(const status_printer& printer)
{
    return printer.now_ms - printer.shown_ms >= refresh_interval_ms;
}

std::size_t printer_line(status_printer& printer, char* line, bool terminal, int width)
{
    printer.shown = true;
    printer.shown_ms = printer.now_ms;
    if (!terminal)
        return format_status_line(line, printer.tally, printer.meter, printer.speeds);
    return terminal_line(line, printer.tally, printer.meter, printer.speeds,
                         outlook_of(printer.tally.count, printer.length, printer.estimate), width);
}
