// The fast formatting must give what the printf conversions give.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "show/progress.h"
#include "show/text.h"
#include "test_support.h"

namespace {

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

}  // namespace
