// Blocks handed out of large requests.
#include "read/reader.h"

#include <cerrno>
#include <cstring>

#include "interrupts.h"

namespace {

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

// Marks `length` bytes from `at` of the block being gathered as unreadable.
void add_hole(input_reader& reader, std::size_t at, std::size_t length, int error_number)
{
    std::memset(reader.buffer.get() + at, 0, length);
    if (!reader.holes.empty() && reader.holes.back().at + reader.holes.back().length == at)
        reader.holes.back().length += length;
    else
        reader.holes.push_back(unreadable_span{at, length, error_number});
}

// The block being handed out is the next one: its retries.
read_outcome hand_out(input_reader& reader, read_outcome outcome)
{
    reader.retries = 0;
    if (!reader.retries_of.empty()) {
        auto found = reader.retries_of.find(reader.handed);
        if (found != reader.retries_of.end())
            reader.retries = found->second;
        reader.retries_of.erase(reader.retries_of.begin(),
                                reader.retries_of.upper_bound(reader.handed));
    }
    ++reader.handed;
    return outcome;
}

read_outcome next_medium_block(input_reader& reader, const unsigned char*& block,
                               std::size_t& length, int& error_number)
{
    medium_chunk& chunk = reader.chunk;
    unsigned char* staging = reader.buffer.get();
    if (reader.staged == 0)
        reader.holes.clear();
    for (;;) {
        if (reader.staged == 0 && chunk.kind == chunk_kind::bytes && chunk.length >= block_size) {
            block = chunk.data;
            length = block_size;
            chunk.data += block_size;
            chunk.length -= block_size;
            return hand_out(reader, read_outcome::block);
        }
        // A block that spans two requests (an unaligned start offset, or a
        // short read), or holds bytes that could not be read, is gathered in
        // the staging buffer.
        std::size_t take = std::min(chunk.length, block_size - reader.staged);
        if (take > 0) {
            if (chunk.kind == chunk_kind::unreadable) {
                add_hole(reader, reader.staged, take, chunk.error_number);
            } else {
                std::memcpy(staging + reader.staged, chunk.data, take);
                chunk.data += take;
            }
            reader.staged += take;
            chunk.length -= take;
        }
        block = staging;
        length = reader.staged;
        if (reader.staged == block_size) {
            reader.staged = 0;
            return hand_out(reader, read_outcome::block);
        }
        medium_chunk next = next_chunk(*reader.medium);
        switch (next.kind) {
        case chunk_kind::bytes:
        case chunk_kind::unreadable:
            chunk = next;
            continue;
        case chunk_kind::asked_again:
            reader.retries_of[next.block] += next.retries;
            continue;
        case chunk_kind::end:
            reader.staged = 0;
            return hand_out(reader, read_outcome::end);
        case chunk_kind::error:
            error_number = next.error_number;
            return read_outcome::error;
        case chunk_kind::limit:
            return read_outcome::limit;  // the staged bytes wait for the next call
        case chunk_kind::interrupted:
            return read_outcome::interrupted;
        }
    }
}

}  // namespace

input_reader make_reader(const input& in, std::optional<std::uint64_t> limit, bool keep_going,
                         std::shared_ptr<image_hash> hash)
{
    input_reader reader;
    reader.source = &in;
    reader.hash = std::move(hash);
    if ((in.fd >= 0 || in.medium) && (in.kind == input_kind::file || in.kind == input_kind::disk)) {
        reader.request = in.request != 0 ? in.request : medium_request;
        reader.medium =
            start_read_ahead(in, reader.request, limit, keep_going, reader.hash, reader.caveat);
        if (reader.medium) {
            reader.buffer = page_aligned(block_size);
            return reader;
        }
    }
    reader.request = in.request != 0 ? in.request : block_size;
    reader.buffer = page_aligned(reader.request);
    return reader;
}

read_outcome next_block(input_reader& reader, const unsigned char*& block, std::size_t& length,
                        int& error_number)
{
    if (reader.medium)
        return next_medium_block(reader, block, length, error_number);
    // A stream's block is gone with the next one: it is hashed at once.
    read_outcome outcome = next_stream_block(reader, block, length, error_number);
    if (reader.hash && (outcome == read_outcome::block || outcome == read_outcome::end))
        hash_now(*reader.hash, block, length);
    return outcome;
}

void lift_limit(input_reader& reader)
{
    if (reader.medium)
        lift_limit(*reader.medium);
}

read_outcome read_rest(input_reader& reader, int& error_number)
{
    if (!reader.medium) {
        const unsigned char* block = nullptr;
        std::size_t length = 0;
        read_outcome outcome;
        do
            outcome = next_block(reader, block, length, error_number);
        while (outcome == read_outcome::block && caught_interrupt() == 0);
        return outcome == read_outcome::block ? read_outcome::interrupted : outcome;
    }
    // The medium's thread hashes what it hands on: its chunks need only be taken.
    lift_limit(*reader.medium);
    while (caught_interrupt() == 0) {
        const medium_chunk chunk = next_chunk(*reader.medium);
        switch (chunk.kind) {
        case chunk_kind::end:
            return read_outcome::end;
        case chunk_kind::error:
            error_number = chunk.error_number;
            return read_outcome::error;
        case chunk_kind::interrupted:
            return read_outcome::interrupted;
        default:
            continue;
        }
    }
    return read_outcome::interrupted;
}
