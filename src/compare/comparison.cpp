// The comparison loop.
#include "compare/comparison.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "exit_status.h"
#include "interrupts.h"
#include "read/hashing.h"
#include "read/lockstep.h"
#include "show/console.h"

namespace {

// Index of the first differing byte at or after `from`, or `length`.
std::size_t next_difference(const unsigned char* block1, const unsigned char* block2,
                            std::size_t from, std::size_t length)
{
    // Skip equal stretches a word at a time; most blocks of a damaged copy
    // still hold long equal runs.
    while (from + sizeof(std::uint64_t) <= length) {
        std::uint64_t word1, word2;
        std::memcpy(&word1, block1 + from, sizeof word1);
        std::memcpy(&word2, block2 + from, sizeof word2);
        if (word1 != word2)
            break;
        from += sizeof word1;
    }
    while (from < length && block1[from] == block2[from])
        ++from;
    return from;
}

// Tells each byte that differs from `from` up to `to` of two blocks as a
// DIFFERENCE line, and counts it; `before(i)` is called first for each,
// to tell what comes before position i.
template <typename Before>
void tell_differences(const input_block& b1, const input_block& b2, std::size_t from,
                      std::size_t to, compare_tally& tally, console& con, Before before)
{
    const unsigned char* block1 = b1.data;
    const unsigned char* block2 = b2.data;
    difference d{0, 0, 0, 0, 0, b1.index};
    for (std::size_t i = next_difference(block1, block2, from, to); i < to;
         i = next_difference(block1, block2, i + 1, to)) {
        before(i);
        d.position = tally.count + i;
        d.byte1 = block1[i];
        d.byte2 = block2[i];
        d.errors = tally.errors++;
        d.i = static_cast<int>(i);
        console_difference(con, d);
    }
}

// Where a read stopped the run, how; else run_end::going.
run_end stopped_by(const block_read& r)
{
    if (r.outcome == read_outcome::error)
        return run_end::read_error;
    if (r.outcome == read_outcome::interrupted)
        return run_end::interrupted;
    return run_end::going;
}

// What a finished run verified less than the image: nothing at all, where
// an input held nothing while the other held bytes; or not the whole image,
// where the copy of an image (image_of) ended before it. Inputs of which
// neither is the image keep their lengths to themselves: comparing a
// partition inside an image at a start offset has inputs of different
// lengths on purpose, and a disc read back into a file is often a few
// sectors longer than its image.
shortfall shortfall_of(const input* inputs[2], const block_read* reads[2], std::uint64_t count)
{
    auto ended = [&](int k) { return reads[k]->outcome == read_outcome::end; };
    auto holds_more = [&](int k, std::uint64_t than) {
        return !ended(k) || reads[k]->ended_at > than;
    };
    for (int k = 0; k < 2; ++k)
        if (count == 0 && ended(k) && reads[k]->ended_at == 0 && holds_more(1 - k, 0))
            return shortfall{k + 1, 0, true};
    for (int k = 0; k < 2; ++k)
        if (ended(k) && holds_more(1 - k, reads[k]->ended_at) &&
            image_of(*inputs[0], *inputs[1]) == inputs[1 - k])
            return shortfall{k + 1, reads[k]->ended_at, false};
    return shortfall{};
}

// The readers of both inputs and what the run has come to.
struct run_state {
    input_reader reader1, reader2;
    block_read read1, read2;  // of the newest pass
    compare_tally tally;
    unreadable_tallies unreadable;
    progress_meter meter;
};

// An unreadable stretch that ended within a block, `at` bytes into it.
struct stretch_end {
    std::size_t at;
    int which;
    unreadable_stretch stretch;
};

// Takes a block's holes of input `which` (the first `length` bytes of it,
// from `count`) into `tally`: stretches that begin, go on and end. Those
// that end are added to `ended`. Returns the block's unreadable bytes.
std::uint64_t take_holes(const input_block& b, int which, std::uint64_t count, std::size_t length,
                         unreadable_tally& tally, std::vector<stretch_end>& ended)
{
    std::uint64_t bytes = 0;
    auto close_at = [&](std::size_t at) {
        ended.push_back(stretch_end{at, which, *tally.open});
        tally.open.reset();
    };
    for (const unreadable_span& hole : b.holes) {
        if (hole.at >= length)
            break;
        const std::size_t hole_end = std::min(hole.at + hole.length, length);
        if (tally.open && (hole.at != 0 || tally.open->to != count))
            close_at(0);
        if (!tally.open) {
            tally.open = unreadable_stretch{count + hole.at, count + hole.at, hole.error_number};
            ++tally.stretches;
        }
        tally.open->to = count + hole_end;
        bytes += hole_end - hole.at;
        tally.bytes += hole_end - hole.at;
        if (hole_end < length)
            close_at(hole_end);
    }
    if (tally.open && tally.open->to == count && length > 0)
        close_at(0);  // the block begins readable
    return bytes;
}

// Where the next byte readable in both blocks lies at or after `at`, and
// the end of the readable run from there, both within `length`.
std::size_t skip_holes(const input_block* blocks[2], std::size_t at, std::size_t length,
                       std::size_t& readable_end)
{
    for (bool moved = true; moved;) {
        moved = false;
        for (int k = 0; k < 2; ++k)
            for (const unreadable_span& hole : blocks[k]->holes)
                if (hole.at <= at && at < hole.at + hole.length) {
                    at = hole.at + hole.length;
                    moved = true;
                }
    }
    readable_end = length;
    for (int k = 0; k < 2; ++k)
        for (const unreadable_span& hole : blocks[k]->holes)
            if (hole.at > at)
                readable_end = std::min(readable_end, hole.at);
    return std::min(at, length);
}

// Compares the first `length` bytes of the pass's two blocks: DIFFERENCE
// lines for the bytes both could read, and the lines of the unreadable
// stretches that ended, in the order of their positions; a block with
// differences ends its report with the retries of both. Plain blocks, with
// no holes and no stretch that may end at their start, are compared at
// once. Returns false where the block's report could not be written.
bool compare_blocks(run_state& run, std::size_t length, console& con)
{
    const input_block& b1 = run.read1.block;
    const input_block& b2 = run.read2.block;
    const bool plain =
        b1.holes.empty() && b2.holes.empty() && !run.unreadable[0].open && !run.unreadable[1].open;
    if (plain && std::memcmp(b1.data, b2.data, length) == 0)
        return true;
    std::vector<stretch_end> ended;
    const input_block* blocks[2] = {&b1, &b2};
    std::uint64_t unreadable = 0;
    for (int k = 0; k < 2; ++k)
        unreadable +=
            take_holes(*blocks[k], k + 1, run.tally.count, length, run.unreadable[k], ended);
    std::stable_sort(ended.begin(), ended.end(),
                     [](const stretch_end& a, const stretch_end& b) { return a.at < b.at; });
    // (A plain pair that got here differs: it is not compared again.)
    if (!plain && unreadable == 0 && std::memcmp(b1.data, b2.data, length) == 0) {
        // Only stretches that ended at the block's start: no report of its own.
        for (const stretch_end& e : ended)
            console_unreadable(con, e.which, e.stretch, false);
        return con.err.error == 0;
    }
    console_block_differs(con);
    auto next_end = ended.begin();
    auto tell_ended_by = [&](std::size_t at) {
        for (; next_end != ended.end() && next_end->at <= at; ++next_end)
            console_unreadable(con, next_end->which, next_end->stretch, true);
    };
    std::size_t readable_end = 0;
    for (std::size_t at = skip_holes(blocks, 0, length, readable_end); at < length;
         at = skip_holes(blocks, readable_end, length, readable_end))
        tell_differences(b1, b2, at, readable_end, run.tally, con, tell_ended_by);
    tell_ended_by(length);
    ++run.tally.dblocks;
    return console_block_done(con, b1.retries + b2.retries);
}

// Tells the console of input `which`'s end or read error, if it met one.
void report_read(const run_state& run, const block_read& r, int which, console& con)
{
    if (r.outcome == read_outcome::error)
        console_read_failed(con, which, r.error_number, run.tally, run.meter);
    else if (r.outcome == read_outcome::end)
        console_input_ended(con, which, r.ended_at);
}

// One pass: both blocks read, compared, and told to the console. Returns
// how the run stands after it.
run_end pass(run_state& run, console& con, clock_function clock)
{
    read_both(run.reader1, run.reader2, run.read1, run.read2);
    report_read(run, run.read1, 1, con);
    if (stopped_by(run.read1) != run_end::going)
        return stopped_by(run.read1);
    report_read(run, run.read2, 2, con);
    if (stopped_by(run.read2) != run_end::going)
        return stopped_by(run.read2);

    clock_reading now = clock();
    meter_update(run.meter, now.seconds);
    console_pass(con, run.tally, run.meter, now.millis);
    // Both reads deliver whole blocks until one input ends; then the bytes
    // both delivered are still compared.
    std::size_t length = std::min(run.read1.block.length, run.read2.block.length);
    bool reported = compare_blocks(run, length, con);
    run.tally.count += length;
    meter_credit(run.meter, length);

    if (!reported)
        return run_end::report_failed;  // nothing found from here on could reach anyone
    if (run.read1.outcome == read_outcome::end || run.read2.outcome == read_outcome::end)
        return run_end::finished;
    return caught_interrupt() != 0 ? run_end::interrupted : run_end::going;
}

// -s: reads the image on to its end where the comparison stopped before
// it, and says what its checksum came to; nothing where an interrupt came
// first. An image whose own read failed (`last`) is not read again.
std::optional<checksum_verdict> judge_checksum(const checksum_check& check, input_reader& image,
                                               const block_read& last, image_hash* hash)
{
    checksum_verdict verdict;
    verdict.which = check.which;
    verdict.expected = check.expected;
    if (last.outcome == read_outcome::error) {
        verdict.error_number = last.error_number;
        return verdict;
    }
    const read_outcome rest = read_rest(image, verdict.error_number);
    if (rest == read_outcome::interrupted)
        return std::nullopt;
    if (!hash)
        return verdict;  // no digest could be started
    const hash_result hashed = finish_hashing(*hash);
    verdict.unreadable = hashed.unreadable;
    if (rest == read_outcome::end && hashed.unreadable == 0)
        verdict.hex = hex_of(hashed.digest);
    return verdict;
}

}  // namespace

clock_reading read_system_clock()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return clock_reading{std::time(nullptr),
                         static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000};
}

run_result run_comparison(input& input1, input& input2, console& con, clock_function clock,
                          const checksum_check* check)
{
    run_result result;
    progress_meter meter;
    std::shared_ptr<image_hash> hash;
    if (check)
        hash = start_image_hash(check->expected.algorithm);
    {
        run_state run;
        run.reader1 = make_reader(input1, reading_limit(input1, input2),
                                  check && check->which == 1 ? hash : nullptr);
        run.reader2 = make_reader(input2, reading_limit(input2, input1),
                                  check && check->which == 2 ? hash : nullptr);
        console_caveat(con, 1, input1.name, run.reader1.caveat);
        console_caveat(con, 2, input2.name, run.reader2.caveat);
        meter_start(run.meter, clock().seconds);
        do
            result.end = pass(run, con, clock);
        while (result.end == run_end::going);
        if (result.end == run_end::finished) {
            const input* inputs[2] = {&input1, &input2};
            const block_read* reads[2] = {&run.read1, &run.read2};
            result.missing = shortfall_of(inputs, reads, run.tally.count);
        }
        if (check && (result.end == run_end::finished || result.end == run_end::read_error)) {
            const bool first = check->which == 1;
            result.checksum = judge_checksum(*check, first ? run.reader1 : run.reader2,
                                             first ? run.read1 : run.read2, hash.get());
            if (!result.checksum)
                result.end = run_end::interrupted;
        }
        result.tally = run.tally;
        result.unreadable = run.unreadable;
        meter = run.meter;
        // The readers stop here, before their streams are closed.
    }
    // An interrupt that came as the run finished still ends the process.
    result.signal = caught_interrupt();
    std::fclose(input1.stream);
    std::fclose(input2.stream);
    input1.stream = input2.stream = nullptr;

    bool written =
        console_run_ended(con, result.end, result.tally, meter, result.missing, result.unreadable,
                          result.checksum ? &*result.checksum : nullptr);
    bool verified = result.end == run_end::finished && result.tally.errors == 0 &&
                    result.unreadable[0].bytes == 0 && result.unreadable[1].bytes == 0 &&
                    result.missing.file == 0 && result.signal == 0 && written &&
                    (!check || (result.checksum && as_given(*result.checksum)));
    result.status = verified ? exit_identical : exit_trouble;
    return result;
}
