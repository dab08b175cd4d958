// Writes that survive signals and report real failures.
#include "show/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The errno of a failed write, or 0 when a signal only interrupted it and
// the stream may be used again.
int failure_of(std::FILE* stream)
{
    int error_number = errno;
    if (error_number == EINTR) {
        std::clearerr(stream);
        return 0;
    }
    // A stream that failed without saying why still failed.
    return error_number != 0 ? error_number : EIO;
}

// Writes `length` bytes, going on where a signal cut a write short.
int write_whole(std::FILE* stream, const char* text, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        errno = 0;
        done += std::fwrite(text + done, 1, length - done, stream);
        if (done < length) {
            if (int error_number = failure_of(stream))
                return error_number;
        }
    }
    return 0;
}

// Hands what the stream holds to its descriptor.
int flush_stream(std::FILE* stream)
{
    for (;;) {
        errno = 0;
        if (std::fflush(stream) == 0)
            return 0;
        if (int error_number = failure_of(stream))
            return error_number;
    }
}

// Writes `length` bytes to `fd`, going on after a signal or a short write.
int write_to(int fd, const char* text, std::size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes `text` to the descriptor, or to the stream where there is none;
// returns 0 or the errno of the failure.
int write_through(output_stream& out, const char* text, std::size_t length)
{
    if (out.fd < 0)
        return write_whole(out.stream, text, length);
    // What went to the stream itself (the banner, a trace) goes first.
    if (int error_number = flush_stream(out.stream))
        return error_number;
    return write_to(out.fd, text, length);
}

}  // namespace

output_stream make_output(std::FILE* stream)
{
    output_stream out;
    out.stream = stream;
    out.fd = fileno(stream);
    out.buffer.reset(new char[output_room]);
    return out;
}

void output_drain(output_stream& out)
{
    if (out.used > 0 && out.error == 0)
        out.error = write_through(out, out.buffer.get(), out.used);
    out.used = 0;
}

void output_flush(output_stream& out)
{
    output_drain(out);
    if (out.error == 0)
        out.error = flush_stream(out.stream);
    // The indicator keeps a failure that nothing else tells of any more.
    if (out.error == 0 && std::ferror(out.stream))
        out.error = EIO;
}

void output_write(output_stream& out, const char* text, std::size_t length)
{
    if (length > output_room) {
        output_drain(out);
        if (out.error == 0)
            out.error = write_through(out, text, length);
        return;
    }
    std::memcpy(output_reserve(out, length), text, length);
    out.used += length;
}
