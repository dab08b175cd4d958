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

#include "read/block.h"
#include "read/buffers.h"
#include "read/hashing.h"
#include "read/inputs.h"
#include "read/read_ahead.h"

// Requests to a medium: as large as Linux sends to a device at once by
// default (1280 KiB). Disks and USB sticks are often bound by the number of
// requests they serve, and without the page cache files are too.
constexpr std::size_t medium_request = 40 * block_size;

// One input, read in requests and handed out a block at a time.
struct input_reader {
    const input* source = nullptr;
    std::size_t request = block_size;  // bytes one read asks for; a block after a failed read
    read_ahead_handle medium;          // files and disks: the thread reading the medium
    medium_caveat caveat;              // medium: what may keep its bytes from coming from it alone
    buffer_ptr buffer;                 // stream: `request` bytes, page-aligned
    std::size_t start = 0;             // stream: first byte not yet handed out
    std::size_t end = 0;               // stream: end of the bytes read
    std::uint64_t blocks = 0;          // stream: blocks handed out
    std::shared_ptr<image_hash> hash;  // -s: hashes every byte read, or null
};

// A reader of `in`, whose requests never reach past `limit` bytes from its
// start offset until the limit is lifted. Requests are `in.request` bytes
// (a multiple of block_size), or what suits the input's kind where that is 0.
// Where `in` keeps going (-k), a medium's bytes that cannot be read are
// handed out as holes in their blocks (see read_ahead.h); a stream's
// blocks have none. With a `hash`, every byte of the input is hashed once,
// in order, as it is read.
input_reader make_reader(const input& in, std::optional<std::uint64_t> limit = std::nullopt,
                         std::shared_ptr<image_hash> hash = nullptr);

// Hands out the next block, valid until the next call. A read error is
// met at the same block as reading a block at a time meets it; on error
// `error_number` holds its errno. After `limit`, the same bytes come
// again, and more once the limit is lifted.
read_outcome next_block(input_reader& reader, input_block& block, int& error_number);

// Lets a reader go on past its limit.
void lift_limit(input_reader& reader);

// Reads the rest of the input, past any limit, handing nothing out, so
// that it is hashed to its end: `end`, `error` (with `error_number`) or
// `interrupted`.
read_outcome read_rest(input_reader& reader, int& error_number);

#endif
