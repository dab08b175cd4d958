// Writing the status line, to a terminal or elsewhere.
#include "compare/status_display.h"

#include <sys/ioctl.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "compare/output.h"
#include "compare/text.h"

namespace {

constexpr char line_tail[] = "\033[K\r";
constexpr std::size_t tail_length = sizeof line_tail - 1;

// Serial consoles and some pseudo-terminals report no width.
constexpr int default_width = 80;

// Writes to standard output until the first failure; after it nothing
// written there can be trusted to arrive, so nothing more is tried.
void put(status_display& display, const char* text, std::size_t length)
{
    if (display.write_error == 0)
        display.write_error = write_whole(display.out, text, length);
}

// Hands the gathered lines to the stream.
void drain(status_display& display)
{
    put(display, display.pending.data(), display.pending_used);
    display.pending_used = 0;
}

void flush(status_display& display)
{
    drain(display);
    if (display.write_error == 0)
        display.write_error = flush_whole(display.out);
}

// Room for the figures and the outlook.
constexpr std::size_t terminal_line_room = status_line_room + 64;

// Up to this much time left is worth showing.
constexpr std::int64_t longest_estimate = std::int64_t{100} * 3600;

// Smooths the throughput over the last few seconds: each sample weighs a
// quarter, so a change in speed shows within two or three seconds while
// one slow block does not swing the estimate.
void sample_throughput(status_display& display, std::uint64_t count, std::int64_t now_ms)
{
    if (display.sample_ms < 0) {
        display.sample_ms = now_ms;
        display.sample_count = count;
        return;
    }
    std::int64_t elapsed = now_ms - display.sample_ms;
    if (elapsed < sample_interval_ms)
        return;
    double rate = static_cast<double>(count - display.sample_count) / static_cast<double>(elapsed);
    display.rate = display.rate > 0 ? 0.25 * rate + 0.75 * display.rate : rate;
    display.sample_ms = now_ms;
    display.sample_count = count;
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

void show(status_display& display)
{
    if (display.width_fd >= 0)
        display.width = terminal_width(display.width_fd);
    char line[terminal_line_room];
    std::size_t length =
        terminal_line(line, display.tally, display.meter, outlook_of(display), display.width);
    put(display, line, length);
    flush(display);
    display.shown = true;
    display.row_live = true;
    display.shown_ms = display.now_ms;
}

}  // namespace

status_display make_status_display(std::FILE* out, bool terminal, int width_fd)
{
    status_display display;
    display.out = out;
    display.terminal = terminal;
    display.width_fd = terminal ? width_fd : -1;
    if (!terminal)
        display.pending.resize(pending_room);
    return display;
}

void display_pass(status_display& display, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms)
{
    if (!display.terminal) {
        // A line for every block: gathered here, it costs a copy, not a
        // call into the stream.
        if (pending_room - display.pending_used < status_line_room)
            drain(display);
        display.pending_used +=
            format_status_line(display.pending.data() + display.pending_used, tally, meter);
        return;
    }
    display.tally = tally;
    display.meter = meter;
    display.shown = false;
    display.now_ms = now_ms;
    if (display.length)
        sample_throughput(display, tally.count, now_ms);
    if (!display.row_live || now_ms - display.shown_ms >= refresh_interval_ms)
        show(display);
}

void display_before_error(status_display& display, error_text text)
{
    // Text that goes elsewhere leaves the status row alone.
    if (display.terminal && display.errors_on_screen) {
        if (text == error_text::notice) {
            // The cursor is at the start of the status row: clear it so the
            // notice does not land on top of old figures.
            if (display.row_live)
                put(display, "\033[K", 3);
            display.shown = false;
        } else {
            if (!display.shown)
                show(display);
            if (text == error_text::failure && display.row_live)
                put(display, "\n", 1);
        }
        // Whatever follows on standard error moves the cursor off the row.
        display.row_live = false;
    }
    flush(display);
}

void display_end(status_display& display)
{
    if (display.terminal) {
        if (!display.shown)
            show(display);
        // Otherwise the shell's prompt would overwrite the figures.
        if (display.row_live)
            put(display, "\n", 1);
        display.row_live = false;
    }
    flush(display);
}

progress_outlook outlook_of(const status_display& display)
{
    progress_outlook outlook;
    if (!display.length)
        return outlook;
    std::uint64_t length = *display.length;
    std::uint64_t count = display.tally.count;
    if (count >= length) {
        outlook.percent = 100;
        return outlook;
    }
    // Rounded down, so 100% means all of it; count * 100 cannot overflow below 2^57.
    outlook.percent =
        count < (std::uint64_t{1} << 57)
            ? static_cast<int>(count * 100 / length)
            : static_cast<int>(static_cast<double>(count) / static_cast<double>(length) * 100);
    if (display.rate > 0) {
        double seconds = static_cast<double>(length - count) / display.rate / 1000;
        if (seconds < static_cast<double>(longest_estimate))
            outlook.seconds_left = std::llround(seconds);
    }
    return outlook;
}

std::size_t terminal_line(char* line, const compare_tally& tally, const progress_meter& meter,
                          const progress_outlook& outlook, int width)
{
    // One column stays free: a line that fills the row wraps on some terminals.
    const std::size_t room = width <= 0  ? terminal_line_room
                             : width > 1 ? static_cast<std::size_t>(width - 1)
                                         : 0;
    unsigned leave_out = 0;
    bool with_time = true;
    std::size_t length = 0;
    for (;;) {
        char* p = put_status_figures(line, tally, meter, leave_out);
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

int terminal_width(int fd)
{
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return default_width;
    return size.ws_col;
}
