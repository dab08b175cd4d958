// Blocks handed out of large requests.
#include "read/reader.h"

#include <cerrno>
#include <cstring>

#include "interrupts.h"

namespace {

// The next block of a stream, a block at a time, where its bytes lie in
// the reader's buffer.
read_outcome next_stream_block(input_reader& reader, const unsigned char*& block,
                               std::size_t& length, int& error_number)
{
    std::FILE* stream = reader.source->stream;
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
            if (narrow_to_blocks(reader.request, block_size)) {
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

}  // namespace

input_reader make_reader(const input& in, std::optional<std::uint64_t> limit,
                         std::shared_ptr<image_hash> hash)
{
    input_reader reader;
    reader.source = &in;
    reader.hash = std::move(hash);
    if ((in.fd >= 0 || in.medium) && (in.kind == input_kind::file || in.kind == input_kind::disk)) {
        reader.request = in.request != 0 ? in.request : medium_request;
        reader.medium = start_read_ahead(in, reader.request, limit, reader.hash, reader.caveat);
        if (reader.medium)
            return reader;
    }
    reader.request = in.request != 0 ? in.request : block_size;
    reader.buffer = page_aligned(reader.request);
    return reader;
}

read_outcome next_block(input_reader& reader, input_block& block, int& error_number)
{
    if (reader.medium)
        return next_block(*reader.medium, block, error_number);
    block = input_block{};
    block.index = reader.blocks;
    const read_outcome outcome = next_stream_block(reader, block.data, block.length, error_number);
    if (outcome == read_outcome::block || outcome == read_outcome::end) {
        ++reader.blocks;
        // A stream's block is gone with the next one: it is hashed at once.
        if (reader.hash)
            hash_now(*reader.hash, block.data, block.length);
    }
    return outcome;
}

void lift_limit(input_reader& reader)
{
    if (reader.medium)
        lift_limit(*reader.medium);
}

read_outcome read_rest(input_reader& reader, int& error_number)
{
    // A medium's thread hashes what it hands on, and a stream's blocks are
    // hashed as they are handed out: the blocks need only be taken.
    lift_limit(reader);
    input_block block;
    read_outcome outcome;
    do
        outcome = next_block(reader, block, error_number);
    while (outcome == read_outcome::block && caught_interrupt() == 0);
    return outcome == read_outcome::block ? read_outcome::interrupted : outcome;
}
