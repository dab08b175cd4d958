// Every text that opening the inputs and the comparison run write on
// standard error, in one place.
#ifndef TANDEMCHECK_MESSAGES_H
#define TANDEMCHECK_MESSAGES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "compare/tally.h"
#include "read/checksum.h"
#include "show/output.h"

// Room for one DIFFERENCE line.
constexpr std::size_t difference_line_room = 192;

// One differing byte, as a DIFFERENCE line shows it.
struct difference {
    std::uint64_t position;  // count + i: from the start offsets
    unsigned char byte1;     // the byte of the first input
    unsigned char byte2;     // the byte of the second input
    std::uint64_t errors;    // differing bytes found before this one
    int i;                   // index within the block
    std::uint64_t block;     // index of the block
};

// Writes the DIFFERENCE line for `d` at `p` (difference_line_room bytes) and
// returns its end.
char* put_difference(char* p, const difference& d);

// The empty line that starts a defective block's report below the status line.
void write_report_opening(output_stream& err);

// One differing byte's line of the report.
inline void write_difference(output_stream& err, const difference& d)
{
    output_commit(err, put_difference(output_reserve(err, difference_line_room), d));
}

// The line that ends a defective block's report: how often its bytes were
// asked for again after a failed request (-k); 0 without.
void write_report_closing(output_stream& err, int retries = 0);

// Input `which` could not be read from `from` up to `to` (positions from
// the start offsets); `error_number` was the first failure.
void write_unreadable_stretch(output_stream& err, int which, std::uint64_t from, std::uint64_t to,
                              int error_number);

// Before the summary: `bytes` of input `which` in `stretches` stretches could not be read.
void write_unreadable_total(output_stream& err, int which, std::uint64_t bytes,
                            std::uint64_t stretches);

// Input `which` (1 or 2) ended `at` bytes from its start offset.
void write_end_of_input(output_stream& err, int which, std::uint64_t at);

// Reading input `which` failed with `error_number`.
void write_read_error(output_stream& err, int which, int error_number);

// Input `which`, named `name`, may be read from memory: the system may
// serve pages it cached before the run.
void write_system_caveat(output_stream& err, int which, const std::string& name);

// Input `which`, named `name`, may be read from memory: the disk its FUSE
// file system reads could not be opened, with `error_number`, to drop its
// cached pages.
void write_disk_caveat(output_stream& err, int which, const std::string& name,
                       const std::string& disk, int error_number);

// Input `which`, named `name`, may be read from memory: its FUSE file
// system names no disk whose cache could be dropped.
void write_unnamed_disk_caveat(output_stream& err, int which, const std::string& name);

// Input `which`, named `name`, may be read from memory: the system reads
// that disk node through its cache, and `raw` is the node that it does not.
void write_raw_disk_caveat(output_stream& err, int which, const std::string& name,
                           const std::string& raw);

// A disk, input `which`, ended `at` bytes in, before the other input did.
void write_incomplete_copy(output_stream& err, int which, std::uint64_t at);

// Nothing was compared: input `which` holds nothing from its start offset.
void write_nothing_compared(output_stream& err, int which);

// What the image's checksum came to (-s), before the summary.
void write_checksum_verdict(output_stream& err, const checksum_verdict& verdict);

// Why -s cannot be used: `choice.problem`, of the argument `argument`, for
// the image named `image_name`.
void write_checksum_problem(std::FILE* err, const std::string& argument,
                            const std::string& image_name, const checksum_choice& choice);

// The summary, with its two leading newlines.
void write_summary(output_stream& err, const compare_tally& tally);

// Standard output could not be written.
void write_output_failure(output_stream& err, int error_number);

// Input `which` (1 or 2), named `name`, could not be opened.
void write_open_failure(std::FILE* err, int which, const std::string& name);

// Input `which`, named `name`, could not be positioned at `offset`, with
// `error_number`: the system's text, then what failed.
void write_seek_failure(std::FILE* err, int which, std::uint64_t offset, const std::string& name,
                        int error_number);

// The debug trace of input `which`'s real position after positioning
// (-1 where it has none, printed as the unsigned value).
void write_real_offset(std::FILE* err, int which, long long position);

#endif
