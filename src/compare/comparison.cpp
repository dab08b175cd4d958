// The comparison loop.
#include "compare/comparison.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "compare/inputs.h"
#include "compare/progress.h"
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

// The buffers of a run, made once. Page-aligned: the kernel copies reads
// into them markedly faster than into buffers a few bytes past a page start.
struct alignas(4096) run_buffers {
    unsigned char block1[block_size];
    unsigned char block2[block_size];
    report_buffer report;
};

// Writes a line to standard error outside a block's report.
void write_notice(status_display& display, std::FILE* err, const char* format, std::uint64_t value)
{
    display_before_error(display, false);
    std::fprintf(err, format, static_cast<unsigned long long>(value));
}

void write_read_error(status_display& display, std::FILE* err, const char* prefix)
{
    int error_number = errno;
    display_before_error(display, false);
    report_system_error(err, prefix, error_number);
}

}  // namespace

clock_reading read_system_clock()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return clock_reading{std::time(nullptr),
                         static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000};
}

bool compare_block(const unsigned char* block1, const unsigned char* block2, std::size_t length,
                   compare_tally& tally, report_buffer& report, status_display& display)
{
    if (std::memcmp(block1, block2, length) == 0)
        return false;
    display_before_error(display, true);
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
    return true;
}

run_result run_comparison(std::FILE* stream1, std::FILE* stream2, status_display& display,
                          std::FILE* err, clock_function clock)
{
    std::unique_ptr<run_buffers> buffers(new run_buffers);
    report_buffer& report = buffers->report;
    report.err = err;

    run_result result;
    compare_tally& tally = result.tally;
    progress_meter meter;
    meter_start(meter, clock().seconds);
    for (bool at_end = false; !at_end;) {
        std::size_t len1 = std::fread(buffers->block1, 1, block_size, stream1);
        // The error indicator comes first: a failed read also stops short.
        if (std::ferror(stream1)) {
            write_read_error(display, err, "tandemcheck(): fread file 1():");
            result.read_error = true;
            break;
        }
        if (std::feof(stream1)) {
            write_notice(display, err, "EOF found in file1 at %llu\n", tally.count + len1);
            at_end = true;
        }
        std::size_t len2 = std::fread(buffers->block2, 1, block_size, stream2);
        if (std::ferror(stream2)) {
            write_read_error(display, err, "tandemcheck(): fread file 2():");
            result.read_error = true;
            break;
        }
        if (std::feof(stream2)) {
            write_notice(display, err, "EOF found in file2 at %llu\n", tally.count + len2);
            at_end = true;
        }

        clock_reading now = clock();
        meter_update(meter, now.seconds);
        display_pass(display, tally, meter, now.millis);

        // Both reads deliver whole blocks until one input ends; then the
        // bytes both delivered are still compared.
        std::size_t length = std::min(len1, len2);
        if (compare_block(buffers->block1, buffers->block2, length, tally, report, display)) {
            char* p = report_reserve(report, 32);
            static const char retries[] = "retries=0 read block\n";
            std::memcpy(p, retries, sizeof retries - 1);
            report.used += sizeof retries - 1;
            report_flush(report);
            ++tally.dblocks;
        }
        tally.count += length;
        ++tally.block;
        meter_credit(meter, length);
    }

    std::fclose(stream1);
    std::fclose(stream2);
    display_before_error(display, true);
    std::fprintf(err, "\n\nReady, %llu bytes read, %llu errors found, %lu defective blocks\n",
                 static_cast<unsigned long long>(tally.count),
                 static_cast<unsigned long long>(tally.errors),
                 static_cast<unsigned long>(tally.dblocks));
    std::fflush(err);
    result.status = (tally.errors > 0 || result.read_error) ? exit_trouble : exit_identical;
    return result;
}
