// The comparison loop.
#include "compare/comparison.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

// Reads the next block of `reader`'s input and reports its end or a read
// error on `err`. `count` is where the block starts.
read_outcome read_block(input_reader& reader, const unsigned char*& block, std::size_t& length,
                        std::uint64_t count, status_display& display, std::FILE* err)
{
    int which = reader.source->which;
    int error_number = 0;
    read_outcome outcome = next_block(reader, block, length, error_number);
    if (outcome == read_outcome::error) {
        display_before_error(display, error_text::failure);
        report_system_error(
            err, which == 1 ? "tandemcheck(): fread file 1():" : "tandemcheck(): fread file 2():",
            error_number);
    } else if (outcome == read_outcome::end) {
        std::uint64_t end = count + length;
        display_before_error(display, error_text::notice);
        std::fprintf(err, "EOF found in file%d at %llu\n", which,
                     static_cast<unsigned long long>(end));
    }
    return outcome;
}

bool stops_the_run(read_outcome outcome)
{
    return outcome == read_outcome::error || outcome == read_outcome::interrupted;
}

// Reads the blocks of one pass: stream 2 is read even when stream 1 has just
// ended. A reader stops at its limit, the other input's length, where that
// input ends; should it not end there after all (it grew), both read on.
void read_pass(input_reader& reader1, input_reader& reader2, const unsigned char*& block1,
               const unsigned char*& block2, std::size_t& len1, std::size_t& len2,
               read_outcome& read1, read_outcome& read2, std::uint64_t count,
               status_display& display, std::FILE* err)
{
    read1 = read_block(reader1, block1, len1, count, display, err);
    read2 = stops_the_run(read1) ? read1 : read_block(reader2, block2, len2, count, display, err);
    while ((read1 == read_outcome::limit || read2 == read_outcome::limit) &&
           read1 != read_outcome::end && read2 != read_outcome::end && !stops_the_run(read1) &&
           !stops_the_run(read2)) {
        if (read1 == read_outcome::limit) {
            lift_limit(reader1);
            read1 = read_block(reader1, block1, len1, count, display, err);
        }
        if (read2 == read_outcome::limit && !stops_the_run(read1)) {
            lift_limit(reader2);
            read2 = read_block(reader2, block2, len2, count, display, err);
        }
    }
    if (stops_the_run(read1))
        read2 = read1;
}

// Ends a run: the summary unless an interrupt cut it short, the status row
// ended, and a failure to write standard output said where it can be.
void finish(run_result& result, bool cut_short, status_display& display, report_buffer& report)
{
    const compare_tally& tally = result.tally;
    display_before_error(display, error_text::new_line);
    if (!cut_short && report.write_error == 0) {
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
                   display.write_error != 0 || report.write_error != 0;
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
    {
        input_reader reader1 = make_reader(input1, reading_limit(input1, input2));
        input_reader reader2 = make_reader(input2, reading_limit(input2, input1));
        progress_meter meter;
        meter_start(meter, clock().seconds);
        for (bool at_end = false; !at_end;) {
            std::size_t len1 = 0, len2 = 0;
            const unsigned char* block1 = nullptr;
            const unsigned char* block2 = nullptr;
            read_outcome read1, read2;
            read_pass(reader1, reader2, block1, block2, len1, len2, read1, read2, tally.count,
                      display, err);
            if (read2 == read_outcome::interrupted) {
                cut_short = true;
                break;
            }
            if (read2 == read_outcome::error) {
                result.read_error = true;
                break;
            }
            at_end = read1 == read_outcome::end || read2 == read_outcome::end;

            clock_reading now = clock();
            meter_update(meter, now.seconds);
            if (!at_end)
                display_pass(display, tally, meter, now.millis);

            // Both reads deliver whole blocks until one input ends; then the
            // bytes both delivered are still compared.
            std::size_t length = std::min(len1, len2);
            compare_block(block1, block2, length, tally, report, display);
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
        // The readers stop here, before their streams are closed.
    }
    // An interrupt that came as the run finished still ends the process.
    result.signal = caught_interrupt();

    std::fclose(input1.stream);
    std::fclose(input2.stream);
    input1.stream = input2.stream = nullptr;
    finish(result, cut_short, display, report);
    return result;
}
