// What goes where, and in which order, on and off a terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "show/console.h"
#include "test_support.h"

namespace {

compare_tally at(std::uint64_t count)
{
    compare_tally tally;
    tally.count = count;
    return tally;
}

// A console over in-memory streams; standard output a terminal or not.
struct screen {
    memory_output out, err;
    console con;

    explicit screen(bool terminal, bool errors_on_screen = true)
        : con(make_console(out.stream, err.stream, terminal, errors_on_screen))
    {
    }
};

TEST(Console, OffATerminalEveryPassIsWritten)
{
    screen s(false);
    progress_meter meter;
    // Enough lines to fill the gathering buffer a few times over.
    const std::uint64_t passes = 3 * output_room / 64;
    std::string expected;
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        console_pass(s.con, at(pass * 32768), meter, 0);
        const unsigned long long count = pass * 32768;
        expected += printed("count=%llu (%.2fMB), speed=0kbps (0.00x) errors=0 dblocks=0 %08llx"
                            "\033[K\r",
                            count, static_cast<double>(count) / 1e6, count);
    }
    // Every line is out before anything goes to standard error; a read
    // error's comes after the line of the run's end figures, and nothing is
    // added before a report.
    ASSERT_EQ(3072u, passes);
    console_read_failed(s.con, 1, EIO, at(passes * 32768), meter);
    expected +=
        "count=100663296 (100.66MB), speed=0kbps (0.00x) errors=0 dblocks=0 06000000\033[K\r";
    EXPECT_EQ(expected, s.out.text());
    console_block_differs(s.con);
    console_block_done(s.con);
    EXPECT_EQ(expected, s.out.text());
    EXPECT_EQ("tandemcheck(): fread file 1():: Input/output error\n\nretries=0 read block\n",
              s.err.text());
}

TEST(Console, ATerminalIsRefreshedAtMostEveryTenthOfASecond)
{
    screen s(true);
    progress_meter meter;
    // ms of each pass, and the line it shows.
    const std::vector<std::pair<std::int64_t, std::string>> passes = {
        {1000, line_at_0},
        {1001, ""},
        {1099, ""},
        {1100, line_at_98304},
        {1150, ""},
        {1199, ""},
        {1200, "count=196608 (0.20MB), speed=0kbps (0.00x) errors=0 dblocks=0 00030000\033[K\r"},
        {5000, "count=229376 (0.23MB), speed=0kbps (0.00x) errors=0 dblocks=0 00038000\033[K\r"},
        {5000, ""},
        {4000, ""},
        {5100, "count=327680 (0.33MB), speed=0kbps (0.00x) errors=0 dblocks=0 00050000\033[K\r"}};
    std::string expected;
    std::uint64_t count = 0;
    for (const auto& [ms, shown] : passes) {
        console_pass(s.con, at(count), meter, ms);
        expected += shown;
        EXPECT_EQ(expected, s.out.text()) << "pass at " << ms << " ms";
        count += 32768;
    }
}

TEST(Console, ATerminalShowsTheNewestLineBeforeAReport)
{
    screen s(true);
    progress_meter meter;
    console_pass(s.con, at(0), meter, 0);
    console_pass(s.con, at(32768), meter, 10);
    console_pass(s.con, at(65536), meter, 20);
    EXPECT_EQ(line_at_0, s.out.text());
    // A report that starts on a new line: the newest figures go above it.
    console_block_differs(s.con);
    console_block_done(s.con);
    std::string expected = line_at_0 + line_at_65536;
    EXPECT_EQ(expected, s.out.text());
    // The report moved the cursor off the row: the next pass is shown at once.
    console_pass(s.con, at(98304), meter, 21);
    expected += line_at_98304;
    EXPECT_EQ(expected, s.out.text());
    // A notice that starts at the row's beginning gets a cleared row.
    console_input_ended(s.con, 1, 98304);
    expected += "\033[K";
    EXPECT_EQ(expected, s.out.text());
    // The pass of the end waits for the run's end figures; before the
    // summary they come back on screen, once.
    console_pass(s.con, at(98304), meter, 22);
    EXPECT_EQ(expected, s.out.text());
    EXPECT_TRUE(console_run_ended(s.con, run_end::finished, at(98304), meter, shortfall{}));
    expected += line_at_98304;
    EXPECT_EQ(expected, s.out.text());
    EXPECT_EQ("\nretries=0 read block\nEOF found in file1 at 98304\n"
              "\n\nReady, 98304 bytes read, 0 errors found, 0 defective blocks\n",
              s.err.text());
}

TEST(Console, AFailureGoesBelowTheNewestLine)
{
    const std::string incomplete =
        "tandemcheck(): file 2 ended at 32768, before file 1 did: the copy is incomplete\n";
    const std::string summary = "\n\nReady, 32768 bytes read, 0 errors found, 0 defective blocks\n";
    struct row {
        bool read_error;  // else an incomplete copy, or with -k unreadable bytes
        std::string out, err;
        bool unreadable = false;
    };
    const std::vector<row> rows = {
        {true, line_at_0 + line_at_32768 + "\n",
         "tandemcheck(): fread file 2():: Input/output error\n" + summary},
        {false, line_at_0 + "\033[K" + line_at_32768 + "\n",
         "EOF found in file2 at 32768\n" + incomplete + summary},
        // A stretch that goes on to the end is told at the end, before the totals.
        {false, line_at_0 + "\033[K" + line_at_32768 + "\n",
         "EOF found in file2 at 32768\n"
         "tandemcheck(): file 2 unreadable from 4096 to 32768: Input/output error\n"
         "tandemcheck(): file 2: 28672 bytes in 1 stretch could not be read\n" +
             summary,
         true},
    };
    for (const row& r : rows) {
        unreadable_tallies unreadable;
        if (r.unreadable)
            unreadable[1] = unreadable_tally{28672, 1, unreadable_stretch{4096, 32768, EIO}};
        screen s(true);
        progress_meter meter;
        console_pass(s.con, at(0), meter, 0);
        console_pass(s.con, at(32768), meter, 10);
        if (r.read_error) {
            console_read_failed(s.con, 2, EIO, at(32768), meter);
        } else {
            console_input_ended(s.con, 2, 32768);
            console_pass(s.con, at(32768), meter, 20);
        }
        // The summary that follows finds the figures on screen already.
        EXPECT_TRUE(console_run_ended(
            s.con, r.read_error ? run_end::read_error : run_end::finished, at(32768), meter,
            r.unreadable ? shortfall{} : shortfall{2, 32768, false}, unreadable));
        EXPECT_EQ(r.out, s.out.text()) << r.read_error;
        EXPECT_EQ(r.err, s.err.text()) << r.read_error;
    }
}

TEST(Console, ARunEndsOnAFreshRowBelowTheNewestFigures)
{
    struct row {
        bool terminal, errors_on_screen;
        run_end how;
        std::string out;
    };
    const std::vector<row> rows = {
        {false, true, run_end::finished, line_at_0 + line_at_32768},
        // The summary on the same screen starts a new row itself.
        {true, true, run_end::finished, line_at_0 + line_at_32768},
        // With the report elsewhere, nothing else would end the row.
        {true, false, run_end::finished, line_at_0 + line_at_32768 + "\n"},
        // Interrupted with figures on the row: no summary comes to end it.
        {true, true, run_end::interrupted, line_at_0 + line_at_32768 + "\n"},
        {true, false, run_end::interrupted, line_at_0 + line_at_32768 + "\n"},
        {true, true, run_end::report_failed, line_at_0 + line_at_32768 + "\n"},
    };
    for (const row& r : rows) {
        screen s(r.terminal, r.errors_on_screen);
        console_pass(s.con, at(0), progress_meter{}, 0);
        // A finished run's last line shows its end figures; a run cut short
        // has the figures of its last pass.
        if (r.how != run_end::finished)
            console_pass(s.con, at(32768), progress_meter{}, 10);
        console_run_ended(s.con, r.how, at(32768), progress_meter{}, shortfall{});
        EXPECT_EQ(r.out, s.out.text())
            << r.terminal << r.errors_on_screen << static_cast<int>(r.how);
        const bool summary = r.how == run_end::finished;
        EXPECT_EQ(summary ? "\n\nReady, 32768 bytes read, 0 errors found, 0 defective blocks\n"
                          : "",
                  s.err.text());
    }
}

TEST(Console, WhatCouldNotBeWrittenIsSaidWhereItCanBe)
{
    // Standard output failed: said once on standard error, after the summary.
    memory_output err;
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, full);
    console con = make_console(full, err.stream);
    console_pass(con, at(0), progress_meter{}, 0);
    EXPECT_FALSE(console_run_ended(con, run_end::finished, at(0), progress_meter{}, shortfall{}));
    EXPECT_EQ("\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n"
              "tandemcheck(): standard output: No space left on device\n",
              err.text());
    std::fclose(full);
}

}  // namespace
