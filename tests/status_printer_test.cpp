// What the status line says, off a terminal and on terminals of every width.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "show/status_printer.h"
#include "test_support.h"

namespace {

compare_tally at(std::uint64_t count)
{
    compare_tally tally;
    tally.count = count;
    return tally;
}

TEST(StatusPrinter, StatusLineMatchesItsFormat)
{
    std::mt19937_64 generator(5);
    // Rounding ties of the megabytes, exact in binary (125000) or not, and
    // the edges of the fast rounding.
    const std::vector<std::uint64_t> counts = {UINT64_MAX,
                                               0,
                                               5000,
                                               15000,
                                               125000,
                                               995000,
                                               9995000,
                                               32768,
                                               1ull << 50,
                                               (1ull << 50) - 1,
                                               (1ull << 50) + 5000,
                                               1125899906845000,
                                               9007199254740993};
    // One text memo for every line, as a run keeps it.
    speed_text speeds;
    for (std::size_t i = 0; i < 3000 + counts.size(); ++i) {
        compare_tally tally;
        tally.count = i < counts.size() ? counts[i] : generator() >> (generator() % 64);
        tally.errors = generator() >> (generator() % 64);
        tally.dblocks = generator() >> (generator() % 64);
        progress_meter meter;
        double bits = static_cast<double>(generator() % (1ull << 40)) * 8;
        meter.speed_kbps = bits / 1000;
        meter.speed_factor = bits / dvd_single_speed_bits;
        std::string expected = printed(
            "count=%llu (%.2fMB), speed=%.0fkbps (%.2fx) errors=%llu dblocks=%lu %08llx\033[K\r",
            static_cast<unsigned long long>(tally.count),
            static_cast<double>(tally.count) / 1000000, meter.speed_kbps, meter.speed_factor,
            static_cast<unsigned long long>(tally.errors),
            static_cast<unsigned long>(tally.dblocks),
            static_cast<unsigned long long>(tally.count));
        char line[status_line_room];
        ASSERT_EQ(expected, std::string(line, format_status_line(line, tally, meter, speeds)));
    }
}

TEST(StatusPrinter, LinesAreCutToTheTerminalWidth)
{
    const std::string body =
        "count=123456789 (123.46MB), speed=0kbps (0.00x) errors=0 dblocks=0 075bcd15";
    const std::string line = body + "\033[K\r";
    ASSERT_EQ(line, status_line(at(123456789), progress_meter{}));
    struct row {
        int width;
        std::string shown;
    };
    const std::vector<row> rows = {
        {0, body},  // unknown width: left alone
        {-3, body},
        {1, ""},
        {2, "c"},
        {40, "count=123456789 (123.46MB), speed=0kbps"},
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

TEST(StatusPrinter, NarrowTerminalsLeaveOutWholeFiguresLeastNeededFirst)
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
        {width(no_time) - 1, {42, 83}, "count=123456789 errors=3 dblocks=1  42"},
        {11, {42, 83}, "count=1234"},
        // Before an estimate, and without a length: nothing, or the percent alone.
        {200,
         {42, -1},
         "count=123456789 (123.46MB), speed=262kbps (0.02x) errors=3 dblocks=1 075bcd15  42%"},
        {200, {}, "count=123456789 (123.46MB), speed=262kbps (0.02x) errors=3 dblocks=1 075bcd15"},
        {width(no_speed), {100, -1}, "count=123456789 errors=3 dblocks=1  100%"},
    };
    speed_text speeds;
    for (const row& r : rows) {
        char line[terminal_line_room];
        std::size_t length = terminal_line(line, tally, meter, speeds, r.outlook, r.width);
        EXPECT_EQ(r.shown + "\033[K\r", std::string(line, length)) << "width " << r.width;
    }
}

TEST(StatusPrinter, PercentAndTimeLeft)
{
    const std::optional<std::uint64_t> none;
    struct row {
        std::uint64_t count;
        std::optional<std::uint64_t> length;
        double rate;  // bytes per millisecond; 0: no estimate yet
        int percent;
        std::int64_t seconds_left;
    };
    const std::vector<row> rows = {
        {5000, none, 1.0, -1, -1},
        {0, 1000, 0, 0, -1},
        {250, 1000, 0, 25, -1},
        {250, 1000, 0.5, 25, 2},  // 750 bytes at half a byte a millisecond: 1.5 s, rounded
        {999, 1000, 1.0, 99, 0},
        // At the length, or past it: all of it, and nothing left to estimate.
        {1000, 1000, 1.0, 100, -1},
        {1500, 1000, 1.0, 100, -1},
        {0, 0, 1.0, 100, -1},
        // Rounded down; past 2^57 by way of doubles.
        {1ull << 60, 3ull << 60, 0, 33, -1},
        // An estimate of 100 hours or more is not shown.
        {0, 360000001, 1.0, 0, -1},
        {0, 359000000, 1.0, 0, 359000},
    };
    for (const row& r : rows) {
        time_left_rate estimate;
        estimate.rate = r.rate;
        progress_outlook outlook = outlook_of(r.count, r.length, estimate);
        EXPECT_EQ(r.percent, outlook.percent) << r.count;
        EXPECT_EQ(r.seconds_left, outlook.seconds_left) << r.count;
    }
}

TEST(StatusPrinter, TimeLeftReadsAsMinutesOrHours)
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

TEST(StatusPrinter, TheThroughputIsSampledEveryHalfSecondAndSmoothed)
{
    time_left_rate estimate;
    sample_time_left_rate(estimate, 0, 1000);
    EXPECT_EQ(0.0, estimate.rate);
    sample_time_left_rate(estimate, 400, 1499);  // too soon
    EXPECT_EQ(0.0, estimate.rate);
    sample_time_left_rate(estimate, 1000, 1500);  // 1000 bytes in 500 ms
    EXPECT_EQ(2.0, estimate.rate);
    sample_time_left_rate(estimate, 7000, 2500);  // 6 bytes a ms weighs a quarter
    EXPECT_EQ(3.0, estimate.rate);
}

}  // namespace
