// The row the status line is written on: off a terminal a line after line,
// on a terminal one row rewritten in place.
#ifndef TANDEMCHECK_STATUS_ROW_H
#define TANDEMCHECK_STATUS_ROW_H

#include <cstddef>

#include "show/output.h"

// Standard output's row, and what is on it.
struct status_row {
    bool terminal = false;  // standard output is a terminal: one row, rewritten in place
    int width = 0;          // columns of the terminal; 0 when unknown
    int width_fd = -1;      // terminal to ask for its width at each showing; -1 keeps `width`
    bool live = false;      // the cursor stands at the start of the row, and a line is on it
};

// The width to fit the next line to, asked of the terminal where there is one.
int row_width(status_row& row);

// Writes a status line. Off a terminal it is gathered with the others; on a
// terminal it replaces what the row held, and goes out at once.
void row_print(status_row& row, output_stream& out, const char* line, std::size_t length);

// Empties the row for text that starts at its beginning.
void row_clear(status_row& row, output_stream& out);

// Moves the cursor to a fresh row below the line it stands on, if any.
void row_leave(status_row& row, output_stream& out);

// Text that starts with a newline follows: it leaves the row by itself.
void row_yield(status_row& row);

// Columns of the terminal on `fd`; 80 when it does not say.
int terminal_width(int fd);

#endif
