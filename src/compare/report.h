// The difference report on standard error.
#ifndef TANDEMCHECK_REPORT_H
#define TANDEMCHECK_REPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Room for one DIFFERENCE line.
constexpr std::size_t difference_line_room = 192;

// Report text gathered before it goes to standard error in large writes.
constexpr std::size_t report_room = std::size_t{64} * 1024;

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

// The DIFFERENCE line as a string.
std::string difference_line(const difference& d);

// Text bound for standard error, written when full and when flushed.
struct report_buffer {
    std::FILE* err = nullptr;  // standard error
    std::size_t used = 0;      // bytes waiting in `data`
    int write_error = 0;       // errno of the first failed write; later text is dropped
    char data[report_room];
};

// Writes what waits in `report` to its stream, without flushing the stream.
void report_drain(report_buffer& report);

// Writes what waits and flushes the stream, at the end of a block's report.
void report_flush(report_buffer& report);

// A place for `n` more bytes (n <= report_room); commit them by moving `used`.
inline char* report_reserve(report_buffer& report, std::size_t n)
{
    if (report.used + n > report_room)
        report_drain(report);
    return report.data + report.used;
}

#endif
