// The status line's row: what a terminal is asked, and what the row holds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "show/status_row.h"
#include "test_support.h"

namespace {

TEST(StatusRow, ALineIsClearedOrLeftOnlyWhereOneIsOnTheRow)
{
    memory_output stream;
    output_stream out = make_output(stream.stream);
    status_row row;
    row.terminal = true;
    row_leave(row, out);
    row_clear(row, out);
    output_flush(out);
    EXPECT_EQ("", stream.text());
    row_print(row, out, "one\033[K\r", 7);
    EXPECT_EQ("one\033[K\r", stream.text()) << "a terminal's line goes out at once";
    row_leave(row, out);
    row_leave(row, out);
    row_print(row, out, "two\033[K\r", 7);
    row_clear(row, out);
    row_clear(row, out);
    output_flush(out);
    EXPECT_EQ("one\033[K\r\ntwo\033[K\r\033[K", stream.text());
}

TEST(StatusRow, ATerminalThatReportsNoWidthHasEighty)
{
    int pipe_ends[2];
    ASSERT_EQ(0, pipe(pipe_ends));
    EXPECT_EQ(80, terminal_width(pipe_ends[1]));
    close(pipe_ends[0]);
    close(pipe_ends[1]);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        GTEST_SKIP() << "no pseudo-terminal";
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    for (unsigned short columns : {0, 100}) {
        struct winsize size {};
        size.ws_col = columns;
        ASSERT_EQ(0, ioctl(slave, TIOCSWINSZ, &size));
        EXPECT_EQ(columns == 0 ? 80 : 100, terminal_width(slave));
    }
    close(slave);
    close(master);
}

}  // namespace
