// Large requests, handed out block by block.
#include "compare/reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "compare/inputs.h"
#include "compare/interrupts.h"

namespace {

constexpr std::size_t page = 4096;

}  // namespace

std::size_t request_size_for(std::FILE* stream)
{
    int fd = fileno(stream);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return block_size;
    std::size_t request = S_ISREG(st.st_mode)                        ? file_request
                          : S_ISBLK(st.st_mode) || disk_size(fd, st) ? device_request
                                                                     : block_size;
#if defined(POSIX_FADV_SEQUENTIAL)
    if (request != block_size)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return request;
}

void free_buffer::operator()(unsigned char* buffer) const
{
    std::free(buffer);
}

input_reader make_reader(std::FILE* stream, std::size_t request)
{
    input_reader reader;
    reader.stream = stream;
    reader.request = request;
    // Page-aligned: the kernel copies into such buffers markedly faster.
    void* room = std::aligned_alloc(page, (request + page - 1) / page * page);
    if (!room)
        throw std::bad_alloc();
    reader.buffer.reset(static_cast<unsigned char*>(room));
    return reader;
}

read_outcome next_block(input_reader& reader, const unsigned char*& block, std::size_t& length,
                        int& error_number)
{
    std::FILE* stream = reader.stream;
    unsigned char* buffer = reader.buffer.get();
    if (reader.end - reader.start < block_size) {
        // Less than a block waits: move it to the front and read on.
        std::memmove(buffer, buffer + reader.start, reader.end - reader.start);
        reader.end -= reader.start;
        reader.start = 0;
    }
    while (reader.end < block_size) {
        errno = 0;
        reader.end += std::fread(buffer + reader.end, 1, reader.request - reader.end, stream);
        // The error indicator comes first: a failed read also stops short.
        if (std::ferror(stream)) {
            int failure = errno;
            std::clearerr(stream);
            if (failure == EINTR) {
                // A signal is no read error; it may end the run, though.
                if (caught_interrupt() != 0)
                    return read_outcome::interrupted;
                continue;
            }
            if (reader.request > block_size) {
                // The failure may lie anywhere in the request, even past
                // what the comparison needs: read on a block at a time, to
                // meet it where reading a block at a time would.
                reader.request = block_size;
                continue;
            }
            error_number = failure;
            return read_outcome::error;
        }
        if (std::feof(stream)) {
            if (reader.end >= block_size)
                break;  // a whole block first; the end comes with the next
            block = buffer;
            length = reader.end;
            reader.start = reader.end;
            return read_outcome::end;
        }
    }
    block = buffer + reader.start;
    length = block_size;
    reader.start += block_size;
    return read_outcome::block;
}
