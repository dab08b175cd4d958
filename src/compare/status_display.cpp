// Writing the status line, to a terminal or elsewhere.
#include "compare/status_display.h"

#include <sys/ioctl.h>

#include <cstring>

#include "compare/output.h"

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

void flush(status_display& display)
{
    if (display.write_error == 0)
        display.write_error = flush_whole(display.out);
}

void show(status_display& display)
{
    if (display.width_fd >= 0)
        display.width = terminal_width(display.width_fd);
    char line[status_line_room];
    std::size_t length = format_status_line(line, display.tally, display.meter);
    length = fit_status_line(line, length, display.width);
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
    return display;
}

void display_pass(status_display& display, const compare_tally& tally, const progress_meter& meter,
                  std::int64_t now_ms)
{
    if (!display.terminal) {
        char line[status_line_room];
        put(display, line, format_status_line(line, tally, meter));
        return;
    }
    display.tally = tally;
    display.meter = meter;
    display.shown = false;
    display.now_ms = now_ms;
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
