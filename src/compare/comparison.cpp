// The comparison loop.
#include "compare/comparison.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "compare/inputs.h"
#include "compare/interrupts.h"
#include "compare/output.h"
#include "compare/progress.h"
#include "compare/reader.h"
#include "compare/text.h"
#include "exit_status.h"

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

// One input's part of a pass.
struct input_read {
    const unsigned char* block = nullptr;
    std::size_t length = 0;  // bytes at `block`
    read_outcome outcome = read_outcome::block;
    int error_number = 0;        // with read_outcome::error
    std::uint64_t ended_at = 0;  // with read_outcome::end: where the input ended
};

input_read read_next(input_reader& reader, std::uint64_t count)
{
    input_read r;
    r.outcome = next_block(reader, r.block, r.length, r.error_number);
    r.ended_at = count + r.length;
    return r;
}

bool stops_the_run(read_outcome outcome)
{
    return outcome == read_outcome::error || outcome == read_outcome::interrupted;
}

// Whether a reader held at its limit must read on: its limit is the other
// input's length, and the other has not ended within the bytes held (it
// grew since it was opened).
bool reads_on(const input_read& held, const input_read& other)
{
    return held.outcome == read_outcome::limit && !stops_the_run(other.outcome) &&
           (other.outcome != read_outcome::end || other.length > held.length);
}

// A reader held at its limit while the other input ended: reading a block
// at a time would have read this block and met its end where its own
// length says, if that lies within the block. The medium past the other's
// end is never asked for, so that an unreadable area there stays untouched.
void settle_at_limit(input_read& held, const input& source, std::uint64_t count)
{
    if (held.outcome == read_outcome::limit && source.length &&
        *source.length < count + block_size) {
        held.outcome = read_outcome::end;
        held.ended_at = *source.length;
    }
}

// Reports an input's end or its read error on `err`.
void report_read(const input_read& r, int which, status_display& display, std::FILE* err)
{
    if (r.outcome == read_outcome::error) {
        display_before_error(display, error_text::failure);
        report_system_error(
            err, which == 1 ? "tandemcheck(): fread file 1():" : "tandemcheck(): fread file 2():",
            r.error_number);
    } else if (r.outcome == read_outcome::end) {
        display_before_error(display, error_text::notice);
        std::fprintf(err, "EOF found in file%d at %llu\n", which,
                     static_cast<unsigned long long>(r.ended_at));
    }
}

// Reads the blocks of one pass, as reading both a block at a time would:
// stream 2 is read even when stream 1 has just ended, and not after a read
// error on stream 1. Ends and errors are reported in input order.
void read_pass(input_reader& reader1, input_reader& reader2, input_read& r1, input_read& r2,
               std::uint64_t count, status_display& display, std::FILE* err)
{
    r1 = read_next(reader1, count);
    r2 = stops_the_run(r1.outcome) ? input_read{} : read_next(reader2, count);
    for (;;) {
        if (reads_on(r1, r2)) {
            lift_limit(reader1);
            r1 = read_next(reader1, count);
        } else if (!stops_the_run(r1.outcome) && reads_on(r2, r1)) {
            lift_limit(reader2);
            r2 = read_next(reader2, count);
        } else {
            break;
        }
    }
    if (r2.outcome == read_outcome::end)
        settle_at_limit(r1, *reader1.source, count);
    if (r1.outcome == read_outcome::end)
        settle_at_limit(r2, *reader2.source, count);
    report_read(r1, 1, display, err);
    if (stops_the_run(r1.outcome))
        r2 = r1;
    else
        report_read(r2, 2, display, err);
}

// The line that says a finished run verified less than the image, or "":
// nothing was compared while an input held bytes, or a disk ended before
// the file or pipe it was checked against. Two files, two disks, or a
// character device keep their lengths to themselves: comparing a partition
// inside an image with a start offset has inputs of different lengths on
// purpose, and a disk is usually longer than its image.
std::string shortfall(const input_read* reads[2], const input* inputs[2], std::uint64_t count)
{
    auto ended_at = [&](int k, std::uint64_t at) {
        return reads[k]->outcome == read_outcome::end && reads[k]->ended_at == at;
    };
    auto holds_more = [&](int k, std::uint64_t than) {
        return reads[k]->outcome != read_outcome::end || reads[k]->ended_at > than;
    };
    char line[160];
    for (int k = 0; k < 2; ++k) {
        int other = 1 - k;
        if (count == 0 && ended_at(k, 0) && holds_more(other, 0)) {
            std::snprintf(line, sizeof line,
                          "tandemcheck(): no byte compared: file %d holds nothing from its start "
                          "offset\n",
                          k + 1);
            return line;
        }
    }
    for (int k = 0; k < 2; ++k) {
        int other = 1 - k;
        input_kind kind = inputs[other]->kind;
        if (inputs[k]->kind == input_kind::disk && reads[k]->outcome == read_outcome::end &&
            (kind == input_kind::file || kind == input_kind::pipe) &&
            holds_more(other, reads[k]->ended_at)) {
            std::snprintf(line, sizeof line,
                          "tandemcheck(): file %d ended at %llu, before file %d did: the copy is "
                          "incomplete\n",
                          k + 1, static_cast<unsigned long long>(reads[k]->ended_at), other + 1);
            return line;
        }
    }
    return "";
}

// Ends a run: the summary unless an interrupt cut it short, the status row
// ended, and a failure to write standard output said where it can be.
void finish(run_result& result, bool cut_short, const std::string& short_of_image,
            status_display& display, report_buffer& report)
{
    const compare_tally& tally = result.tally;
    if (!short_of_image.empty()) {
        // Below the last status line, as a read error is.
        display_before_error(display, error_text::failure);
        keep_first_error(report.write_error,
                         write_whole(report.err, short_of_image.data(), short_of_image.size()));
    }
    if (!cut_short && report.write_error == 0) {
        // Only when the summary follows: an interrupted run leaves the
        // cursor on the row for display_end to end.
        display_before_error(display, error_text::new_line);
        char summary[160];
        int length =
            std::snprintf(summary, sizeof summary,
                          "\n\nReady, %llu bytes read, %llu errors found, %lu defective blocks\n",
                          static_cast<unsigned long long>(tally.count),
                          static_cast<unsigned long long>(tally.errors),
                          static_cast<unsigned long>(tally.dblocks));
        keep_first_error(report.write_error,
                         write_whole(report.err, summary, static_cast<std::size_t>(length)));
    }
    display_end(display);
    if (display.write_error != 0 && report.write_error == 0)
        report_system_error(report.err, "tandemcheck(): standard output", display.write_error);
    // Earlier messages went straight to the stream; its error flag tells.
    keep_first_error(report.write_error, flush_whole(report.err));
    bool trouble = tally.errors > 0 || result.read_error || result.signal != 0 ||
                   !short_of_image.empty() || display.write_error != 0 || report.write_error != 0;
    result.status = trouble ? exit_trouble : exit_identical;
}

}  // namespace

clock_reading read_system_clock()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return clock_reading{std::time(nullptr),
                         static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000};
}

void compare_block(const unsigned char* block1, const unsigned char* block2, std::size_t length,
                   compare_tally& tally, report_buffer& report, status_display& display)
{
    if (std::memcmp(block1, block2, length) == 0)
        return;
    display_before_error(display, error_text::new_line);
    *report_reserve(report, 1) = '\n';
    ++report.used;
    difference d{0, 0, 0, 0, 0, tally.block};
    for (std::size_t i = next_difference(block1, block2, 0, length); i < length;
         i = next_difference(block1, block2, i + 1, length)) {
        d.position = tally.count + i;
        d.byte1 = block1[i];
        d.byte2 = block2[i];
        d.errors = tally.errors++;
        d.i = static_cast<int>(i);
        char* start = report_reserve(report, difference_line_room);
        report.used += static_cast<std::size_t>(put_difference(start, d) - start);
    }
    // No block is ever read a second time.
    char* start = report_reserve(report, 32);
    report.used += static_cast<std::size_t>(put_literal(start, "retries=0 read block\n") - start);
    report_flush(report);
    ++tally.dblocks;
}

run_result run_comparison(input& input1, input& input2, status_display& display, std::FILE* err,
                          clock_function clock)
{
    std::unique_ptr<report_buffer> report_room(new report_buffer);
    report_buffer& report = *report_room;
    report.err = err;

    run_result result;
    compare_tally& tally = result.tally;
    bool cut_short = false;
    std::string short_of_image;
    {
        input_reader reader1 = make_reader(input1, reading_limit(input1, input2));
        input_reader reader2 = make_reader(input2, reading_limit(input2, input1));
        progress_meter meter;
        meter_start(meter, clock().seconds);
        input_read r1, r2;
        for (bool at_end = false; !at_end;) {
            read_pass(reader1, reader2, r1, r2, tally.count, display, err);
            if (r2.outcome == read_outcome::interrupted) {
                cut_short = true;
                break;
            }
            if (r2.outcome == read_outcome::error) {
                result.read_error = true;
                break;
            }
            at_end = r1.outcome == read_outcome::end || r2.outcome == read_outcome::end;

            clock_reading now = clock();
            meter_update(meter, now.seconds);
            if (!at_end)
                display_pass(display, tally, meter, now.millis);

            // Both reads deliver whole blocks until one input ends; then the
            // bytes both delivered are still compared.
            std::size_t length = std::min(r1.length, r2.length);
            compare_block(r1.block, r2.block, length, tally, report, display);
            tally.count += length;
            ++tally.block;
            meter_credit(meter, length);
            // Nothing found from here on could reach anyone.
            if (report.write_error != 0)
                break;
            // The last status line shows the figures of the summary.
            if (at_end)
                display_pass(display, tally, meter, now.millis);
            if (!at_end && caught_interrupt() != 0) {
                cut_short = true;
                break;
            }
        }
        if (!cut_short && !result.read_error && report.write_error == 0) {
            const input_read* reads[2] = {&r1, &r2};
            const input* inputs[2] = {&input1, &input2};
            short_of_image = shortfall(reads, inputs, tally.count);
        }
        // The readers stop here, before their streams are closed.
    }
    // An interrupt that came as the run finished still ends the process.
    result.signal = caught_interrupt();

    std::fclose(input1.stream);
    std::fclose(input2.stream);
    input1.stream = input2.stream = nullptr;
    finish(result, cut_short, short_of_image, display, report);
    return result;
}
