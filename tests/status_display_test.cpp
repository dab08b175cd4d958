// Where the status line goes, on and off a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "compare/status_display.h"
#include "test_support.h"

namespace {

compare_tally at(std::uint64_t count)
{
    compare_tally tally;
    tally.count = count;
    return tally;
}

std::string figures(std::uint64_t count)
{
    std::string line = status_line(at(count), progress_meter{});
    return line.substr(0, line.size() - 4);
}

TEST(StatusDisplay, OffATerminalEveryPassIsWritten)
{
    memory_output out;
    status_display display = make_status_display(out.stream, false, -1);
    progress_meter meter;
    // Enough lines to fill the gathering buffer a few times over.
    const std::uint64_t passes = 3 * pending_room / 64;
    for (std::uint64_t pass = 0; pass < passes; ++pass)
        display_pass(display, at(pass * 32768), meter, 0);
    std::string expected;
    for (std::uint64_t pass = 0; pass < passes; ++pass)
        expected += status_line(at(pass * 32768), meter);
    // Every line is out before anything goes to standard error, and
    // nothing is added before a report.
    display_before_error(display, error_text::notice);
    EXPECT_EQ(expected, out.text());
    display_before_error(display, error_text::failure);
    display_before_error(display, error_text::new_line);
    EXPECT_EQ(expected, out.text());
}

TEST(StatusDisplay, ATerminalIsRefreshedAtMostEveryTenthOfASecond)
{
    memory_output out;
    status_display display = make_status_display(out.stream, true, -1);
    progress_meter meter;
    // ms of each pass, and whether its line is shown.
    const std::vector<std::pair<std::int64_t, bool>> passes = {
        {1000, true}, {1001, false}, {1099, false}, {1100, true},  {1150, false}, {1199, false},
        {1200, true}, {5000, true},  {5000, false}, {4000, false}, {5100, true}};
    std::string expected;
    std::uint64_t count = 0;
    for (const auto& [ms, shown] : passes) {
        display_pass(display, at(count), meter, ms);
        if (shown)
            expected += figures(count) + "\033[K\r";
        EXPECT_EQ(expected, out.text()) << "pass at " << ms << " ms";
        count += 32768;
    }
}

TEST(StatusDisplay, ATerminalShowsTheNewestLineBeforeAReport)
{
    memory_output out;
    status_display display = make_status_display(out.stream, true, -1);
    progress_meter meter;
    display_pass(display, at(0), meter, 0);
    display_pass(display, at(32768), meter, 10);
    display_pass(display, at(65536), meter, 20);
    EXPECT_EQ(figures(0) + "\033[K\r", out.text());
    // A report that starts on a new line: the newest figures go above it.
    display_before_error(display, error_text::new_line);
    std::string expected = figures(0) + "\033[K\r" + figures(65536) + "\033[K\r";
    EXPECT_EQ(expected, out.text());
    // The report moved the cursor off the row: the next pass is shown at once.
    display_pass(display, at(98304), meter, 21);
    expected += figures(98304) + "\033[K\r";
    EXPECT_EQ(expected, out.text());
    // A notice that starts at the row's beginning gets a cleared row.
    display_before_error(display, error_text::notice);
    expected += "\033[K";
    EXPECT_EQ(expected, out.text());
    // Before the summary, the newest figures come back on screen.
    display_before_error(display, error_text::new_line);
    expected += figures(98304) + "\033[K\r";
    EXPECT_EQ(expected, out.text());
    // Already shown: nothing is repeated.
    display_before_error(display, error_text::new_line);
    EXPECT_EQ(expected, out.text());
}

TEST(StatusDisplay, AFailureGoesBelowTheNewestLine)
{
    memory_output out;
    status_display display = make_status_display(out.stream, true, -1);
    progress_meter meter;
    display_pass(display, at(0), meter, 0);
    display_pass(display, at(32768), meter, 10);
    display_before_error(display, error_text::failure);
    EXPECT_EQ(figures(0) + "\033[K\r" + figures(32768) + "\033[K\r\n", out.text());
    // The summary that follows finds the figures on screen already.
    display_before_error(display, error_text::new_line);
    EXPECT_EQ(figures(0) + "\033[K\r" + figures(32768) + "\033[K\r\n", out.text());
}

TEST(StatusDisplay, LinesAreCutToTheTerminalWidth)
{
    const std::string line = status_line(at(123456789), progress_meter{});
    const std::string body = line.substr(0, line.size() - 4);
    struct row {
        int width;
        std::string shown;
    };
    const std::vector<row> rows = {
        {0, body},  // unknown width: left alone
        {-3, body},
        {1, ""},
        {2, body.substr(0, 1)},
        {40, body.substr(0, 39)},
        {static_cast<int>(body.size()), body.substr(0, body.size() - 1)},
        {static_cast<int>(body.size()) + 1, body},
        {500, body},
    };
    for (const row& r : rows) {
        std::string text = line;
        text.resize(fit_status_line(text.data(), text.size(), r.width));
        EXPECT_EQ(r.shown + "\033[K\r", text) << "width " << r.width;
    }
}

TEST(StatusDisplay, NarrowTerminalsLeaveOutWholeFiguresLeastNeededFirst)
{
    compare_tally tally = at(123456789);
    tally.errors = 3;
    tally.dblocks = 1;
    progress_meter meter;
    meter.speed_kbps = 262.144;
    meter.speed_factor = 262144.0 / 11080000;
    const std::string all = "count=123456789 (123.46MB), speed=262kbps (0.02x) errors=3 dblocks=1 "
                            "075bcd15  42% 1:23 left";
    const std::string no_position =
        "count=123456789 (123.46MB), speed=262kbps (0.02x) errors=3 dblocks=1  42% 1:23 left";
    const std::string no_megabytes =
        "count=123456789, speed=262kbps (0.02x) errors=3 dblocks=1  42% 1:23 left";
    const std::string no_factor =
        "count=123456789, speed=262kbps errors=3 dblocks=1  42% 1:23 left";
    const std::string no_speed = "count=123456789 errors=3 dblocks=1  42% 1:23 left";
    const std::string no_time = "count=123456789 errors=3 dblocks=1  42%";
    auto width = [](const std::string& line) { return static_cast<int>(line.size()) + 1; };
    struct row {
        int width;
        progress_outlook outlook;
        std::string shown;
    };
    const std::vector<row> rows = {
        {0, {42, 83}, all},  // width unknown to the caller
        {width(all), {42, 83}, all},
        {width(all) - 1, {42, 83}, no_position},
        {width(no_position) - 1, {42, 83}, no_megabytes},
        {72, {42, 83}, no_factor},
        {width(no_megabytes) - 1, {42, 83}, no_factor},
        {width(no_factor) - 1, {42, 83}, no_speed},
        {width(no_speed) - 1, {42, 83}, no_time},
        {width(no_time) - 1, {42, 83}, no_time.substr(0, no_time.size() - 1)},
        {11, {42, 83}, "count=1234"},
        // Before an estimate, and without a length: nothing, or the percent alone.
        {200, {42, -1}, all.substr(0, all.size() - 10)},
        {200, {}, all.substr(0, all.size() - 15)},
        {width(no_speed), {100, -1}, "count=123456789 errors=3 dblocks=1  100%"},
    };
    for (const row& r : rows) {
        char line[512];
        std::size_t length = terminal_line(line, tally, meter, r.outlook, r.width);
        EXPECT_EQ(r.shown + "\033[K\r", std::string(line, length)) << "width " << r.width;
    }
}

TEST(StatusDisplay, TimeLeftReadsAsMinutesOrHours)
{
    const std::vector<std::pair<std::uint64_t, std::string>> rows = {
        {0, "0:00"},       {9, "0:09"},         {83, "1:23"},
        {599, "9:59"},     {3599, "59:59"},     {3600, "1:00:00"},
        {3661, "1:01:01"}, {36000, "10:00:00"}, {359999, "99:59:59"},
    };
    for (const auto& [seconds, text] : rows) {
        char buffer[32];
        EXPECT_EQ(text, std::string(buffer, put_duration(buffer, seconds)));
    }
}

TEST(StatusDisplay, ARunEndsOnAFreshRowBelowTheNewestFigures)
{
    const std::string line0 = figures(0) + "\033[K\r", line1 = figures(32768) + "\033[K\r";
    struct row {
        bool terminal, errors_on_screen, report;
        std::string out;
    };
    const std::vector<row> rows = {
        {false, true, true, line0 + line1},
        // The summary on the same screen starts a new row itself.
        {true, true, true, line0 + line1},
        // With the report elsewhere, nothing else would end the row.
        {true, false, true, line0 + line1 + "\n"},
        // Interrupted with figures on the row.
        {true, true, false, line0 + line1 + "\n"},
    };
    for (const row& r : rows) {
        memory_output out;
        status_display display = make_status_display(out.stream, r.terminal, -1);
        display.errors_on_screen = r.errors_on_screen;
        display_pass(display, at(0), progress_meter{}, 0);
        display_pass(display, at(32768), progress_meter{}, 10);
        if (r.report)
            display_before_error(display, error_text::new_line);
        display_end(display);
        EXPECT_EQ(r.out, out.text()) << r.terminal << r.errors_on_screen << r.report;
    }
}

TEST(StatusDisplay, ATerminalThatReportsNoWidthHasEighty)
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
