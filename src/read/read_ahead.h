// Reading a file or a disk from its medium, ahead of the comparison, on a
// thread of its own, in requests made as access.h says. Without the
// kernel's readahead, reading two media one after the other would wait on
// each in turn; each input's thread keeps requests ready so that the slower
// medium alone sets the pace.
#ifndef TANDEMCHECK_READ_AHEAD_H
#define TANDEMCHECK_READ_AHEAD_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "read/block.h"
#include "read/caveat.h"
#include "read/inputs.h"

// Requests a medium's thread keeps read ahead, the one being handed out included.
constexpr std::size_t requests_ahead = 4;

// The thread and what it shares with the comparison (defined in read_ahead.cpp).
struct read_ahead;

// The thread that hashes the image (see hashing.h).
struct image_hash;

// Stops the thread: at once where it waits; where it is inside a request,
// it is left to end by itself when the request returns, and never waited for.
struct stop_read_ahead {
    void operator()(read_ahead* reading) const;
};

using read_ahead_handle = std::unique_ptr<read_ahead, stop_read_ahead>;

// Starts reading `in` (a file or a disk with a descriptor) from its start
// offset in requests of `request` bytes (a multiple of block_size), none
// reaching past `limit` bytes from the start offset (rounded up to the
// medium's sector), and cuts them into blocks (see cutter.h). A failed
// request ends the reading, or where `in` keeps going (-k) is narrowed
// down (see narrowing.h) and what cannot be read is handed on as holes in
// its blocks, each block with the retries of its bytes. With a `hash`,
// every byte handed on is hashed, in order, before its slot is read into
// again. Says in `caveat` what may
// keep the bytes from coming from the medium alone. Returns nothing when
// the thread cannot be set up.
read_ahead_handle start_read_ahead(const input& in, std::size_t request,
                                   std::optional<std::uint64_t> limit,
                                   std::shared_ptr<image_hash> hash, medium_caveat& caveat);

// Hands out the next block in `block`, as the thread made it, valid until
// the next call, which gives it back for reuse; on error `error_number`
// holds the errno. Waits for the medium; an interrupt caught meanwhile
// gives `interrupted`. At the limit, the bytes up to it come again with
// each call, and the whole block once the limit is lifted.
read_outcome next_block(read_ahead& reading, input_block& block, int& error_number);

// Lets the reading go on past its limit.
void lift_limit(read_ahead& reading);

#endif
