// Reading an input block by block, exactly as reading a block at a time
// would: files and disks from their medium in large requests, on a thread
// of their own (see read_ahead.h); pipes, other devices and streams
// without a descriptor through their stream, a block at a time, so that
// nothing that has arrived is held back.
#ifndef TANDEMCHECK_READER_H
#define TANDEMCHECK_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "compare/block.h"
#include "compare/buffers.h"
#include "compare/inputs.h"
#include "compare/read_ahead.h"

// Requests to a medium: as large as Linux sends to a device at once by
// default (1280 KiB). Disks and USB sticks are often bound by the number of
// requests they serve, and without the page cache files are too.
constexpr std::size_t medium_request = 40 * block_size;

// One input, read in requests and handed out a block at a time.
struct input_reader {
    const input* source = nullptr;
    std::size_t request = block_size;  // bytes one read asks for; a block after a failed read
    // A stream's `request` bytes, page-aligned; for a medium, room for a
    // block that spans two requests.
    buffer_ptr buffer;
    std::size_t start = 0;     // stream: first byte not yet handed out
    std::size_t end = 0;       // stream: end of the bytes read
    read_ahead_handle medium;  // files and disks: the thread reading the medium
    medium_caveat caveat;      // medium: what may keep its bytes from coming from it alone
    medium_chunk chunk;        // medium: what is left of the stretch being handed out
    std::size_t staged = 0;    // medium: bytes of the next block gathered in `buffer`
};

// How far `self` needs to be read, from its start offset, for a run against
// `other`: the other's length where it is known and shorter than this
// input's, so that an unreadable area past an image is never touched.
std::optional<std::uint64_t> reading_limit(const input& self, const input& other);

// A reader of `in`, whose requests never reach past `limit` bytes from its
// start offset until the limit is lifted. Requests are `in.request` bytes
// (a multiple of block_size), or what suits the input's kind where that is 0.
input_reader make_reader(const input& in, std::optional<std::uint64_t> limit = std::nullopt);

// What reading a block came to.
enum class read_outcome {
    block,        // a whole block
    end,          // the input ended: fewer bytes than a block, maybe none
    error,        // a read failed
    interrupted,  // a signal ended the run while waiting for the input
    limit,        // the reading limit came first: the bytes up to it, fewer than a block
};

// Hands out the next block: `length` bytes at `block`, valid until the next
// call. A read error is met at the same block as reading a block at a time
// meets it; on error `error_number` holds its errno. After `limit`, the same
// bytes come again, and more once the limit is lifted.
read_outcome next_block(input_reader& reader, const unsigned char*& block, std::size_t& length,
                        int& error_number);

// Lets a reader go on past its limit.
void lift_limit(input_reader& reader);

// One input's part of a pass.
struct block_read {
    const unsigned char* block = nullptr;
    std::size_t length = 0;  // bytes at `block`
    read_outcome outcome = read_outcome::block;
    int error_number = 0;        // with read_outcome::error
    std::uint64_t ended_at = 0;  // with read_outcome::end: where the input ended
};

// Reads the next block of both inputs, `count` bytes from their start
// offsets, as reading both a block at a time would: input 2 is read even
// where input 1 has just ended, and not after input 1 failed. A reader held
// at its limit reads on where the other input outgrew its length; where the
// other ended, it ends where its own length says if that lies within this
// block, and otherwise holds more (read_outcome::limit).
void read_both(input_reader& reader1, input_reader& reader2, std::uint64_t count, block_read& r1,
               block_read& r2);

#endif
