// The throughput meter, driven with chosen clock readings.
#include <gtest/gtest.h>

#include <string>

#include "show/progress.h"
#include "show/status_printer.h"
#include "test_support.h"

namespace {

std::string line_at(const compare_tally& tally, const progress_meter& meter)
{
    std::string line = status_line(tally, meter);
    EXPECT_EQ("\033[K\r", line.substr(line.size() - 4));
    return line.substr(0, line.size() - 4);
}

compare_tally at(std::uint64_t count, std::uint64_t errors = 0, std::uint64_t dblocks = 0)
{
    compare_tally tally;
    tally.count = count;
    tally.errors = errors;
    tally.dblocks = dblocks;
    return tally;
}

TEST(ProgressMeter, StatusLinesOfAFreshMeter)
{
    progress_meter meter;
    meter_start(meter, 5000);
    EXPECT_EQ("count=0 (0.00MB), speed=0kbps (0.00x) errors=0 dblocks=0 00000000",
              line_at(at(0), meter));
    EXPECT_EQ("count=32768 (0.03MB), speed=0kbps (0.00x) errors=0 dblocks=0 00008000",
              line_at(at(32768), meter));
    EXPECT_EQ("count=4294967296 (4294.97MB), speed=0kbps (0.00x) errors=3 dblocks=1 100000000",
              line_at(at(4294967296, 3, 1), meter));
}

TEST(ProgressMeter, SpeedMovesOnlyAfterExactlyOneSecond)
{
    progress_meter meter;
    meter_start(meter, 5000);

    // Within the starting second nothing moves.
    meter_credit(meter, 32768);
    meter_update(meter, 5000);
    EXPECT_EQ(0.0, meter.speed_kbps);
    EXPECT_EQ(32768, meter.bytes_since_tick);

    // One second later: one block credited gives 262kbps (0.02x).
    meter_update(meter, 5001);
    EXPECT_EQ("count=32768 (0.03MB), speed=262kbps (0.02x) errors=0 dblocks=0 00008000",
              line_at(at(32768), meter));
    EXPECT_EQ(0, meter.bytes_since_tick);
    EXPECT_EQ(5001, meter.last_tick);

    // 1,385,000 bytes in a second is exactly DVD single speed.
    meter_credit(meter, 1385000);
    meter_update(meter, 5002);
    EXPECT_EQ(11080.0, meter.speed_kbps);
    EXPECT_EQ(1.0, meter.speed_factor);

    // A pass that took three seconds resets the byte count, keeps the speeds.
    meter_credit(meter, 99999);
    meter_update(meter, 5005);
    EXPECT_EQ(11080.0, meter.speed_kbps);
    EXPECT_EQ(0, meter.bytes_since_tick);
    EXPECT_EQ(5005, meter.last_tick);
}

TEST(ProgressMeter, ClockSetBackChangesNothingUntilItPassesTheTick)
{
    progress_meter meter;
    meter_start(meter, 5000);
    meter_credit(meter, 65536);
    meter_update(meter, 4000);
    meter_update(meter, 4999);
    meter_update(meter, 5000);
    EXPECT_EQ(5000, meter.last_tick);
    EXPECT_EQ(65536, meter.bytes_since_tick);
    EXPECT_EQ(0.0, meter.speed_kbps);
    meter_update(meter, 5001);
    EXPECT_EQ("count=65536 (0.07MB), speed=524kbps (0.05x) errors=0 dblocks=0 00010000",
              line_at(at(65536), meter));
}

TEST(ProgressMeter, MoreThanTwoGigabytesInOneTickDoNotOverflow)
{
    progress_meter meter;
    meter_start(meter, 0);
    for (int i = 0; i < 3; ++i)
        meter_credit(meter, 1ull << 30);
    meter_update(meter, 1);
    EXPECT_EQ(3.0 * (1ull << 30) * 8 / 1000, meter.speed_kbps);
}

}  // namespace
