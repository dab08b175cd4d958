// The status line's row on standard output.
#include "show/status_row.h"

#include <sys/ioctl.h>

namespace {

// Serial consoles and some pseudo-terminals report no width.
constexpr int default_width = 80;

}  // namespace

int row_width(status_row& row)
{
    if (row.terminal && row.width_fd >= 0)
        row.width = terminal_width(row.width_fd);
    return row.width;
}

void row_print(status_row& row, output_stream& out, const char* line, std::size_t length)
{
    output_write(out, line, length);
    if (row.terminal) {
        output_flush(out);
        row.live = true;
    }
}

void row_clear(status_row& row, output_stream& out)
{
    if (row.live)
        output_write(out, "\033[K", 3);
    row.live = false;
}

void row_leave(status_row& row, output_stream& out)
{
    // Otherwise the next text, the shell's prompt say, would overwrite the line.
    if (row.live)
        output_write(out, "\n", 1);
    row.live = false;
}

void row_yield(status_row& row)
{
    row.live = false;
}

int terminal_width(int fd)
{
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return default_width;
    return size.ws_col;
}
