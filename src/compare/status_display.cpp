// Writing the status line, to a terminal or elsewhere.
#include "compare/status_display.h"

#include <sys/ioctl.h>

#include <cstring>

namespace {

constexpr char line_tail[] = "\033[K\r";
constexpr std::size_t tail_length = sizeof line_tail - 1;

void show(status_display& display)
{
    if (display.width_fd >= 0)
        display.width = terminal_width(display.width_fd);
    char line[status_line_room];
    std::size_t length = format_status_line(line, display.tally, display.meter);
    length = fit_status_line(line, length, display.width);
    std::fwrite(line, 1, length, display.out);
    std::fflush(display.out);
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
        std::fwrite(line, 1, format_status_line(line, tally, meter), display.out);
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
    if (display.terminal) {
        if (text == error_text::notice) {
            // The cursor is at the start of the status row: clear it so the
            // notice does not land on top of old figures.
            if (display.row_live)
                std::fputs("\033[K", display.out);
            display.shown = false;
        } else {
            if (!display.shown)
                show(display);
            if (text == error_text::failure && display.row_live)
                std::fputc('\n', display.out);
        }
        // Whatever follows on standard error moves the cursor off the row.
        display.row_live = false;
    }
    std::fflush(display.out);
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
    if (ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
