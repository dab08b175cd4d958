// The comparison run over in-memory streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "compare/comparison.h"
#include "test_support.h"

using namespace expected;

namespace {

constexpr std::size_t B = block_size;

struct in_memory_run {
    run_result result;
    std::string out;
    std::string err;
};

in_memory_run run(const std::string& bytes1, const std::string& bytes2,
                  std::size_t fail1 = std::string::npos, std::size_t fail2 = std::string::npos,
                  std::size_t request = B)
{
    memory_output out, err;
    status_display display = make_status_display(out.stream, false, -1);
    in_memory_run r;
    input input1 = memory_input(1, bytes1, 0, fail1, request);
    input input2 = memory_input(2, bytes2, 0, fail2, request);
    r.result = run_comparison(input1, input2, display, err.stream, still_clock);
    r.out = out.text();
    r.err = err.text();
    return r;
}

std::string with_byte(std::string bytes, std::size_t at, unsigned char value)
{
    bytes[at] = static_cast<char>(value);
    return bytes;
}

TEST(ComparisonRun, IdenticalInputsOfWholeBlocks)
{
    std::string data = random_bytes(2 * B, 1);
    in_memory_run r = run(data, data);
    EXPECT_EQ(0, r.result.status);
    EXPECT_EQ(status_lines({0, B, 2 * B}), r.out);
    EXPECT_EQ("EOF found in file1 at 65536\nEOF found in file2 at 65536\n" + summary(2 * B, 0, 0),
              r.err);
}

TEST(ComparisonRun, InputsThatEndEarly)
{
    std::string data = random_bytes(10 * B, 2);
    // An empty first input: stream 2 is still read once. Nothing was
    // verified, and the run says so.
    in_memory_run empty = run("", data);
    EXPECT_EQ(1, empty.result.status);
    EXPECT_EQ(status_lines({0}), empty.out);
    EXPECT_EQ("EOF found in file1 at 0\n"
              "tandemcheck(): no byte compared: file 1 holds nothing from its start offset\n" +
                  summary(0, 0, 0),
              empty.err);
    in_memory_run empty2 = run(data, "");
    EXPECT_EQ(1, empty2.result.status);
    EXPECT_EQ("EOF found in file2 at 0\n"
              "tandemcheck(): no byte compared: file 2 holds nothing from its start offset\n" +
                  summary(0, 0, 0),
              empty2.err);
    // Both empty: there was nothing to verify.
    in_memory_run none = run("", "");
    EXPECT_EQ(0, none.result.status);
    EXPECT_EQ("EOF found in file1 at 0\nEOF found in file2 at 0\n" + summary(0, 0, 0), none.err);

    in_memory_run shorter = run(data.substr(0, B), data);
    EXPECT_EQ(0, shorter.result.status);
    EXPECT_EQ("EOF found in file1 at 32768\n" + summary(B, 0, 0), shorter.err);

    // Lengths off the block grid: each notice says where its input ended.
    in_memory_run ragged = run(data.substr(0, 40000), data.substr(0, 50000));
    EXPECT_EQ(0, ragged.result.status);
    EXPECT_EQ(status_lines({0, 40000}), ragged.out);
    EXPECT_EQ("EOF found in file1 at 40000\nEOF found in file2 at 50000\n" + summary(40000, 0, 0),
              ragged.err);
}

TEST(ComparisonRun, DifferencesInBlocksAndAcrossBorders)
{
    std::string data = random_bytes(3 * B, 3);
    std::string other = data;
    for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{8}, B - 1, B, 2 * B + 5})
        other[at] = static_cast<char>(~other[at]);
    auto byte = [](const std::string& s, std::size_t at) {
        return static_cast<unsigned char>(s[at]);
    };
    auto diff = [&](std::size_t at, std::uint64_t errors) {
        return difference_at(at, byte(data, at), byte(other, at), errors);
    };
    in_memory_run r = run(data, other);
    EXPECT_EQ(1, r.result.status);
    EXPECT_EQ(6u, r.result.tally.errors);
    EXPECT_EQ(3u, r.result.tally.dblocks);
    EXPECT_EQ(status_lines({0}) + status_lines({B}, 4, 1) + status_lines({2 * B}, 5, 2) +
                  status_lines({3 * B}, 6, 3),
              r.out);
    EXPECT_EQ("\n" + diff(0, 0) + diff(5, 1) + diff(8, 2) + diff(B - 1, 3) + retries +  //
                  "\n" + diff(B, 4) + retries +                                         //
                  "\n" + diff(2 * B + 5, 5) + retries +                                 //
                  "EOF found in file1 at 98304\nEOF found in file2 at 98304\n" +
                  summary(3 * B, 6, 3),
              r.err);
}

TEST(ComparisonRun, ByteValuesAreShownUnsigned)
{
    std::string zeros(B, '\0');
    in_memory_run r = run(with_byte(zeros, 7, 0xc8), zeros);
    EXPECT_NE(
        std::string::npos,
        r.err.find("DIFFERENCE count=7  file1=200 (0xc8)  file2=0 (0x00)  errors=0 i=7 block=0\n"));
}

TEST(ComparisonRun, TheTailIsCompared)
{
    // One and a half blocks that differ only in the last half block.
    std::string data = random_bytes(B + B / 2, 4);
    std::string other = with_byte(data, B + 100, static_cast<unsigned char>(~data[B + 100]));
    in_memory_run r = run(data, other);
    EXPECT_EQ(1, r.result.status);
    // The last status line, written after the tail is compared, agrees with the summary.
    EXPECT_EQ(status_lines({0}) + status_lines({B + B / 2}, 1, 1), r.out);
    EXPECT_EQ("EOF found in file1 at 49152\nEOF found in file2 at 49152\n\n" +
                  difference_at(B + 100, static_cast<unsigned char>(data[B + 100]),
                                static_cast<unsigned char>(other[B + 100]), 0) +
                  retries + summary(B + B / 2, 1, 1),
              r.err);

    // Only the bytes both inputs hold are compared.
    std::string longer = data + "extra";
    in_memory_run unequal = run(longer, data);
    EXPECT_EQ(0, unequal.result.status);
    EXPECT_EQ("EOF found in file1 at 49157\nEOF found in file2 at 49152\n" +
                  summary(B + B / 2, 0, 0),
              unequal.err);
}

TEST(ComparisonRun, ReadErrorsKeepTheTallyAndFailTheRun)
{
    const fault_table table = make_fault_table();
    // Requests larger than a block meet a read error where reading a block
    // at a time meets it.
    for (std::size_t request : {B, 4 * B, 40 * B})
        for (const fault_case& f : table.cases) {
            const std::size_t none = std::string::npos;
            in_memory_run r = f.input == 1 ? run(table.data, table.other, f.fail_at, none, request)
                                           : run(table.data, table.other, none, f.fail_at, request);
            std::string label = "input " + std::to_string(f.input) + " failing at " +
                                std::to_string(f.fail_at) + ", requests of " +
                                std::to_string(request);
            EXPECT_EQ(1, r.result.status) << label;
            EXPECT_TRUE(r.result.read_error) << label;
            EXPECT_EQ(f.count, r.result.tally.count) << label;
            EXPECT_EQ(f.err, r.err) << label;
            // A status line for every pass whose reads both succeeded.
            std::string out;
            for (std::uint64_t count = 0; count < f.count; count += B)
                out += count > B ? status_lines({count}, 1, 1) : status_lines({count});
            EXPECT_EQ(out, r.out) << label;
        }
}

TEST(ComparisonRun, AnUnreadableAreaPastWhatTheBlocksNeedIsNoError)
{
    // A drive longer than the image, unreadable from its fifth block on.
    const std::string data = random_bytes(10 * B, 7);
    for (std::size_t request : {B, 4 * B, 40 * B}) {
        in_memory_run r =
            run(data.substr(0, 2 * B + B / 2), data, std::string::npos, 5 * B, request);
        EXPECT_EQ(0, r.result.status) << request;
        EXPECT_EQ("EOF found in file1 at 81920\n" + summary(2 * B + B / 2, 0, 0), r.err) << request;
    }
}

// A clock that moves on by one second at every reading.
clock_reading stepping_clock()
{
    static std::time_t second = 0;
    return clock_reading{++second, 0};
}

TEST(ComparisonRun, TheMeterIsCreditedWithTheBytesCompared)
{
    memory_output out, err;
    status_display display = make_status_display(out.stream, false, -1);
    std::string data = random_bytes(2 * B + 100, 6);
    input input1 = memory_input(1, data), input2 = memory_input(2, data);
    run_comparison(input1, input2, display, err.stream, stepping_clock);
    // Each line shows the block compared in the second before it.
    EXPECT_EQ("count=0 (0.00MB), speed=0kbps (0.00x) errors=0 dblocks=0 00000000\033[K\r"
              "count=32768 (0.03MB), speed=262kbps (0.02x) errors=0 dblocks=0 00008000\033[K\r"
              "count=65636 (0.07MB), speed=262kbps (0.02x) errors=0 dblocks=0 00010064\033[K\r",
              out.text());
}

}  // namespace
