// The lockstep's decisions, from what each input's read gave.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "read/lockstep.h"

namespace {

// A read of the fourth block.
block_read gave(read_outcome outcome, std::size_t length = block_size)
{
    block_read r;
    r.outcome = outcome;
    r.block.length = length;
    r.block.index = 3;
    return r;
}

TEST(Lockstep, WhatHappensAfterBothReads)
{
    using o = read_outcome;
    using step = lockstep_step;
    struct row {
        const char* what;
        block_read r1, r2;
        lockstep_step expected;
    };
    const std::vector<row> rows = {
        {"two blocks", gave(o::block), gave(o::block), step::settle},
        {"1 held, 2 went past", gave(o::limit, 100), gave(o::block), step::read_on_1},
        {"2 held, 1 went past", gave(o::block), gave(o::limit, 100), step::read_on_2},
        {"1 held, 2 ended where 1 is held", gave(o::limit, 100), gave(o::end, 100), step::settle},
        {"1 held, 2 ended short of it", gave(o::limit, 100), gave(o::end, 50), step::settle},
        {"1 held, 2 grew past it", gave(o::limit, 100), gave(o::end, 150), step::read_on_1},
        {"2 held, 1 grew past it", gave(o::end, 150), gave(o::limit, 100), step::read_on_2},
        {"2 held, 1 ended there", gave(o::end, 100), gave(o::limit, 100), step::settle},
        {"1 held, 2 failed", gave(o::limit, 100), gave(o::error, 0), step::settle},
        {"1 held, 2 interrupted", gave(o::limit, 100), gave(o::interrupted, 0), step::settle},
        // Input 1 stopped the run: input 2 was not read, and is not read now.
        {"1 failed", gave(o::error, 0), block_read{}, step::settle},
        {"1 interrupted, 2 held", gave(o::interrupted, 0), gave(o::limit, 100), step::settle},
        {"1 failed, 2 held", gave(o::error, 0), gave(o::limit, 100), step::settle},
    };
    for (const row& r : rows)
        EXPECT_EQ(static_cast<int>(r.expected), static_cast<int>(next_step(r.r1, r.r2))) << r.what;
}

TEST(Lockstep, AHeldReadEndsWhereItsOwnLengthSays)
{
    using o = read_outcome;
    struct row {
        const char* what;
        block_read held;
        std::optional<std::uint64_t> length;
        read_outcome outcome;
        std::uint64_t ended_at;
    };
    const std::uint64_t count = 3 * block_size;
    const std::vector<row> rows = {
        {"ends within the block", gave(o::limit, 100), 100000, o::end, 100000},
        {"ends at the block's start", gave(o::limit, 0), count, o::end, count},
        {"holds more than the block", gave(o::limit, 100), count + block_size, o::limit, 0},
        {"length unknown", gave(o::limit, 100), std::nullopt, o::limit, 0},
        {"not held", gave(o::block), 100000, o::block, 0},
    };
    for (row r : rows) {
        settle_at_limit(r.held, r.length);
        EXPECT_EQ(static_cast<int>(r.outcome), static_cast<int>(r.held.outcome)) << r.what;
        EXPECT_EQ(r.ended_at, r.held.ended_at) << r.what;
    }
}

}  // namespace
