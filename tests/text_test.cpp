// The fast formatting must give what the printf conversions give.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "compare/progress.h"
#include "compare/report.h"
#include "compare/text.h"
#include "test_support.h"

namespace {

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string printed(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string decimal(std::uint64_t v)
{
    char text[64];
    return std::string(text, put_decimal(text, v));
}

std::string hex(std::uint64_t v, int width)
{
    char text[64];
    return std::string(text, put_hex(text, v, width));
}

std::string fixed(double v, int decimals)
{
    char text[128];
    return std::string(text, put_fixed(text, v, decimals));
}

std::vector<std::uint64_t> interesting_integers()
{
    std::vector<std::uint64_t> values = {0,
                                         1,
                                         9,
                                         10,
                                         99,
                                         100,
                                         255,
                                         256,
                                         32767,
                                         32768,
                                         0xffffffffull,
                                         0x100000000ull,
                                         INT64_MAX,
                                         static_cast<std::uint64_t>(INT64_MAX) + 1,
                                         UINT64_MAX - 1,
                                         UINT64_MAX};
    for (std::uint64_t p = 1; p != 0 && p < UINT64_MAX / 10; p *= 10) {
        values.push_back(p - 1);
        values.push_back(p);
    }
    std::mt19937_64 generator(42);
    for (int i = 0; i < 2000; ++i)
        values.push_back(generator() >> (generator() % 64));
    return values;
}

TEST(Text, IntegersMatchPrintf)
{
    for (std::uint64_t v : interesting_integers()) {
        auto u = static_cast<unsigned long long>(v);
        EXPECT_EQ(printed("%llu", u), decimal(v));
        EXPECT_EQ(printed("%08llx", u), hex(v, 8));
        EXPECT_EQ(printed("%llx", u), hex(v, 1));
    }
}

TEST(Text, FixedPointMatchesPrintfIncludingTies)
{
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.004,
                                  0.005,
                                  0.015,
                                  0.025,
                                  0.125,
                                  0.375,
                                  0.5,
                                  1.5,
                                  2.5,
                                  3.5,
                                  0.994999,
                                  0.995,
                                  0.999999,
                                  1.005,
                                  2.675,
                                  1e15 + 0.5,
                                  9007199254740993.0,
                                  1.8446744073709552e19,
                                  1e20 / 3,
                                  262.144,
                                  0.023659,
                                  0.0236,
                                  1e-300,
                                  DBL_MIN,
                                  65.536,
                                  0.065536};
    std::mt19937_64 generator(7);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 5000; ++i) {
        // Halves and quarters of whole numbers are exact ties at 0 and 1 decimals.
        values.push_back(static_cast<double>(generator() % 100000) / 4);
        values.push_back(unit(generator) * std::pow(10.0, static_cast<int>(generator() % 20)));
        // The figures the status line shows: bytes in a second times 8 / 1000,
        // and the same over DVD speed; megabytes of a byte count.
        double bytes = static_cast<double>(generator() % (1ull << 34));
        values.push_back(bytes * 8 / 1000);
        values.push_back(bytes * 8 / dvd_single_speed_bits);
        values.push_back(static_cast<double>(generator()) / 1000000);
    }
    for (double v : values) {
        EXPECT_EQ(printed("%.0f", v), fixed(v, 0)) << v;
        EXPECT_EQ(printed("%.2f", v), fixed(v, 2)) << v;
    }
}

TEST(Text, DifferenceLineMatchesItsFormat)
{
    std::mt19937_64 generator(3);
    std::vector<difference> cases = {{0, 0, 0, 0, 0, 0},
                                     {UINT64_MAX, 255, 255, UINT64_MAX, 32767, UINT64_MAX},
                                     {70005, 0xc8, 0x00, 0, 4469, 2}};
    for (int i = 0; i < 3000; ++i)
        cases.push_back({generator() >> (generator() % 64), static_cast<unsigned char>(generator()),
                         static_cast<unsigned char>(generator()), generator() >> (generator() % 64),
                         static_cast<int>(generator() % 32768), generator() >> (generator() % 64)});
    for (const difference& d : cases) {
        std::string expected =
            printed("DIFFERENCE count=%llu  file1=%d (0x%02x)  file2=%d (0x%02x)  errors=%llu i=%d "
                    "block=%llu\n",
                    static_cast<unsigned long long>(d.position), d.byte1, d.byte1, d.byte2, d.byte2,
                    static_cast<unsigned long long>(d.errors), d.i,
                    static_cast<unsigned long long>(d.block));
        ASSERT_EQ(expected, difference_line(d));
    }
}

TEST(Text, StatusLineMatchesItsFormat)
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
        ASSERT_EQ(expected, status_line(tally, meter));
    }
}

TEST(Text, TheReportBufferIsWrittenOnlyWhenALineWouldNotFit)
{
    memory_output err;
    auto report = std::make_unique<report_buffer>();
    report->err = err.stream;
    std::memset(report->data, 'r', report_room);
    // One byte of room too few: what waits goes out first.
    report->used = report_room - difference_line_room + 1;
    char* at = report_reserve(*report, difference_line_room);
    EXPECT_EQ(report->data, at);
    EXPECT_EQ(std::string(report_room - difference_line_room + 1, 'r'), err.text());
    // Exactly enough room: nothing is written yet.
    report->used = report_room - difference_line_room;
    at = report_reserve(*report, difference_line_room);
    EXPECT_EQ(report->data + report_room - difference_line_room, at);
    EXPECT_EQ(report_room - difference_line_room + 1, err.text().size());
}

}  // namespace
