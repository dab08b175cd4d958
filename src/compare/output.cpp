// Writes that survive signals and report real failures.
#include "compare/output.h"

#include <cerrno>

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

}  // namespace

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

int flush_whole(std::FILE* stream)
{
    for (;;) {
        errno = 0;
        if (std::fflush(stream) == 0)
            return std::ferror(stream) ? EIO : 0;
        if (int error_number = failure_of(stream))
            return error_number;
    }
}
