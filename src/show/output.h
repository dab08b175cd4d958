// Buffered writing to the standard streams, so that no failure goes unnoticed.
#ifndef TANDEMCHECK_OUTPUT_H
#define TANDEMCHECK_OUTPUT_H

#include <cstddef>
#include <cstdio>
#include <memory>

// Text bound for a stream is gathered and handed on in pieces this large.
constexpr std::size_t output_room = std::size_t{64} * 1024;

// A stream with a buffer in front of it. Text is gathered, and handed on
// when the buffer is full and when it is flushed: to the stream's descriptor
// itself where it has one, so that a write a signal cuts short is written
// again (the C library drops what it held when a write of its own fails),
// else to the stream. The first failure is kept; after it nothing more is
// written, since nothing could be trusted to arrive.
struct output_stream {
    std::FILE* stream = nullptr;
    int fd = -1;                     // the stream's descriptor, or -1 where it has none
    std::unique_ptr<char[]> buffer;  // output_room bytes
    std::size_t used = 0;            // bytes waiting in `buffer`
    int error = 0;                   // errno of the first failure, or 0
};

// An output stream in front of `stream`.
output_stream make_output(std::FILE* stream);

// Hands what waits on.
void output_drain(output_stream& out);

// Hands what waits on, and flushes the stream. A stream whose error
// indicator is set has failed too: a line written to it directly, before or
// since, was lost.
void output_flush(output_stream& out);

// Adds `length` bytes.
void output_write(output_stream& out, const char* text, std::size_t length);

// A place for `n` more bytes (n <= output_room); what waits is handed on
// first where they would not fit. Commit them with output_commit.
inline char* output_reserve(output_stream& out, std::size_t n)
{
    if (out.used + n > output_room)
        output_drain(out);
    return out.buffer.get() + out.used;
}

// Commits the bytes written at a place from output_reserve, up to `end`.
inline void output_commit(output_stream& out, const char* end)
{
    out.used = static_cast<std::size_t>(end - out.buffer.get());
}

#endif
