// The comparison run over in-memory streams.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compare/comparison.h"
#include "interrupts.h"
#include "show/console.h"
#include "test_support.h"

namespace {

constexpr std::size_t B = block_size;
constexpr std::uint64_t M = std::uint64_t{1} << 20;

struct in_memory_run {
    run_result result;
    std::string out;
    std::string err;
};

in_memory_run run(const std::string& bytes1, const std::string& bytes2,
                  std::size_t fail1 = std::string::npos, std::size_t fail2 = std::string::npos,
                  std::size_t request = B, clock_function clock = still_clock,
                  bool keep_going = false)
{
    memory_output out, err;
    console con = make_console(out.stream, err.stream);
    in_memory_run r;
    input input1 = memory_input(bytes1, 0, fail1, request);
    input input2 = memory_input(bytes2, 0, fail2, request);
    input1.keep_going = input2.keep_going = keep_going;
    r.result = run_comparison(input1, input2, con, clock);
    r.out = out.text();
    r.err = err.text();
    return r;
}

std::string with_byte(std::string bytes, std::size_t at, unsigned char value)
{
    bytes[at] = static_cast<char>(value);
    return bytes;
}

TEST(ComparisonRun, InputsEndAsReadingABlockAtATimeMeetsTheirEnds)
{
    const std::string data = random_bytes(10 * B, 2);
    const std::string nothing_compared1 =
        "tandemcheck(): no byte compared: file 1 holds nothing from its start offset\n";
    struct row {
        std::size_t length1, length2;
        int status;
        std::string out, err;
    };
    const std::vector<row> rows = {
        {2 * B, 2 * B, 0, line_at_0 + line_at_32768 + line_at_65536,
         "EOF found in file1 at 65536\nEOF found in file2 at 65536\n\n\nReady, 65536 bytes read, 0 "
         "errors found, 0 defective blocks\n"},
        // An empty first input: stream 2 is still read once. Nothing was
        // verified, and the run says so.
        {0, 10 * B, 1, line_at_0,
         "EOF found in file1 at 0\n" + nothing_compared1 +
             "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n"},
        {10 * B, 0, 1, line_at_0,
         "EOF found in file2 at 0\n"
         "tandemcheck(): no byte compared: file 2 holds nothing from its start offset\n"
         "\n\nReady, 0 bytes read, 0 errors found, 0 defective blocks\n"},
        // Both empty: there was nothing to verify.
        {0, 0, 0, line_at_0,
         "EOF found in file1 at 0\nEOF found in file2 at 0\n\n\nReady, 0 bytes read, 0 errors "
         "found, 0 defective blocks\n"},
        {B, 10 * B, 0, line_at_0 + line_at_32768,
         "EOF found in file1 at 32768\n\n\nReady, 32768 bytes read, 0 errors found, 0 defective "
         "blocks\n"},
        // Nine blocks: the last request of four or forty blocks meets the
        // end with exactly one block in it, which still counts as a block.
        {9 * B, 9 * B, 0,
         line_at_0 + line_at_32768 + line_at_65536 +
             "count=98304 (0.10MB), speed=0kbps (0.00x) errors=0 dblocks=0 00018000\033[K\r"
             "count=131072 (0.13MB), speed=0kbps (0.00x) errors=0 dblocks=0 00020000\033[K\r"
             "count=163840 (0.16MB), speed=0kbps (0.00x) errors=0 dblocks=0 00028000\033[K\r"
             "count=196608 (0.20MB), speed=0kbps (0.00x) errors=0 dblocks=0 00030000\033[K\r"
             "count=229376 (0.23MB), speed=0kbps (0.00x) errors=0 dblocks=0 00038000\033[K\r"
             "count=262144 (0.26MB), speed=0kbps (0.00x) errors=0 dblocks=0 00040000\033[K\r"
             "count=294912 (0.29MB), speed=0kbps (0.00x) errors=0 dblocks=0 00048000\033[K\r",
         "EOF found in file1 at 294912\nEOF found in file2 at 294912\n\n\nReady, 294912 bytes "
         "read, 0 errors found, 0 defective blocks\n"},
        // Lengths off the block grid: each notice says where its input ended.
        {40000, 50000, 0,
         line_at_0 +
             "count=40000 (0.04MB), speed=0kbps (0.00x) errors=0 dblocks=0 00009c40\033[K\r",
         "EOF found in file1 at 40000\nEOF found in file2 at 50000\n\n\nReady, 40000 bytes read, "
         "0 errors found, 0 defective blocks\n"},
    };
    for (std::size_t request : {B, 4 * B, 40 * B})
        for (const row& r : rows) {
            in_memory_run ran = run(data.substr(0, r.length1), data.substr(0, r.length2),
                                    std::string::npos, std::string::npos, request);
            const std::string label = std::to_string(r.length1) + "/" + std::to_string(r.length2) +
                                      ", requests of " + std::to_string(request);
            EXPECT_EQ(r.status, ran.result.status) << label;
            EXPECT_EQ(r.out, ran.out) << label;
            EXPECT_EQ(r.err, ran.err) << label;
        }
}

TEST(ComparisonRun, DifferencesInBlocksAndAcrossBorders)
{
    std::string data = pattern_bytes(3 * B);
    std::string other = data;
    for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{8}, B - 1, B, 2 * B + 5})
        other[at] = static_cast<char>(~other[at]);
    in_memory_run r = run(data, other);
    EXPECT_EQ(1, r.result.status);
    EXPECT_EQ(6u, r.result.tally.errors);
    EXPECT_EQ(3u, r.result.tally.dblocks);
    EXPECT_EQ(line_at_0 +
                  "count=32768 (0.03MB), speed=0kbps (0.00x) errors=4 dblocks=1 00008000\033[K\r"
                  "count=65536 (0.07MB), speed=0kbps (0.00x) errors=5 dblocks=2 00010000\033[K\r"
                  "count=98304 (0.10MB), speed=0kbps (0.00x) errors=6 dblocks=3 00018000\033[K\r",
              r.out);
    EXPECT_EQ(
        "\n"
        "DIFFERENCE count=0  file1=0 (0x00)  file2=255 (0xff)  errors=0 i=0 block=0\n"
        "DIFFERENCE count=5  file1=5 (0x05)  file2=250 (0xfa)  errors=1 i=5 block=0\n"
        "DIFFERENCE count=8  file1=8 (0x08)  file2=247 (0xf7)  errors=2 i=8 block=0\n"
        "DIFFERENCE count=32767  file1=137 (0x89)  file2=118 (0x76)  errors=3 i=32767 block=0\n"
        "retries=0 read block\n"
        "\n"
        "DIFFERENCE count=32768  file1=138 (0x8a)  file2=117 (0x75)  errors=4 i=0 block=1\n"
        "retries=0 read block\n"
        "\n"
        "DIFFERENCE count=65541  file1=30 (0x1e)  file2=225 (0xe1)  errors=5 i=5 block=2\n"
        "retries=0 read block\n"
        "EOF found in file1 at 98304\nEOF found in file2 at 98304\n"
        "\n\nReady, 98304 bytes read, 6 errors found, 3 defective blocks\n",
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
    std::string data = pattern_bytes(B + B / 2);
    std::string other = with_byte(data, B + 100, static_cast<unsigned char>(~data[B + 100]));
    in_memory_run r = run(data, other);
    EXPECT_EQ(1, r.result.status);
    // The last status line, written after the tail is compared, agrees with the summary.
    EXPECT_EQ(line_at_0 +
                  "count=49152 (0.05MB), speed=0kbps (0.00x) errors=1 dblocks=1 0000c000\033[K\r",
              r.out);
    EXPECT_EQ("EOF found in file1 at 49152\nEOF found in file2 at 49152\n\n"
              "DIFFERENCE count=32868  file1=238 (0xee)  file2=17 (0x11)  errors=0 i=100 block=1\n"
              "retries=0 read block\n"
              "\n\nReady, 49152 bytes read, 1 errors found, 1 defective blocks\n",
              r.err);

    // Only the bytes both inputs hold are compared.
    std::string longer = data + "extra";
    in_memory_run unequal = run(longer, data);
    EXPECT_EQ(0, unequal.result.status);
    EXPECT_EQ("EOF found in file1 at 49157\nEOF found in file2 at 49152\n"
              "\n\nReady, 49152 bytes read, 0 errors found, 0 defective blocks\n",
              unequal.err);
}

TEST(ComparisonRun, ReadErrorsKeepTheTallyAndFailTheRun)
{
    const fault_table table = make_fault_table();
    // Requests larger than a block meet a read error where reading a block
    // at a time meets it. A stream cannot be read again: with -k too, its
    // read error ends the run.
    for (std::size_t request : {B, 4 * B, 40 * B})
        for (const fault_case& f : table.cases) {
            const std::size_t none = std::string::npos;
            const bool keep_going = request == 4 * B;
            in_memory_run r = f.input == 1 ? run(table.data, table.other, f.fail_at, none, request,
                                                 still_clock, keep_going)
                                           : run(table.data, table.other, none, f.fail_at, request,
                                                 still_clock, keep_going);
            std::string label = "input " + std::to_string(f.input) + " failing at " +
                                std::to_string(f.fail_at) + ", requests of " +
                                std::to_string(request) + (keep_going ? ", -k" : "");
            EXPECT_EQ(1, r.result.status) << label;
            EXPECT_EQ(run_end::read_error, r.result.end) << label;
            EXPECT_EQ(f.count, r.result.tally.count) << label;
            EXPECT_EQ(f.err, r.err) << label;
            // A status line for every pass whose reads both succeeded.
            EXPECT_EQ(f.out, r.out) << label;
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
        EXPECT_EQ("EOF found in file1 at 81920\n"
                  "\n\nReady, 81920 bytes read, 0 errors found, 0 defective blocks\n",
                  r.err)
            << request;
    }
}

// A medium in memory, as a drive holds it: sectors of `sector` bytes, some
// of them bad. A request that reaches a bad sector fails, or where the
// drive answers short counts, gives half the sectors before it (all of one),
// so that what is left of it comes back short again. It counts the
// requests, how often each sector was asked for, and the requests after a
// short count that asked for more than was left of it.
struct damaged_medium {
    std::string bytes;
    std::uint64_t sector = 4096;
    std::set<std::uint64_t> bad;  // sector indices
    bool short_counts = false;
    bool fails_past_end = false;  // as the BSDs' disks do, where Linux answers 0
    int requests = 0;
    std::map<std::uint64_t, int> asks;  // by sector index
    std::uint64_t short_end = 0;        // the end of a request just answered short, or 0
    int overreaching = 0;

    ssize_t read(unsigned char* buffer, std::size_t length, std::uint64_t at)
    {
        ++requests;
        if (short_end != 0 && at + length > short_end)
            ++overreaching;
        short_end = 0;
        for (std::uint64_t k = at / sector; k * sector < at + length; ++k)
            ++asks[k];
        if (at >= bytes.size()) {
            errno = EIO;
            return fails_past_end && at > bytes.size() ? -1 : 0;
        }
        std::uint64_t to = std::min<std::uint64_t>(at + length, bytes.size());
        for (std::uint64_t k = at / sector; k * sector < to; ++k)
            if (bad.count(k)) {
                const std::uint64_t readable = std::max(at, k * sector) - at;
                if (!short_counts || readable == 0) {
                    errno = EIO;
                    return -1;
                }
                const std::uint64_t half = readable / 2 / sector * sector;
                to = at + (half > 0 ? half : readable);
                short_end = at + length;
                break;
            }
        std::memcpy(buffer, bytes.data() + at, static_cast<std::size_t>(to - at));
        return static_cast<ssize_t>(to - at);
    }
};

// An input over `medium`, read as a disk with -k from `offset` on, `length`
// bytes long, in requests of `request` bytes (0: what suits a disk).
input damaged_input(damaged_medium& medium, std::uint64_t offset, std::uint64_t length,
                    std::size_t request)
{
    input in = opened("medium", open_memory_input(""), 0);
    in.kind = input_kind::disk;
    in.offset = offset;
    in.length = length;
    in.sector = static_cast<std::size_t>(medium.sector);
    in.request = request;
    in.keep_going = true;
    in.medium = [&medium](unsigned char* buffer, std::size_t n, std::uint64_t at) {
        return medium.read(buffer, n, at);
    };
    return in;
}

// The report a run with -k gives where input `which` is `medium` entered at
// `offset` and the other input is a stream of `other`, written out from
// what the medium holds: every stretch of unreadable sectors exact, told
// when it ends, every readable byte compared. Reports end in "retries=N".
std::string expected_damaged_report(const damaged_medium& medium, std::uint64_t offset,
                                    const std::string& other, int which)
{
    const std::uint64_t length = other.size();
    std::vector<bool> unreadable(length, false);
    for (std::uint64_t k : medium.bad)
        for (std::uint64_t p = k * medium.sector; p < (k + 1) * medium.sector; ++p)
            if (p >= offset && p - offset < length)
                unreadable[p - offset] = true;
    struct stretch {
        std::uint64_t from, to;
    };
    std::vector<stretch> stretches;
    std::uint64_t total = 0;
    for (std::uint64_t p = 0; p < length; ++p)
        if (unreadable[p]) {
            ++total;
            if (!stretches.empty() && stretches.back().to == p)
                ++stretches.back().to;
            else
                stretches.push_back({p, p + 1});
        }
    const std::string name = "tandemcheck(): file " + std::to_string(which);
    auto told = [&](const stretch& s) {
        return name + " unreadable from " + std::to_string(s.from) + " to " + std::to_string(s.to) +
               ": Input/output error\n";
    };
    const std::string ended = "EOF found in file1 at " + std::to_string(length) +
                              "\nEOF found in file2 at " + std::to_string(length) + "\n";
    std::string report;
    std::uint64_t errors = 0, dblocks = 0;
    for (std::uint64_t start = 0; start <= length; start += B) {
        const std::uint64_t end = std::min<std::uint64_t>(start + B, length);
        if (end - start < B)
            report += ended;  // the last pass meets both ends first
        // Stretches told here, by where in the block: those that end inside
        // it, or at its start.
        std::vector<std::pair<std::uint64_t, const stretch*>> ends;
        for (const stretch& s : stretches)
            if (s.to < length && s.to >= start && s.to < end)
                ends.push_back({s.to - start, &s});
        bool holes = false;
        std::vector<std::uint64_t> differing;
        for (std::uint64_t p = start; p < end; ++p) {
            holes = holes || unreadable[p];
            const char mine = medium.bytes[offset + p];
            if (!unreadable[p] && mine != other[p])
                differing.push_back(p);
        }
        if (!holes && differing.empty()) {
            for (const auto& e : ends)
                report += told(*e.second);
            continue;
        }
        ++dblocks;
        report += "\n";
        auto next_end = ends.begin();
        for (std::uint64_t p : differing) {
            for (; next_end != ends.end() && next_end->first <= p - start; ++next_end)
                report += told(*next_end->second);
            const auto mine = static_cast<unsigned char>(medium.bytes[offset + p]);
            const auto theirs = static_cast<unsigned char>(other[p]);
            report += difference_line(difference{p, which == 1 ? mine : theirs,
                                                 which == 1 ? theirs : mine, errors++,
                                                 static_cast<int>(p % B), p / B});
        }
        for (; next_end != ends.end(); ++next_end)
            report += told(*next_end->second);
        report += "retries=N read block\n";
    }
    if (!stretches.empty() && stretches.back().to == length)
        report += told(stretches.back());
    if (total > 0)
        report += name + ": " + std::to_string(total) + " bytes in " +
                  std::to_string(stretches.size()) +
                  (stretches.size() == 1 ? " stretch" : " stretches") + " could not be read\n";
    return report + "\n\nReady, " + std::to_string(length) + " bytes read, " +
           std::to_string(errors) + " errors found, " + std::to_string(dblocks) +
           " defective blocks\n";
}

// `text` with the count of every "retries=N read block" line left out.
std::string without_retries(const std::string& text)
{
    std::string plain;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find("retries=", at)) != std::string::npos;) {
        plain += text.substr(at, found - at) + "retries=N";
        at = text.find(' ', found);
    }
    return plain + text.substr(at);
}

TEST(ComparisonRun, WithKeepGoingEveryReadableSectorOfADamagedMediumIsComparedAndEveryBadOneTold)
{
    struct row {
        const char* what;
        std::uint64_t sector, offset;
        bool short_counts;
        int which;            // the damaged input
        std::size_t request;  // bytes a request asks for; 0: what suits a disk
        std::vector<std::pair<std::uint64_t, std::uint64_t>> bad;  // sectors [from, to)
        int scattered = 0;      // and as many random runs shorter than a block's worth
        int most_requests = 0;  // where set, no more requests than this
    };
    // Off the sector grid, so that an offset of 1000 moves the medium's end
    // into the next sector.
    const std::uint64_t length = 60 * B + 3500;
    const std::vector<row> rows = {
        {"scattered", 4096, 0, false, 2, 0, {}, 40},
        {"scattered, short counts", 4096, 0, true, 2, 0, {}, 40},
        {"scattered, 512-byte sectors at an offset", 512, 1000, false, 2, 0, {}, 60},
        {"scattered, short counts, 2048 at an offset", 2048, 1000, true, 2, 4 * B, {}, 40},
        {"scattered on input 1, short counts", 4096, 1000, true, 1, 0, {}, 40},
        // Bad sectors in every one of consecutive blocks, readable ones between.
        {"every other sector of six blocks",
         4096,
         0,
         true,
         2,
         0,
         {{16, 17}, {18, 19}, {20, 21}, {22, 23}, {24, 25}, {26, 27}, {28, 29}, {30, 31},
          {32, 33}, {34, 35}, {36, 37}, {38, 39}, {40, 41}, {42, 43}, {44, 45}, {46, 47},
          {48, 49}, {50, 51}, {52, 53}, {54, 55}, {56, 57}, {58, 59}, {60, 61}, {62, 63}}},
        // Stretches that end on a block border: before a clean block, and
        // before one that differs.
        {"ending on block borders", 4096, 0, false, 2, 0, {{6, 8}, {22, 24}}},
        {"ending on block borders, input 1", 4096, 0, false, 1, 0, {{6, 8}, {22, 24}}},
        // Dead from near the end to the end, entered 2 MiB in: skipped over
        // to the medium's end, not walked block by block.
        {"dead to the end at an offset", 4096, 2 * M + 1000, false, 2, 0, {{820, 100000}}, 0, 150},
        {"dead to the end at an offset, short counts",
         512,
         2 * M + 1000,
         true,
         2,
         0,
         {{6500, 100000}},
         0,
         150},
    };
    std::mt19937 generator(20261210);
    for (const row& r : rows) {
        damaged_medium medium;
        medium.sector = r.sector;
        medium.short_counts = r.short_counts;
        medium.bytes = random_bytes(r.offset + length, generator());
        const std::uint64_t sectors = (r.offset + length + r.sector - 1) / r.sector;
        for (const auto& area : r.bad)
            for (std::uint64_t k = area.first; k < std::min(area.second, sectors); ++k)
                medium.bad.insert(k);
        for (int n = 0; n < r.scattered; ++n) {
            const std::uint64_t from = generator() % sectors;
            const std::uint64_t run = 1 + generator() % (B / r.sector - 1);
            bool clear = true;  // a readable sector on either side keeps runs apart
            for (std::uint64_t k = from == 0 ? 0 : from - 1; k <= from + run; ++k)
                clear = clear && !medium.bad.count(k);
            for (std::uint64_t k = from; clear && k < std::min(from + run, sectors); ++k)
                medium.bad.insert(k);
        }
        std::string other = medium.bytes.substr(r.offset);
        for (int n = 0; n < 30; ++n)
            other[generator() % length] ^= static_cast<char>(1 + generator() % 255);
        if (r.bad.size() == 2 && r.bad[1].first == 22)  // a difference in the block after 24
            other[3 * B + 17] ^= 1;

        memory_output out, err;
        console con = make_console(out.stream, err.stream);
        input damaged = damaged_input(medium, r.offset, length, r.request);
        input stream = memory_input(other);
        run_result result = r.which == 1 ? run_comparison(damaged, stream, con, still_clock)
                                         : run_comparison(stream, damaged, con, still_clock);
        EXPECT_EQ(expected_damaged_report(medium, r.offset, other, r.which),
                  without_retries(err.text()))
            << r.what;
        EXPECT_EQ(1, result.status) << r.what;
        int most_asked = 0;
        for (const auto& sector : medium.asks)
            most_asked = std::max(most_asked, sector.second);
        EXPECT_LE(most_asked, 4) << r.what << ": the sector asked for most often";
        EXPECT_EQ(0, medium.overreaching) << r.what << ": requests past what a short count left";
        if (r.most_requests > 0) {
            EXPECT_LE(medium.requests, r.most_requests) << r.what;
        }
    }
}

TEST(ComparisonRun, ADiskEnteredPastItsEndHoldsNothingWhereverItsSystemFailsSuchReads)
{
    for (bool keep_going : {false, true}) {
        damaged_medium medium;
        medium.bytes = random_bytes(4 * B, 6);
        medium.fails_past_end = true;
        input disk = damaged_input(medium, 4 * B + 4096, 0, 0);
        disk.keep_going = keep_going;
        input image = memory_input(random_bytes(B, 7));
        memory_output out, err;
        console con = make_console(out.stream, err.stream);
        run_result result = run_comparison(disk, image, con, still_clock);
        EXPECT_EQ(1, result.status) << keep_going;
        EXPECT_EQ(0, medium.requests) << keep_going;
        EXPECT_NE(std::string::npos, err.text().find("tandemcheck(): no byte compared: file 1 "
                                                     "holds nothing from its start offset\n"))
            << keep_going << "\n"
            << err.text();
    }
}

TEST(ComparisonRun, WithKeepGoingTheLastPartialBlockIsToldWithItsRetries)
{
    // A bad sector at the start of the last, partial block, and a
    // difference after it: the block's report ends with the requests made
    // for its bytes after the first one failed.
    damaged_medium medium;
    medium.bytes = random_bytes(3 * B + 5000, 8);
    medium.bad = {3 * B / 4096};
    std::string other = medium.bytes;
    other[3 * B + 4500] ^= 1;
    input disk = damaged_input(medium, 0, medium.bytes.size(), 0);
    input image = memory_input(other);
    memory_output out, err;
    console con = make_console(out.stream, err.stream);
    run_comparison(disk, image, con, still_clock);
    const std::string text = err.text();
    EXPECT_NE(std::string::npos, text.find("DIFFERENCE count=102804 ")) << text;
    EXPECT_NE(std::string::npos, text.find(" read block\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("retries=0 read block\n")) << text;
}

TEST(ComparisonRun, WithKeepGoingTheStretchesOfBothInputsAreToldInTheOrderTheyEnd)
{
    // In one block, input 2's stretch ends at 4096, before a difference at
    // 5000; input 1's at 12288, before one at 20000.
    damaged_medium medium1, medium2;
    medium1.bytes = random_bytes(2 * B, 5);
    medium2.bytes = medium1.bytes;
    medium2.bytes[5000] ^= 1;
    medium2.bytes[20000] ^= 1;
    medium1.bad = {2};
    medium2.bad = {0};
    input input1 = damaged_input(medium1, 0, 2 * B, 0);
    input input2 = damaged_input(medium2, 0, 2 * B, 0);
    memory_output out, err;
    console con = make_console(out.stream, err.stream);
    run_result result = run_comparison(input1, input2, con, still_clock);
    EXPECT_EQ(1, result.status);
    const std::string text = err.text();
    std::size_t before = 0;
    for (const char* line :
         {"file 2 unreadable from 0 to 4096: Input/output error\n", "DIFFERENCE count=5000 ",
          "file 1 unreadable from 8192 to 12288: Input/output error\n",
          "DIFFERENCE count=20000 "}) {
        const std::size_t at = text.find(line);
        EXPECT_NE(std::string::npos, at) << line << "\n" << text;
        EXPECT_LE(before, at) << line << "\n" << text;
        before = at;
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
    std::string data = random_bytes(2 * B + 100, 6);
    in_memory_run r = run(data, data, std::string::npos, std::string::npos, B, stepping_clock);
    // Each line shows the block compared in the second before it.
    EXPECT_EQ("count=0 (0.00MB), speed=0kbps (0.00x) errors=0 dblocks=0 00000000\033[K\r"
              "count=32768 (0.03MB), speed=262kbps (0.02x) errors=0 dblocks=0 00008000\033[K\r"
              "count=65636 (0.07MB), speed=262kbps (0.02x) errors=0 dblocks=0 00010064\033[K\r",
              r.out);
}

// Raises SIGTERM at the fourth reading of the clock: in the third pass.
clock_reading clock_that_signals()
{
    static int readings = 0;
    if (++readings == 4)
        raise(SIGTERM);
    return clock_reading{1000, 0};
}

TEST(ComparisonRunDeathTest, ACaughtSignalEndsTheRunAndFailsIt)
{
    // In a child: the note of a caught signal lasts as long as the process.
    // Interrupted in the middle, the run ends after the pass in progress,
    // whole and without a summary; interrupted as it finishes, it still
    // fails, so that the caller ends by the signal.
    for (std::size_t length : {4 * B, 2 * B}) {
        EXPECT_EXIT(
            {
                catch_interrupts();
                std::string data = random_bytes(length, 8);
                in_memory_run r =
                    run(data, data, std::string::npos, std::string::npos, B, clock_that_signals);
                bool interrupted = length == 4 * B;
                bool right =
                    r.result.signal == SIGTERM && r.result.status == 1 &&
                    r.result.end == (interrupted ? run_end::interrupted : run_end::finished) &&
                    r.out == line_at_0 + line_at_32768 + line_at_65536 &&
                    r.err == (interrupted ? ""
                                          : "EOF found in file1 at 65536\nEOF found in "
                                            "file2 at 65536\n\n\nReady, 65536 bytes "
                                            "read, 0 errors found, 0 defective blocks\n");
                std::fprintf(stderr, "%s", right ? "right\n" : ("wrong: " + r.err).c_str());
                std::exit(right ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "right")
            << length;
    }
}

}  // namespace
