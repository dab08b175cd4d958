// Narrowing a failed request down to sectors, over a medium in memory that
// fails at chosen sectors.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "read/block.h"
#include "read/narrowing.h"

namespace {

constexpr std::uint64_t K = 1024;
constexpr std::uint64_t M = 1024 * K;

// A stretch of positions, the end exclusive.
struct span {
    std::uint64_t from, to;
    bool operator==(const span& other) const { return from == other.from && to == other.to; }
};

std::string shown(const std::vector<span>& spans)
{
    std::string text;
    for (const span& s : spans)
        text += "[" + std::to_string(s.from) + "," + std::to_string(s.to) + ") ";
    return text;
}

// Appends `s`, joined to the last span where they meet.
void add(std::vector<span>& spans, span s)
{
    if (!spans.empty() && spans.back().to == s.from)
        spans.back().to = s.to;
    else
        spans.push_back(s);
}

// A medium of `size` bytes whose byte at p is p % 251, failing every request
// that touches a bad area; it counts the requests for each sector.
struct memory_medium {
    std::uint64_t size;
    std::uint64_t sector;
    std::vector<span> bad;
    std::map<std::uint64_t, int> asks;  // by sector index
    std::uint64_t furthest = 0;         // the end of the furthest request

    ssize_t read(unsigned char* buffer, std::size_t length, std::uint64_t at)
    {
        furthest = std::max(furthest, at + length);
        for (std::uint64_t s = at / sector; s * sector < at + length; ++s)
            ++asks[s];
        if (at >= size)
            return 0;
        std::uint64_t to = std::min<std::uint64_t>(at + length, size);
        for (const span& b : bad)
            if (at < b.to && b.from < to) {
                // A drive's errors differ: a stretch is told with its first.
                errno = at <= b.from ? EIO : ENODATA;
                return -1;
            }
        for (std::uint64_t p = at; p < to; ++p)
            buffer[p - at] = static_cast<unsigned char>(p % 251);
        return static_cast<ssize_t>(to - at);
    }
};

// Narrows down, over `medium`, the request from `start` to `end` that failed.
narrowed narrow(memory_medium& medium, unsigned char* buffer, std::uint64_t start,
                std::uint64_t end, std::uint64_t bound, narrowing_report& report)
{
    std::vector<unsigned char> probe(medium.sector);
    auto read = [&](unsigned char* b, std::size_t length, std::uint64_t at) {
        return medium.read(b, length, at);
    };
    return narrow_down(read, buffer, probe.data(), start, end, medium.sector, bound, report);
}

// What narrowing told, checked as it comes.
struct recorded : narrowing_report {
    std::uint64_t start = 0;
    const unsigned char* buffer = nullptr;
    std::vector<span> readable_spans, unreadable_spans;
    std::uint64_t told_to = 0;  // everything before this is told
    bool in_order = true;
    bool bytes_right = true;
    int requests = 0;
    int stop_after = -1;  // requests before stopping() says so; -1: never

    void asked(std::uint64_t, std::uint64_t, bool) override { ++requests; }
    void readable(std::uint64_t at, std::size_t length) override
    {
        tell(at, at + length);
        add(readable_spans, span{at, at + length});
        for (std::uint64_t p = at; p < at + length; ++p)
            bytes_right = bytes_right && buffer[p - start] == p % 251;
    }
    void unreadable(std::uint64_t at, std::uint64_t length, int error_number) override
    {
        tell(at, at + length);
        add(unreadable_spans, span{at, at + length});
        in_order = in_order && error_number == EIO;
    }
    bool stopping() override { return stop_after >= 0 && requests >= stop_after; }
    void tell(std::uint64_t from, std::uint64_t to)
    {
        in_order = in_order && from == told_to && to > from;
        told_to = to;
    }
};

TEST(Narrowing, EveryReadableSectorIsReadAndEveryUnreadableOneLocated)
{
    struct row {
        const char* label;
        std::uint64_t size, sector;
        std::vector<span> bad;
        std::uint64_t start, end, bound;
        std::vector<span> unreadable;  // what is told unreadable
        std::uint64_t next;
        bool ended;
        int most_requests;  // the failed request included
    };
    const std::uint64_t R = 40 * block_size;  // a large request
    // clang-format off
    const std::vector<row> rows = {
        {"one bad sector", 64 * M, 4096, {{R / 2, R / 2 + 4096}},
         0, R, 64 * M, {{R / 2, R / 2 + 4096}}, R, false, 1 + 40 + 8},
        {"two sectors of 512 across a block border", 64 * M, 512,
         {{3 * block_size - 512, 3 * block_size + 512}},
         0, R, 64 * M, {{3 * block_size - 512, 3 * block_size + 512}}, R, false, 1 + 40 + 2 * 64},
        {"five sectors of 2048, from a start that is not the first", 64 * M, 2048,
         {{R + 2048, R + 6 * 2048}},
         R, 2 * R, 64 * M, {{R + 2048, R + 6 * 2048}}, 2 * R, false, 1 + 40 + 16},
        // Dead from just past 1 MiB to the end: the end is found by steps that
        // double up to the largest, and bisection. The counts are what that
        // costs: steps that grew by a block each would cost ten requests
        // more, and a skip that began a sector late two.
        {"unreadable to the end of the medium", 128 * M, 4096, {{M + 4096, 128 * M}},
         M, M + R, 128 * M, {{M + 4096, 128 * M}}, 128 * M, false, 150},
        {"the same with sectors of 512", 128 * M, 512, {{M + 512, 128 * M}},
         M, M + R, 128 * M, {{M + 512, 128 * M}}, 128 * M, false, 209},
        // An island of 2 MiB in a stretch of 32 MiB is found, and both ends exactly.
        {"a readable island", 64 * M, 4096, {{4 * M, 20 * M + 12288}, {22 * M + 12288, 36 * M}},
         4 * M, 4 * M + R, 64 * M, {{4 * M, 20 * M + 12288}}, 20 * M + 12288, false, 39},
        // Nothing is asked for at the bound or past it (the reading limit).
        {"held at the limit", 64 * M, 4096, {{M, 64 * M}},
         M, M + R, 10 * M, {{M, 10 * M}}, 10 * M, false, 23},
        {"a stretch that ends inside the failed request", 64 * M, 4096, {{0, block_size + 4096}},
         0, R, 64 * M, {{0, block_size + 4096}}, R, false, 80},
        // The medium ends inside the request, in the middle of a sector.
        {"the end of the medium", 100 * K + 100, 4096, {{40 * K, 44 * K}},
         0, R, 104 * K, {{40 * K, 44 * K}}, 100 * K + 100, true, 20},
    };
    // clang-format on
    for (const row& r : rows) {
        memory_medium medium{r.size, r.sector, r.bad, {}, 0};
        std::vector<unsigned char> buffer(r.end - r.start);
        // The large request that failed.
        ASSERT_GT(0, medium.read(buffer.data(), buffer.size(), r.start)) << r.label;
        recorded report;
        report.start = r.start;
        report.buffer = buffer.data();
        report.told_to = r.start;
        ++report.requests;
        narrowed result = narrow(medium, buffer.data(), r.start, r.end, r.bound, report);

        EXPECT_EQ(shown(r.unreadable), shown(report.unreadable_spans)) << r.label;
        EXPECT_EQ(r.next, result.next) << r.label;
        EXPECT_EQ(r.ended, result.ended) << r.label;
        EXPECT_FALSE(result.stopped) << r.label;
        EXPECT_TRUE(report.in_order) << r.label;
        EXPECT_TRUE(report.bytes_right) << r.label;
        EXPECT_EQ(result.next, report.told_to) << r.label;
        EXPECT_LE(report.requests, r.most_requests) << r.label;
        EXPECT_LE(medium.furthest, std::max(r.end, r.bound)) << r.label;
        int most_asks = 0;
        for (const auto& sector : medium.asks)
            most_asks = std::max(most_asks, sector.second);
        EXPECT_GE(4, most_asks) << r.label;
    }
}

TEST(Narrowing, StopsAtOnceWhenTheRunIsOver)
{
    for (int stop_after : {1, 2, 10, 30, 60}) {
        memory_medium medium{128 * M, 4096, {{4096, 128 * M}}, {}, 0};
        std::vector<unsigned char> buffer(40 * block_size);
        recorded report;
        report.buffer = buffer.data();
        report.stop_after = stop_after;
        narrowed result = narrow(medium, buffer.data(), 0, buffer.size(), 128 * M, report);
        EXPECT_TRUE(result.stopped) << stop_after;
        EXPECT_EQ(stop_after, report.requests) << stop_after;
    }
}

TEST(Narrowing, RetriesCountTheRequestsForABlockAfterOneFailed)
{
    retry_tally tally;
    tally.origin = 100;  // blocks from the start offset
    const std::uint64_t B = block_size;
    note_request(tally, 0, 40 * B, false);          // read fine: nothing counts
    note_request(tally, 100 + 2 * B, 2 * B, true);  // blocks 2 and 3 failed
    note_request(tally, 100 + 2 * B, B, false);     // block 2 asked again
    for (int sector = 0; sector < 8; ++sector)      // block 3, sector by sector
        note_request(tally, 100 + 3 * B + sector * 4096, 4096, sector == 5);
    note_request(tally, 100 + 5 * B, 4096, false);    // block 5 never failed
    note_request(tally, 100 + 6 * B - 10, 20, true);  // blocks 5 and 6 failed
    note_request(tally, 100 + 6 * B, 4096, false);

    EXPECT_EQ(1, retries_so_far(tally, 2));
    EXPECT_EQ(1, take_retries(tally, 2));
    EXPECT_EQ(8, take_retries(tally, 3));
    EXPECT_EQ(0, take_retries(tally, 4));
    // Block 5 failed with 6, and was not asked for since; a block handed
    // on forgets those before it.
    EXPECT_EQ(1, retries_so_far(tally, 6));
    EXPECT_EQ(1, take_retries(tally, 6));
    EXPECT_EQ(0, retries_so_far(tally, 5));
    EXPECT_EQ(0, take_retries(tally, 9));
    EXPECT_TRUE(tally.blocks.empty());
}

}  // namespace
